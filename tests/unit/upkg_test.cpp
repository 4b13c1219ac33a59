#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "fixtures.h"
#include "package/checksum.h"
#include "package/file.h"
#include "package/hash_list.h"
#include "package/update_package.h"
#include "tools/upkg/commands.h"
#include "tools/upkg/inspect.h"
#include "tools/upkg/source_files.h"
#include "tools/upkg/temporary_file.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

using Args = std::vector<std::string>;

// Wine shows links as the files they point to, so links are refused only where seen.
#ifdef _WIN32
constexpr bool LinksAreVisible = false;
#else
constexpr bool LinksAreVisible = true;
#endif

class UpkgTest : public ::testing::Test {
protected:
    // A path below the scratch folder with '/' separators, which both systems take.
    std::string At(const std::string& relative) const {
        return (root_.path() / fs::u8path(relative)).generic_u8string();
    }
    Bytes Read(const std::string& relative) const {
        return ReadFile(fs::u8path(At(relative)).u16string());
    }
    void Write(const std::string& relative, const Bytes& bytes) {
        fs::create_directories(fs::u8path(At(relative)).parent_path());
        WriteFile(fs::u8path(At(relative)).u16string(), bytes);
    }
    // Writes a file below the source folder, creating its folders.
    void AddFile(const std::string& relative, const Bytes& bytes) {
        Write("src/" + relative, bytes);
    }

    int Run(std::vector<std::string> arguments) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        int code = RunUpkg(arguments);
        out_ = testing::internal::GetCapturedStdout();
        err_ = testing::internal::GetCapturedStderr();
        return code;
    }

    // Builds src into out.exe, quietly unless told otherwise; `options` may name another
    // stub or output.
    int Build(const std::string& title, Args options = {}) {
        auto given = [&](const char* option) {
            return std::find(options.begin(), options.end(), option) != options.end();
        };
        Args arguments{"build"};
        if (!given("--title")) arguments.insert(arguments.end(), {"--title", title});
        if (!given("--stub")) arguments.insert(arguments.end(), {"--stub", At("stub.exe")});
        if (!given("-o")) arguments.insert(arguments.end(), {"-o", At("out.exe")});
        if (!given("-v")) arguments.push_back("--quiet");
        arguments.insert(arguments.end(), options.begin(), options.end());
        arguments.push_back(At("src"));
        return Run(arguments);
    }

    // A refused build: exit 2, a message naming `what`, and nothing beside the inputs.
    void ExpectRefused(const std::string& what, Args options = {}) {
        EXPECT_EQ(Build("Title", options), ExitUsage) << err_;
        EXPECT_NE(err_.find(what), std::string::npos) << err_;
        for (const std::string& name : Tree(""))
            EXPECT_TRUE(name.rfind("src", 0) == 0 || name == "stub.exe" || name == "base.hvl")
                << name;
    }

    Bytes Output() const { return Read("out.exe"); }
    void StoreOutput(const Bytes& bytes) { Write("out.exe", bytes); }

    // Every name below `relative`, '/' between folders, sorted.
    std::vector<std::string> Tree(const std::string& relative) const {
        std::vector<std::string> names;
        const fs::path top = fs::u8path(At(relative));
        for (const fs::directory_entry& entry : fs::recursive_directory_iterator(top))
            names.push_back(entry.path().lexically_relative(top).generic_u8string());
        std::sort(names.begin(), names.end());
        return names;
    }

    void SetUp() override {
        stub_ = WindowsProgram(200000);
        Write("stub.exe", stub_);
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

// Two builds of the same inputs give the same bytes, and a file named like a temporary
// output is never touched.
TEST_F(UpkgTest, SameInputsGiveTheSameBytes) {
    AddFile("b/z.arc", Pattern(5000, 3));
    AddFile("a.arc", Pattern(7000, 4));
    Write("out.exe.tmp", ToBytes("mine"));
    ASSERT_EQ(Build("T"), ExitOk);
    EXPECT_EQ(out_, "");
    const Bytes first = Output();
    ASSERT_EQ(Build("T", {"-v"}), ExitOk);
    EXPECT_EQ(Output(), first);
    EXPECT_EQ(
        out_,
        "packing a.arc (7000 bytes)\npacking b\\z.arc (5000 bytes)\n2 files, 12000 bytes -> " +
            At("out.exe") + " (" + std::to_string(first.size()) + " bytes)\n");
    EXPECT_EQ(Read("out.exe.tmp"), ToBytes("mine"));
}

// Every refusal exits 2 naming its cause, and writes nothing: no output, no temporary file,
// the stub as it was.
TEST_F(UpkgTest, RefusedBuildsWriteNothing) {
    auto files = [&](std::vector<std::string> names) {
        for (const std::string& name : names) AddFile(name, ToBytes("x"));
    };
    struct Refusal {
        const char* name;
        std::function<Args()> prepare;  // makes the inputs, returns the options
        const char* message;
    };
    const Refusal refusals[] = {
        {"stub past the package offset",
         [&] { return files({"a"}), Write("stub.exe", WindowsProgram(PackageOffset + 1)), Args{}; },
         "at most 327680 fit"},
        {"stub without MZ",
         [&] { return files({"a"}), Write("stub.exe", Pattern(900, 1)), Args{}; },
         "not a Windows program"},
        {"PE signature past the stub's end",
         [&] {
             Bytes stub = WindowsProgram(900);
             std::memcpy(&stub[0x3C], "\x81\x03\0\0", 4);  // 897: its last bytes are cut off
             return files({"a"}), Write("stub.exe", stub), Args{};
         },
         "not a Windows program"},
        {"title of 1024 bytes",
         [&] {
             return files({"a"}), Args{"--title", std::string(1024, 't')};
         },
         "1024 bytes"},
        {"only an empty folder", [&] { return fs::create_directories(At("src/e")), Args{}; },
         "no files"},
        {"names equal apart from case",
         [&] {
             return files({"A/X.arc", "b/x.arc"}), Args{};
         },
         "b\\x.arc"},
        {"the hash list's name", [&] { return files({"sub/ZOL.HVL"}), Args{}; }, "ZOL.HVL"},
        {"another file's temporary name",
         [&] {
             return files({"a", "a.tmp"}), Args{};
         },
         "a"},
        {"the uninstall list", [&] { return files({"Uninst.lst"}), Args{}; }, "Uninst.lst"},
        {"folders without a hash list",
         [&] {
             return files({"Archive/a.arc"}), Args{"--hash-list", "none"};
         },
         "need a hash list"},
        {"-o naming the stub",
         [&] {
             return files({"a"}), Args{"-o", At("src/../stub.exe")};
         },
         "names the stub"},
        {"-o inside the source",
         [&] {
             return files({"a"}), Args{"-o", At("src/o.exe")};
         },
         "inside the source folder"},
        {"a base that is neither",
         [&] {
             return files({"a"}), Args{"--base", At("stub.exe")};
         },
         "neither an update program nor a hash list"},
        {"a base without a hash list",
         [&] {
             return files({"a"}), Args{"--base", At("stub.exe"), "--hash-list", "none"};
         },
         "--base needs a hash list"},
        {"nothing to update",
         [&] {
             files({"A/x.arc"});
             Write("base.hvl",
                   MakeHashList(HashListMagicV1, 0, {{"a\\X.ARC", ChecksumOf(ToBytes("x"))}}));
             return Args{"--base", At("base.hvl")};
         },
         "nothing to update"},
        {"past 4 GiB",
         [&] {
             files({"small.arc", "huge.arc"});
             fs::resize_file(fs::u8path(At("src/huge.arc")), uint64_t{1} << 32);
             return Args{};
         },
         "4 GiB"},
    };
    for (const Refusal& refusal : refusals) {
        SCOPED_TRACE(refusal.name);
        fs::remove_all(fs::u8path(At("src")));
        Write("stub.exe", stub_);
        const Args options = refusal.prepare();
        const Bytes stub = Read("stub.exe");
        ExpectRefused(refusal.message, options);
        EXPECT_EQ(Read("stub.exe"), stub);
    }
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

// The updater takes at most 256 entries, the hash list among them.
TEST_F(UpkgTest, EntryCountLimits) {
    for (int i = 0; i < 255; ++i) AddFile("f" + std::to_string(i), {});
    EXPECT_EQ(Build("T"), ExitOk) << err_;
    AddFile("f255", {});
    EXPECT_EQ(Build("T", {"--hash-list", "none"}), ExitOk) << err_;
    fs::remove(fs::u8path(At("out.exe")));
    ExpectRefused("256 files");
    AddFile("f256", {});
    ExpectRefused("257 files", {"--hash-list", "none"});
}

TEST_F(UpkgTest, CommandLine) {
    AddFile("a.arc", ToBytes("a"));
    struct Case {
        Args arguments;
        int code;
        std::string message;  // in stdout for exit 0, in stderr otherwise
    };
    const std::string out = At("out.exe"), src = At("src");
    auto build = [&](Args more) {
        Args arguments{"build", "--stub=" + At("stub.exe"), "--title=T", "--output=" + out, src};
        arguments.insert(arguments.end() - 1, more.begin(), more.end());
        return arguments;
    };
    const Case cases[] = {
        {{}, ExitUsage, "name a command"},
        {{"frobnicate"}, ExitUsage, "unknown command"},
        {{"build", "--title", "T", "-o", out, src}, ExitUsage, "--stub is required"},
        {{"build", "--stub", At("stub.exe"), "--stub", At("stub.exe")},
         ExitUsage,
         "--stub is given more than once"},
        {{"build", "--title", "--help"}, ExitUsage, "--title needs a value, not --help"},
        {{"build", "--title=-h"}, ExitUsage, "--title needs a value, not -h"},
        {{"build", "--quiet=yes"}, ExitUsage, "--quiet takes no value"},
        {{"verify", "-q", "-v", out}, ExitUsage, "exclude each other"},
        {build({"--format", "zip"}), ExitUsage, "not zip"},
        {build({"--hash-list=v3"}), ExitUsage, "not v3"},
        {{"list", "--bogus", out}, ExitUsage, "unknown option --bogus"},
        {{"extract", out}, ExitUsage, "name PACKAGE.exe and DIR"},
        {{"checksum"}, ExitUsage, "name at least one FILE"},
        {{"build", "--stub", At("none.exe"), "--title", "T", "-o", out, src},
         ExitDamaged,
         "none.exe"},
        {{"verify", At("none.exe")}, ExitDamaged, "none.exe"},
        {build({}), ExitOk, "1 files, 1 bytes -> " + out},
        {{"--version"}, ExitOk, "upkg "},
        {{"-h"}, ExitOk, "check     check an installed game"},
        {{"build", "--title", "T", "-h"}, ExitOk, "at most 256 entries"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.empty() ? "" : c.arguments[0] + " " + c.message);
        EXPECT_EQ(Run(c.arguments), c.code) << err_;
        EXPECT_NE((c.code == ExitOk ? out_ : err_).find(c.message), std::string::npos)
            << out_ << err_;
    }
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

// Packages written by hand, as another tool might: verify judges each as the updater
// would, and extract writes nothing from a damaged one.
TEST_F(UpkgTest, VerifyJudgesEntriesAndRecords) {
    const Bytes data = ToBytes("abc");
    const uint64_t sum = ChecksumOf(data);
    struct Case {
        const char* name;
        Bytes list;
        std::vector<FixtureEntry> files;
        int code;
        const char* statuses;  // of the entries, the hash list first
    };
    const Case cases[] = {
        {"recorded",
         MakeHashList(HashListMagicV2, 0, {{"Game\\data.arc", sum}}),
         {{"data.arc", data}},
         ExitOk,
         "ok ok"},
        {"without a record",
         MakeHashList(HashListMagicV2, 0, {{"Game\\data.arc", sum}}),
         {{"data.arc", data}, {"free.txt", data}},
         ExitOk,
         "ok ok unrecorded"},
        {"record without an entry",
         MakeHashList(HashListMagicV2, 0, {{"Game\\data.arc", sum}, {"gone.arc", sum}}),
         {{"data.arc", data}},
         ExitDamaged,
         "ok ok"},
        {"flipped byte in a record",
         MakeHashList(HashListMagicV1, 0, {{"Game\\dbta.arc", sum}}),
         {{"data.arc", data}},
         ExitDamaged,
         "ok unrecorded"},
        {"checksum differs",
         MakeHashList(HashListMagicV2, 0, {{"data.arc", sum + 1}}),
         {{"data.arc", data}},
         ExitDamaged,
         "ok damaged"},
        {"path leaves the folder",
         MakeHashList(HashListMagicV2, 0, {{"..\\data.arc", sum}}),
         {{"data.arc", data}},
         ExitDamaged,
         "ok damaged"},
        {"unreadable hash list",
         MakeHashList("ZHV_V9__", 0, {{"sub\\data.arc", sum}}),
         {{"data.arc", data}},
         ExitDamaged,
         "damaged unrecorded"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<FixtureEntry> entries{{"zol.HVL", c.list}};
        entries.insert(entries.end(), c.files.begin(), c.files.end());
        StoreOutput(MakeProgramFile("Hand", MakeArchive(FixtureFormat::PackFile, entries)));
        EXPECT_EQ(Run({"verify", "--json", At("out.exe")}), c.code) << out_;
        std::string statuses;
        for (size_t at = 0; (at = out_.find("\"status\": \"", at)) != std::string::npos;) {
            at += 11;
            statuses += (statuses.empty() ? "" : " ") + out_.substr(at, out_.find('"', at) - at);
        }
        EXPECT_EQ(statuses, c.statuses) << out_;
        EXPECT_EQ(Run({"extract", "-q", At("out.exe"), At("x")}), c.code) << err_;
        EXPECT_EQ(fs::exists(fs::u8path(At("x"))), c.code == ExitOk);
        fs::remove_all(fs::u8path(At("x")));
    }

    // list shows where the updater puts each entry and what it must fold to.
    const Bytes& list = cases[1].list;
    StoreOutput(MakeProgramFile(
        "Hand \x83\x41",
        MakeArchive(FixtureFormat::PackFile,
                    {{"zol.HVL", list}, {"data.arc", data}, {"free.txt", ToBytes("f")}})));
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
            ", \"size\": 3, \"path\": \"Game\\\\data.arc\", \"checksum\": \"06b4500012cc2660\"},\n"
            "  {\"name\": \"free.txt\", \"offset\": " +
            std::to_string(dataArea + list.size() + 3) +
            ", \"size\": 1, \"path\": \"free.txt\", \"checksum\": null}\n]}\n");
}

// extract refuses before writing anything, and replaces only what it was told to.
TEST_F(UpkgTest, ExtractRefusesWhatItWasNotToldToReplace) {
    AddFile("Archive/a.arc", ToBytes("new-a"));
    AddFile("b.txt", ToBytes("new-b"));
    ASSERT_EQ(Build("T"), ExitOk) << err_;
    struct Case {
        const char* name;
        std::function<void()> prepare;
        Args options;
        int code;
    };
    const Case cases[] = {
        {"into a new folder", [] {}, {}, ExitOk},
        {"a file exists", [&] { Write("x/b.txt", ToBytes("mine")); }, {}, ExitUsage},
        {"a file exists, --overwrite",
         [&] { Write("x/b.txt", ToBytes("mine")); },
         {"--overwrite"},
         ExitOk},
        {"a file where a folder goes",
         [&] { Write("x/Archive", ToBytes("mine")); },
         {"--overwrite"},
         ExitUsage},
        {"a link at the target",
         [&] {
             Write("victim", ToBytes("mine")), fs::create_directories(fs::u8path(At("x"))),
                 fs::create_symlink(fs::u8path(At("victim")), fs::u8path(At("x/b.txt")));
         },
         {"--overwrite"},
         ExitUsage},
        {"a link at a folder",
         [&] {
             fs::create_directories(fs::u8path(At("elsewhere"))),
                 fs::create_directories(fs::u8path(At("x"))),
                 fs::create_directory_symlink(fs::u8path(At("elsewhere")),
                                              fs::u8path(At("x/Archive")));
         },
         {"--overwrite"},
         ExitUsage},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (!LinksAreVisible && std::strstr(c.name, "link")) continue;
        fs::remove_all(fs::u8path(At("x")));
        c.prepare();
        const std::vector<std::string> before = Tree("");
        Args arguments{"extract", "-v", At("out.exe"), At("x")};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        EXPECT_EQ(Run(arguments), c.code) << err_;
        if (c.code != ExitOk) {
            EXPECT_EQ(Tree(""), before);
            if (fs::exists(fs::u8path(At("victim")))) {
                EXPECT_EQ(Read("victim"), ToBytes("mine"));
            }
            continue;
        }
        EXPECT_EQ(out_, "Archive\\a.arc\nb.txt\n2 files extracted to " + At("x") + "\n");
        EXPECT_EQ(Tree("x"), (std::vector<std::string>{"Archive", "Archive/a.arc", "b.txt"}));
        EXPECT_EQ(Read("x/b.txt"), ToBytes("new-b"));
    }
}

TEST_F(UpkgTest, ExcludeAndBaseChooseTheFiles) {
    AddFile("Archive/a.arc", ToBytes("a"));
    AddFile("Archive/trace.log", ToBytes("l"));
    AddFile("Saves/s.sav", ToBytes("s"));
    AddFile("b.txt", ToBytes("b"));
    fs::create_directories(fs::u8path(At("src/Empty")));
    ASSERT_EQ(Build("T", {"-v", "--exclude", "Saves", "--exclude=*.log", "-o", At("old.exe")}),
              ExitOk)
        << err_;
    for (const char* line :
         {"left out Saves/ (--exclude Saves)\n", "left out Archive/trace.log (--exclude *.log)\n",
          "left out empty folder Empty/ (an update holds only files)\n", "2 files, 2 bytes"})
        EXPECT_NE(out_.find(line), std::string::npos) << out_;

    // The earlier release, as a program or as the list an installation keeps.
    AddFile("b.txt", ToBytes("B"));
    AddFile("Archive/n.arc", ToBytes("n"));
    Write("zol.hvl",
          MakeHashList(HashListMagicV2, 0, {{"ARCHIVE\\A.arc", ChecksumOf(ToBytes("a"))}}));
    for (const std::string& base : {At("old.exe"), At("zol.hvl")}) {
        SCOPED_TRACE(base);
        ASSERT_EQ(Build("T", {"--base", base, "--exclude", "*.log", "--exclude", "Saves"}), ExitOk)
            << err_;
        ASSERT_EQ(Run({"list", "-q", At("out.exe")}), ExitOk);
        EXPECT_EQ(out_.find("a.arc"), std::string::npos) << out_;
        EXPECT_NE(out_.find("n.arc -> Archive\\n.arc"), std::string::npos) << out_;
        EXPECT_NE(out_.find("b.txt -> b.txt"), std::string::npos) << out_;
    }
}

TEST_F(UpkgTest, GlobsMatchAsTarExclusionsDo) {
    const struct {
        const char* pattern;
        const char* text;
        bool matches;
    } cases[] = {
        {"*.log", "a.log", true}, {"*.log", "a.log.txt", false}, {"*.arc", "A/b/c.arc", true},
        {"a?c", "abc", true},     {"a?c", "ac", false},          {"?", "\xE3\x82\xA2", true},
        {"[a-c]x", "bx", true},   {"[!a-c]x", "bx", false},      {"[]]", "]", true},
        {"[", "[", true},         {"a*b*c", "axxbyyc", true},    {"a*b*c", "axxbyy", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GlobMatches(c.pattern, c.text), c.matches) << c.pattern << " " << c.text;
}

TEST_F(UpkgTest, CheckComparesAnInstallationWithItsList) {
    Write("game/Archive/data.arc", ToBytes("data"));
    Write("game/readme.txt", ToBytes("changed"));
    const uint64_t data = ChecksumOf(ToBytes("data")), readme = ChecksumOf(ToBytes("readme"));
    Write("game/zol.hvl",
          MakeHashList(HashListMagicV2, 0,
                       {{"ARCHIVE\\Data.arc", data}, {"readme.txt", readme}, {"gone.bin", data}}));
    EXPECT_EQ(Run({"check", At("game")}), ExitDamaged);
    EXPECT_EQ(out_, "DAMAGED readme.txt: checksum " + ChecksumHex(ChecksumOf(ToBytes("changed"))) +
                        ", expected " + ChecksumHex(readme) +
                        "\nMISSING gone.bin\n3 files: 1 ok, 1 damaged, 1 missing; DAMAGED\n");
    EXPECT_EQ(Run({"check", "--json", At("game")}), ExitDamaged);
    EXPECT_EQ(out_, "{\"folder\": \"" + At("game") +
                        "\", \"list\": \"v2\", \"files\": [\n"
                        "  {\"path\": \"ARCHIVE\\\\Data.arc\", \"status\": \"ok\"},\n"
                        "  {\"path\": \"readme.txt\", \"status\": \"damaged\"},\n"
                        "  {\"path\": \"gone.bin\", \"status\": \"missing\"}\n]}\n");
    Write("game/zol.hvl", MakeHashList(HashListMagicV1, 0, {{"archive/data.ARC", data}}));
    EXPECT_EQ(Run({"check", "-q", At("game")}), ExitOk) << out_;
    EXPECT_EQ(out_, "");
    Write("game/zol.hvl", ToBytes("ZHV_V2__"));
    EXPECT_EQ(Run({"check", At("game")}), ExitDamaged);
    EXPECT_NE(err_.find("zol.hvl"), std::string::npos);
}

TEST_F(UpkgTest, ChecksumPrintsAndChecksLikeSha256sum) {
    Write("abc", ToBytes("abc"));
    Write("empty", {});
    EXPECT_EQ(Run({"checksum", At("abc"), At("empty")}), ExitOk);
    EXPECT_EQ(out_, "06b4500012cc2660  " + At("abc") + "\n0000000000000000  " + At("empty") + "\n");
    Write("sums", ToBytes(out_ + "garbage\r\n0000000000000000 *" + At("missing") + "\n"));
    Write("abc", ToBytes("abd"));
    EXPECT_EQ(Run({"checksum", "-c", At("sums")}), ExitDamaged);
    EXPECT_EQ(out_, At("abc") + ": FAILED\n" + At("empty") + ": OK\n" + At("missing") +
                        ": FAILED open or read\n");
    EXPECT_NE(err_.find("1 lines are improperly formatted"), std::string::npos) << err_;
    Write("sums", ToBytes("0000000000000000  " + At("empty") + "\n"));
    EXPECT_EQ(Run({"checksum", "--check", "--quiet", At("sums")}), ExitOk);
    EXPECT_EQ(out_, "");
#ifndef _WIN32
    // Windows allows no line break in a name.
    Write("two\nlines", ToBytes("abc"));
    EXPECT_EQ(Run({"checksum", At("two\nlines")}), ExitOk);
    EXPECT_EQ(out_, "\\06b4500012cc2660  " + At("two\\nlines") + "\n");
    Write("sums", ToBytes(out_));
    EXPECT_EQ(Run({"checksum", "-c", At("sums")}), ExitOk) << err_;
    EXPECT_EQ(out_, "\\" + At("two\\nlines") + ": OK\n");
#endif
}

#ifndef _WIN32
// Whatever the build or extract was doing, an interruption takes its temporary file away.
TEST_F(UpkgTest, InterruptRemovesTheTemporaryFile) {
    for (int signal : {SIGINT, SIGTERM}) {
        const pid_t child = fork();
        if (child == 0) {
            ::signal(signal, SIG_DFL);
            TemporaryFile file(fs::u8path(At("out.exe")));
            std::string error;
            if (file.Create(error)) raise(signal);
            _exit(3);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
        EXPECT_EQ(Tree(""), (std::vector<std::string>{"stub.exe"}));
    }
}
#endif

}  // namespace
