#include "package/update_package.h"

#include <gtest/gtest.h>

#include <cstring>

#include "fixtures.h"
#include "package/file.h"

namespace {

// "「Lumenfall」 Updater ver 1.02" in code page 932 and in UTF-8.
const std::string ShippedTitle932 = "\x81\x75Lumenfall\x81\x76 Updater ver 1.02";
const std::string ShippedTitleUtf8 = "\xE3\x80\x8CLumenfall\xE3\x80\x8D Updater ver 1.02";
const std::u16string ShippedTitle = u"「Lumenfall」 Updater ver 1.02";

class TitleTest : public ::testing::Test {
protected:
    // Reads the title of `program`, starting from a buffer filled with a marker.
    bool Read(const Bytes& program) {
        WriteFile(folder_.File("program.exe"), program);
        std::fill(std::begin(title_), std::end(title_), u'#');
        return ReadPackageTitle(folder_.File("program.exe").c_str(), title_);
    }
    bool Untouched() const {
        return std::all_of(std::begin(title_), std::end(title_),
                           [](char16_t c) { return c == u'#'; });
    }

    ScratchFolder folder_;
    char16_t title_[TitleCapacity];
};

TEST_F(TitleTest, ReadsTitlesInEitherEncodingAndRefusesShortOrUnterminatedHeaders) {
    const std::pair<std::string, std::u16string> titles[] = {
        {ShippedTitle932, ShippedTitle},
        {ShippedTitleUtf8, ShippedTitle},
        {"", u""},
        {std::string(PackageHeaderSize - 1, 'T'), std::u16string(PackageHeaderSize - 1, u'T')}};
    for (const auto& [stored, expected] : titles) {
        ASSERT_TRUE(Read(MakeProgramFile(stored, {})));
        EXPECT_EQ(std::u16string(title_), expected);
    }
    const Bytes full = MakeProgramFile("Title", {});
    EXPECT_FALSE(Read(Bytes(full.begin(), full.begin() + PackageOffset)));
    EXPECT_FALSE(Read(Bytes(full.begin(), full.begin() + ArchiveOffset - 1)));
    EXPECT_FALSE(Read(MakeProgramFile(std::string(PackageHeaderSize, 'T'), {})));
    EXPECT_TRUE(Untouched());
    EXPECT_FALSE(ReadPackageTitle(folder_.File("missing.exe").c_str(), title_));
    EXPECT_TRUE(Untouched());
}

class ArchiveIndexTest : public ::testing::Test {
protected:
    // Reads the index of an archive stored behind a program image, as the installer does.
    bool Read(const Bytes& archive) {
        WriteFile(folder_.File("program.exe"), MakeProgramFile("Title", archive));
        CFileDX file;
        EXPECT_TRUE(file.OpenForRead(folder_.File("program.exe").c_str()));
        EXPECT_TRUE(file.Seek(ArchiveOffset));
        bool ok = ReadArchiveIndex(header_, entries_, file);
        uint64_t position = 0;
        EXPECT_TRUE(file.GetPosition(&position));
        position_ = position - ArchiveOffset;
        return ok;
    }
    void ExpectUntouched() {
        EXPECT_EQ(std::memcmp(header_.magic, "untouched!!!", 12), 0);
        ASSERT_EQ(entries_.size(), 1u);
        EXPECT_EQ(entries_[0].name, "sentinel");
    }
    void SetUp() override {
        std::memcpy(header_.magic, "untouched!!!", 12);
        header_.count = 77;
        entries_ = {{"sentinel", 1, 2}};
    }

    ScratchFolder folder_;
    ArchiveHeader header_;
    std::vector<ArchiveEntry> entries_;
    uint64_t position_ = 0;
};

TEST_F(ArchiveIndexTest, ShippedLayoutOfTwentyEntries) {
    std::vector<FixtureEntry> entries{{"ZOL.hvl", Bytes(4880, 0x5A)}};
    for (int i = 0; i < 19; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "data0%d0%02d.arc", 1 + i / 5, (i % 5) * 20);
        entries.push_back({name, Bytes(1000 + i, static_cast<uint8_t>(i))});
    }
    ASSERT_TRUE(Read(MakeArchive(FixtureFormat::Arc20, entries)));
    EXPECT_EQ(std::memcmp(header_.magic, "PALVEN ARC20", 12), 0);
    EXPECT_EQ(header_.count, 20u);
    ASSERT_EQ(entries_.size(), 20u);
    EXPECT_EQ(entries_[0].name, "ZOL.hvl");
    EXPECT_EQ(entries_[0].offset, 2576u);
    EXPECT_EQ(entries_[0].size, 4880u);
    EXPECT_EQ(entries_[0].offset + ArchiveOffset, 0x50E10u);
    EXPECT_EQ(position_, 2576u);
    uint64_t next = 2576 + 4880;
    for (size_t i = 1; i < entries_.size(); ++i) {
        EXPECT_EQ(entries_[i].name, entries[i].name);
        EXPECT_EQ(entries_[i].offset, next);
        EXPECT_EQ(entries_[i].size, entries[i].data.size());
        next += entries_[i].size;
    }
}

TEST_F(ArchiveIndexTest, PackFileNamesAndOffsetsAndUtf8Names) {
    // "データ.arc" in code page 932 and in UTF-8, and the longest name a field holds.
    const std::string local = "\x83\x66\x81\x5B\x83\x5E.arc";
    const std::string utf8 = "\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF.arc";
    ASSERT_TRUE(
        Read(MakeArchive(FixtureFormat::PackFile,
                         {{"f0", Bytes(3)}, {local, Bytes(3)}, {std::string(15, 'p'), {}}})));
    EXPECT_EQ(std::memcmp(header_.magic, "PackFile    ", 12), 0);
    ASSERT_EQ(entries_.size(), 3u);
    EXPECT_EQ(entries_[0].offset, 16u + 3 * 32);
    EXPECT_EQ(entries_[2].offset, 16u + 3 * 32 + 6);
    EXPECT_EQ(position_, 16u + 3 * 32);
    EXPECT_EQ(entries_[1].name, utf8);
    EXPECT_EQ(entries_[2].name, std::string(15, 'p'));
    ASSERT_TRUE(Read(MakeArchive(FixtureFormat::Arc20, {{std::string(95, 'n'), {}}, {utf8, {}}})));
    EXPECT_EQ(entries_[0].name, std::string(95, 'n'));
    EXPECT_EQ(entries_[1].name, utf8);
    ASSERT_TRUE(Read(MakeArchive(FixtureFormat::Arc20, {})));
    EXPECT_TRUE(entries_.empty());
}

// Each damaged archive must fail cleanly, leaving the outputs as they were.
TEST_F(ArchiveIndexTest, DamagedArchivesFail) {
    Bytes valid = MakeArchive(FixtureFormat::Arc20, {{"a", Bytes(4)}, {"b", Bytes(4)}});
    auto with = [&](size_t at, uint8_t value) {
        Bytes copy = valid;
        copy[at] = value;
        return copy;
    };
    auto withCount = [&](uint32_t count, size_t length = SIZE_MAX) {
        Bytes copy = valid;
        std::memcpy(&copy[12], &count, 4);
        copy.resize(std::min(length, copy.size()));
        return copy;
    };
    Bytes lowerPackFile = MakeArchive(FixtureFormat::PackFile, {});
    std::memcpy(lowerPackFile.data(), "packfile    ", 12);
    Bytes packFileUnterminated = MakeArchive(FixtureFormat::PackFile, {{std::string(16, 'x'), {}}});

    const std::pair<const char*, Bytes> cases[] = {
        {"empty", {}},
        {"short header", Bytes(valid.begin(), valid.begin() + 15)},
        {"twelfth magic byte", with(11, '1')},
        {"packfile in lower case", lowerPackFile},
        {"count 3 with two whole entries", withCount(3, 16 + 2 * 128)},
        {"count past the file", withCount(3)},
        {"count of all ones", withCount(0xFFFFFFFF)},
        {"count whose index passes 4 GiB", withCount(0x02000000)},
        {"ARC20 name fills its field",
         MakeArchive(FixtureFormat::Arc20, {{std::string(96, 'x'), {}}})},
        {"PackFile name fills its field", packFileUnterminated},
    };
    for (const auto& [what, archive] : cases) {
        SCOPED_TRACE(what);
        // The program file behind Read adds nothing past the archive.
        EXPECT_FALSE(Read(archive));
        ExpectUntouched();
    }
}

}  // namespace
