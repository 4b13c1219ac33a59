#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "fixtures.h"
#include "package/checksum.h"
#include "package/file.h"
#include "package/hash_list.h"
#include "package/update_package.h"
#include "tools/upkg/commands.h"

namespace fs = std::filesystem;

namespace {

class UpkgTest : public ::testing::Test {
protected:
    std::string At(const std::string& relative) const {
        return (root_.path() / fs::u8path(relative)).u8string();
    }

    // Writes a file below the source folder, creating its folders.
    void AddFile(const std::string& relative, const Bytes& bytes) {
        fs::path path = root_.path() / "src" / fs::u8path(relative);
        fs::create_directories(path.parent_path());
        WriteFile(path.u16string(), bytes);
    }

    int Run(std::vector<std::string> arguments) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        int code = RunUpkg(arguments);
        out_ = testing::internal::GetCapturedStdout();
        err_ = testing::internal::GetCapturedStderr();
        return code;
    }

    int Build(const std::string& title, std::vector<std::string> options = {}) {
        std::vector<std::string> arguments{"build", "--stub", At("stub.exe"), "--title",
                                           title,   "-o",     At("out.exe"),  "--quiet"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        arguments.push_back(At("src"));
        return Run(arguments);
    }

    // A refused build: exit 2, a message naming `what`, and no output at all.
    void ExpectRefused(const std::string& what, std::vector<std::string> options = {},
                       const std::string& title = "Title") {
        EXPECT_EQ(Build(title, options), ExitUsage) << err_;
        EXPECT_NE(err_.find(what), std::string::npos) << err_;
        EXPECT_FALSE(fs::exists(fs::u8path(At("out.exe"))));
        EXPECT_FALSE(fs::exists(fs::u8path(At("out.exe.tmp"))));
    }

    Bytes Output() const { return ReadFile(fs::u8path(At("out.exe")).u16string()); }
    void StoreOutput(const Bytes& bytes) {
        WriteFile(fs::u8path(At("out.exe")).u16string(), bytes);
    }

    void SetUp() override {
        stub_ = Pattern(200000, 7);
        WriteFile(fs::u8path(At("stub.exe")).u16string(), stub_);
    }

    ScratchFolder root_;
    Bytes stub_;
    std::string out_, err_;
};

struct Shape {
    const char* format;
    const char* hashList;
};

// What build writes, the updater's own readers read back exactly.
TEST_F(UpkgTest, BuiltPackagesReadBackThroughTheCoreReaders) {
    const Shape shapes[] = {
        {"arc20", "v2"}, {"arc20", "v1"}, {"packfile", "v2"}, {"packfile", "none"}};
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(std::string(shape.format) + " " + shape.hashList);
        fs::remove_all(root_.path() / "src");
        const bool hashList = std::strcmp(shape.hashList, "none") != 0;
        std::vector<std::pair<std::string, Bytes>> files = {
            {hashList ? "Archive/data01000.arc" : "data01000.arc", Pattern(1500000, 1)},
            {hashList ? "Archive/データ.arc" : "データ.arc", Pattern(10, 2)},
            {"empty.bin", {}},
            {"readme.txt", ToBytes("hello")},
        };
        for (const auto& [name, bytes] : files) AddFile(name, bytes);
        // Index order is the order of the relative paths' bytes.
        std::sort(files.begin(), files.end());
        ASSERT_EQ(Build("「Lumenfall」 Updater ver 1.02",
                        {"--format", shape.format, "--hash-list", shape.hashList}),
                  ExitOk)
            << err_;

        const Bytes program = Output();
        EXPECT_TRUE(std::equal(stub_.begin(), stub_.end(), program.begin()));
        EXPECT_TRUE(std::all_of(program.begin() + stub_.size(), program.begin() + PackageOffset,
                                [](uint8_t b) { return b == 0; }));
        // The title is stored in code page 932: 「 is 81 75.
        EXPECT_EQ(program[PackageOffset], 0x81);
        EXPECT_EQ(program[PackageOffset + 1], 0x75);
        char16_t title[TitleCapacity];
        const std::u16string path = fs::u8path(At("out.exe")).u16string();
        ASSERT_TRUE(ReadPackageTitle(path.c_str(), title));
        EXPECT_EQ(std::u16string(title), u"「Lumenfall」 Updater ver 1.02");

        CFileDX file;
        ASSERT_TRUE(file.OpenForRead(path.c_str()));
        ASSERT_TRUE(file.Seek(ArchiveOffset));
        ArchiveHeader header;
        std::vector<ArchiveEntry> entries;
        ASSERT_TRUE(ReadArchiveIndex(header, entries, file));
        const size_t first = hashList ? 1 : 0;
        ASSERT_EQ(entries.size(), files.size() + first);
        const uint64_t entrySize = std::strcmp(shape.format, "arc20") == 0 ? 128 : 32;
        uint64_t offset = 16 + entrySize * entries.size();
        for (size_t i = 0; i < entries.size(); ++i) {
            EXPECT_EQ(entries[i].offset, offset);
            offset += entries[i].size;
        }
        EXPECT_EQ(ArchiveOffset + offset, program.size());
        for (size_t i = 0; i < files.size(); ++i) {
            const ArchiveEntry& entry = entries[first + i];
            EXPECT_EQ(entry.name, fs::u8path(files[i].first).filename().u8string());
            EXPECT_EQ(Bytes(program.begin() + ArchiveOffset + entry.offset,
                            program.begin() + ArchiveOffset + entry.offset + entry.size),
                      files[i].second);
        }
        if (!hashList) continue;

        EXPECT_EQ(entries[0].name, "ZOL.hvl");
        ASSERT_TRUE(file.Seek(ArchiveOffset + entries[0].offset));
        HashListHeader listHeader;
        std::vector<HashListEntry> list;
        ASSERT_TRUE(ReadHashList(listHeader, list, file));
        const bool v1 = std::strcmp(shape.hashList, "v1") == 0;
        EXPECT_EQ(std::memcmp(listHeader.magic, v1 ? HashListMagicV1 : HashListMagicV2, 8), 0);
        EXPECT_EQ(listHeader.reserved, 0u);
        EXPECT_EQ(entries[0].size, 16 + (v1 ? 64 : 256) * files.size());
        ASSERT_EQ(list.size(), files.size());
        for (size_t i = 0; i < files.size(); ++i) {
            std::string expected = files[i].first;
            std::replace(expected.begin(), expected.end(), '/', '\\');
            EXPECT_EQ(list[i].path, expected);
            EXPECT_EQ(list[i].value, ChecksumOf(files[i].second));
        }
    }
}

TEST_F(UpkgTest, TitleOutsideCodePage932IsStoredInUtf8) {
    AddFile("a.arc", ToBytes("a"));
    ASSERT_EQ(Build("Škoda ✓"), ExitOk) << err_;
    const Bytes program = Output();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&program[PackageOffset])), "Škoda ✓");
    char16_t title[TitleCapacity];
    ASSERT_TRUE(ReadPackageTitle(fs::u8path(At("out.exe")).u16string().c_str(), title));
    EXPECT_EQ(std::u16string(title), u"Škoda ✓");
}

TEST_F(UpkgTest, SameInputsGiveTheSameBytes) {
    AddFile("b/z.arc", Pattern(5000, 3));
    AddFile("a.arc", Pattern(7000, 4));
    ASSERT_EQ(Build("T"), ExitOk);
    const Bytes first = Output();
    ASSERT_EQ(Build("T"), ExitOk);
    EXPECT_EQ(Output(), first);
}

TEST_F(UpkgTest, RefusesStubAndTitleThatDoNotFit) {
    AddFile("a.arc", ToBytes("a"));
    WriteFile(fs::u8path(At("big-stub.exe")).u16string(), Bytes(PackageOffset + 1));
    EXPECT_EQ(Run({"build", "--stub", At("big-stub.exe"), "--title", "T", "-o", At("out.exe"),
                   At("src")}),
              ExitUsage);
    EXPECT_NE(err_.find("big-stub.exe"), std::string::npos) << err_;
    EXPECT_FALSE(fs::exists(fs::u8path(At("out.exe"))));

    ExpectRefused("1024 bytes", {}, std::string(1024, 't'));
    ASSERT_EQ(Build(std::string(1023, 't')), ExitOk);
}

TEST_F(UpkgTest, RefusesFileSetsTheUpdaterCannotInstall) {
    fs::create_directories(root_.path() / "src" / "empty-folder");
    ExpectRefused("no files");

    AddFile("A/X.arc", ToBytes("1"));
    AddFile("b/x.arc", ToBytes("2"));
    ExpectRefused("b\\x.arc");
    fs::remove_all(root_.path() / "src");

    AddFile("sub/ZOL.HVL", ToBytes("1"));
    ExpectRefused("ZOL.HVL");
    fs::remove_all(root_.path() / "src");

    AddFile("Archive/a.arc", ToBytes("1"));
    ExpectRefused("need a hash list", {"--hash-list", "none"});
    fs::remove_all(root_.path() / "src");

    // The updater installs at most 256 entries, the hash list among them.
    for (int i = 0; i < 256; ++i) AddFile("f" + std::to_string(i), {});
    ExpectRefused("256 files");
    EXPECT_EQ(Build("T", {"--hash-list", "none"}), ExitOk) << err_;
    fs::remove(fs::u8path(At("out.exe")));
    AddFile("f256", {});
    ExpectRefused("257 files", {"--hash-list", "none"});
    fs::remove(root_.path() / "src" / "f256");
    fs::remove(root_.path() / "src" / "f255");
    EXPECT_EQ(Build("T"), ExitOk) << err_;
}

TEST_F(UpkgTest, RefusesNamesAndPathsThatDoNotFitOrCannotBeWritten) {
    struct Case {
        std::string file;
        std::vector<std::string> options;
        bool fits;
    };
    // 242 bytes in code page 932 but 122 UTF-16 units, within Windows' classic path limit.
    std::string kana;
    for (int i = 0; i < 60; ++i) kana += "\xE3\x82\xA2";
    const std::string deep = kana + "/" + kana + "/";
    const Case cases[] = {
        {std::string(95, 'n'), {}, true},
        {std::string(96, 'n'), {}, false},
        {std::string(15, 'p'), {"--format", "packfile"}, true},
        {std::string(16, 'p'), {"--format", "packfile"}, false},
        {"\xE3\x82\xA2" + std::string(14, 'p'), {"--format", "packfile"}, false},  // 16 in 932
        {deep + std::string(5, 'f'), {}, true},   // 247 bytes of path
        {deep + std::string(6, 'f'), {}, false},  // 248
        {std::string(25, 'd') + "/" + std::string(29, 'f'), {"--hash-list", "v1"}, true},
        {std::string(25, 'd') + "/" + std::string(30, 'f'), {"--hash-list", "v1"}, false},
        {"\xC5\xA0koda.arc", {}, false},    // Š is not in code page 932
        {"\xE2\x9C\x93/a.arc", {}, false},  // neither is ✓, in a folder name
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        fs::remove_all(root_.path() / "src");
        fs::remove(fs::u8path(At("out.exe")));
        AddFile(c.file, ToBytes("x"));
        if (c.fits) {
            EXPECT_EQ(Build("T", c.options), ExitOk) << err_;
        } else {
            std::string last = c.file.substr(c.file.rfind('/') + 1);
            ExpectRefused(c.file.find("\xE2") == 0 ? "code page 932" : last, c.options);
        }
    }
}

// Names Windows does not allow, and things that are not files, can only be made on Linux.
TEST_F(UpkgTest, RefusesWhatWindowsCannotHold) {
    AddFile("good.arc", ToBytes("x"));
    size_t made = 0;
    for (const char* name : {"a?b.arc", "a:b.arc", "tab\tname", "trailing.", "CON.txt"}) {
        SCOPED_TRACE(name);
        std::error_code ec;
        const fs::path folder = root_.path() / "src";
        std::ofstream(folder / name).close();
        // Windows drops a trailing dot, and may refuse the rest or open a device instead.
        bool exact = false;
        for (const fs::directory_entry& entry : fs::directory_iterator(folder))
            if (entry.path().filename() == name) exact = true;
        if (exact) {
            ++made;
            ExpectRefused("not a name Windows allows");
        }
        for (const fs::directory_entry& entry : fs::directory_iterator(folder))
            if (entry.path().filename() != "good.arc") fs::remove(entry.path(), ec);
    }
    std::error_code ec;
    fs::create_symlink(root_.path() / "src" / "good.arc", root_.path() / "src" / "link.arc", ec);
    if (!ec) {
        ++made;
        ExpectRefused("link.arc");
    }
    if (made == 0) GTEST_SKIP() << "this file system holds no such names";
}

TEST_F(UpkgTest, RefusesAPackagePastFourGigabytes) {
    AddFile("small.arc", ToBytes("x"));
    AddFile("huge.arc", {});
    std::error_code ec;
    fs::resize_file(root_.path() / "src" / "huge.arc", (uint64_t{1} << 32), ec);
    ASSERT_FALSE(ec) << ec.message();
    ExpectRefused("4 GiB");
}

TEST_F(UpkgTest, UsageErrorsExitWithTwo) {
    EXPECT_EQ(Run({}), ExitUsage);
    EXPECT_EQ(Run({"frobnicate"}), ExitUsage);
    EXPECT_EQ(Run({"build", "--title", "T", "-o", At("out.exe"), At("src")}), ExitUsage);
    EXPECT_NE(err_.find("--stub"), std::string::npos);
    EXPECT_EQ(Build("T", {"--format", "zip"}), ExitUsage);
    EXPECT_EQ(Build("T", {"--hash-list", "v3"}), ExitUsage);
    EXPECT_EQ(Run({"list", "--bogus", At("out.exe")}), ExitUsage);
    EXPECT_EQ(Run({"extract", At("out.exe")}), ExitUsage);
    EXPECT_EQ(Run({"checksum"}), ExitUsage);
    EXPECT_EQ(Run({"--help"}), ExitOk);
    EXPECT_NE(out_.find("build"), std::string::npos);
    EXPECT_EQ(Run({"verify", "--help"}), ExitOk);
    EXPECT_NE(out_.find("upkg verify"), std::string::npos);
}

TEST_F(UpkgTest, VerifyCatchesEveryFlippedByteAndACutPackage) {
    AddFile("Archive/one.arc", Pattern(3000, 5));
    AddFile("Archive/two.arc", Pattern(2000, 6));
    AddFile("three.arc", Pattern(10, 7));
    ASSERT_EQ(Build("T"), ExitOk);
    const Bytes good = Output();
    ASSERT_EQ(Run({"verify", At("out.exe")}), ExitOk) << out_;

    CFileDX file;
    ArchiveHeader header;
    std::vector<ArchiveEntry> entries;
    ASSERT_TRUE(file.OpenForRead(fs::u8path(At("out.exe")).u16string().c_str()));
    ASSERT_TRUE(file.Seek(ArchiveOffset));
    ASSERT_TRUE(ReadArchiveIndex(header, entries, file));
    file.Close();

    // The middle of each file's data; in the hash list, a checksum byte and a path byte.
    std::vector<uint64_t> places{entries[0].offset + 16 + 248, entries[0].offset + 16 + 256 + 8};
    for (size_t i = 1; i < entries.size(); ++i)
        places.push_back(entries[i].offset + entries[i].size / 2);
    for (uint64_t place : places) {
        SCOPED_TRACE(place);
        Bytes damaged = good;
        damaged[ArchiveOffset + place] ^= 0x10;
        StoreOutput(damaged);
        EXPECT_EQ(Run({"verify", At("out.exe")}), ExitDamaged) << out_;
        EXPECT_NE(out_.find("FAILED"), std::string::npos);
    }

    StoreOutput(Bytes(good.begin(), good.end() - 1));
    EXPECT_EQ(Run({"verify", At("out.exe")}), ExitDamaged);
    EXPECT_NE(out_.find("FAILED three.arc: its data is cut short"), std::string::npos) << out_;

    StoreOutput(Bytes(good.begin(), good.begin() + ArchiveOffset + 20));
    EXPECT_EQ(Run({"verify", At("out.exe")}), ExitDamaged);
    EXPECT_NE(err_.find("index"), std::string::npos) << err_;
}

// A package written by hand, as another tool might: list and verify read it as the
// updater would, and extract refuses a path that leaves its folder.
TEST_F(UpkgTest, ReadsHandMadePackagesAndRefusesEscapingPaths) {
    const Bytes data = ToBytes("abc");
    const Bytes list = MakeHashList(HashListMagicV2, 0,
                                    {{"Game\\Data.arc", ChecksumOf(data)}, {"..\\evil.dll", 1}});
    const Bytes archive =
        MakeArchive(FixtureFormat::PackFile,
                    {{"zol.HVL", list}, {"data.arc", data}, {"free.txt", ToBytes("f")}});
    StoreOutput(MakeProgramFile("Hand \x83\x41", archive));

    ASSERT_EQ(Run({"list", "--json", At("out.exe")}), ExitOk) << err_;
    const uint64_t dataArea = 16 + 3 * 32;
    EXPECT_EQ(
        out_,
        "{\"title\": \"Hand \xE3\x82\xA2\", \"format\": \"PackFile\", \"entries\": [\n"
        "  {\"name\": \"zol.HVL\", \"offset\": " +
            std::to_string(dataArea) + ", \"size\": " + std::to_string(list.size()) +
            ", \"path\": \"zol.HVL\", \"checksum\": null},\n"
            "  {\"name\": \"data.arc\", \"offset\": " +
            std::to_string(dataArea + list.size()) +
            ", \"size\": 3, \"path\": \"Game\\\\Data.arc\", \"checksum\": \"06b4500012cc2660\"},\n"
            "  {\"name\": \"free.txt\", \"offset\": " +
            std::to_string(dataArea + list.size() + 3) +
            ", \"size\": 1, \"path\": \"free.txt\", \"checksum\": null}\n"
            "]}\n");

    ASSERT_EQ(Run({"extract", At("out.exe"), At("x")}), ExitOk) << err_;
    EXPECT_EQ(ReadFile(fs::u8path(At("x/Game/Data.arc")).u16string()), data);
    EXPECT_EQ(ReadFile(fs::u8path(At("x/free.txt")).u16string()), ToBytes("f"));
    EXPECT_FALSE(fs::exists(fs::u8path(At("x/zol.HVL"))));

    const Bytes escaping =
        MakeArchive(FixtureFormat::Arc20, {{"ZOL.hvl", list}, {"evil.dll", ToBytes("e")}});
    StoreOutput(MakeProgramFile("Hand", escaping));
    EXPECT_EQ(Run({"extract", At("out.exe"), At("y")}), ExitDamaged);
    EXPECT_NE(err_.find("outside"), std::string::npos) << err_;
    EXPECT_FALSE(fs::exists(fs::u8path(At("y"))));
    EXPECT_FALSE(fs::exists(fs::u8path(At("evil.dll"))));
}

TEST_F(UpkgTest, ChecksumPrintsEachFileLikeSha256sum) {
    WriteFile(fs::u8path(At("abc")).u16string(), ToBytes("abc"));
    WriteFile(fs::u8path(At("empty")).u16string(), {});
    EXPECT_EQ(Run({"checksum", At("abc"), At("empty")}), ExitOk);
    EXPECT_EQ(out_, "06b4500012cc2660  " + At("abc") + "\n0000000000000000  " + At("empty") + "\n");
    EXPECT_EQ(Run({"checksum", At("missing"), At("abc")}), ExitDamaged);
    EXPECT_EQ(out_, "06b4500012cc2660  " + At("abc") + "\n");
    EXPECT_NE(err_.find("missing"), std::string::npos);
}

}  // namespace
