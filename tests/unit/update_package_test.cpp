#include "package/update_package.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>

#include "fixtures.h"
#include "package/file.h"

using namespace package;

namespace {

// Titles in either encoding; short or unterminated headers leave the buffer untouched.
TEST(TitleTest, ReadsEitherEncodingAndRefusesShortOrUnterminatedHeaders) {
    ScratchFolder folder;
    const std::u16string program = folder.File("program.exe");
    char16_t title[TitleCapacity];
    const Bytes full = MakeProgramFile("Title", {});
    const struct {
        Bytes program;
        std::optional<std::u16string> expected;
    } rows[] = {
        {MakeProgramFile("\x81\x75Lumenfall\x81\x76 1.02", {}), u"「Lumenfall」 1.02"},  // 932
        {MakeProgramFile("「Lumenfall」 1.02", {}), u"「Lumenfall」 1.02"},              // UTF-8
        {MakeProgramFile(std::string(PackageHeaderSize - 1, 'T'), {}),
         std::u16string(PackageHeaderSize - 1, u'T')},
        {Bytes(full.begin(), full.begin() + ArchiveOffset - 1), std::nullopt},
        {MakeProgramFile(std::string(PackageHeaderSize, 'T'), {}), std::nullopt},
    };
    for (const auto& row : rows) {
        WriteFile(program, row.program);
        std::fill(std::begin(title), std::end(title), u'#');
        EXPECT_EQ(ReadPackageTitle(program.c_str(), title), row.expected.has_value());
        EXPECT_EQ(row.expected ? std::u16string(title) : std::u16string(title, TitleCapacity),
                  row.expected.value_or(std::u16string(TitleCapacity, u'#')));
    }
}

class ArchiveIndexTest : public ::testing::Test {
protected:
    // Reads the index of an archive stored behind a program image, as the installer does.
    bool Read(const Bytes& archive) {
        WriteFile(folder_.File("program.exe"), MakeProgramFile("Title", archive));
        CFileDX file;
        EXPECT_TRUE(file.OpenForRead(folder_.File("program.exe").c_str()));
        EXPECT_TRUE(file.Seek(ArchiveOffset));
        return ReadArchiveIndex(header_, entries_, file);
    }

    ScratchFolder folder_;
    ArchiveHeader header_;
    std::vector<ArchiveEntry> entries_;
};

// The shipped layout: twenty entries, the first one's data right behind the index.
TEST_F(ArchiveIndexTest, ReadsBothLayoutsWithTheirOffsetsAndNames) {
    std::vector<FixtureEntry> entries(19, {"data", Bytes(7)});
    entries.push_back({std::string(95, 'n'), Bytes(3)});
    ASSERT_TRUE(Read(MakeArchive(FixtureFormat::Arc20, entries)));
    EXPECT_EQ(std::memcmp(header_.magic, "PALVEN ARC20", 12), 0);
    ASSERT_EQ(entries_.size(), 20u);
    EXPECT_EQ(entries_[0].offset + ArchiveOffset, 0x50E10u);
    EXPECT_EQ(entries_[19].offset, 2576u + 19 * 7);
    EXPECT_EQ(entries_[19].size, 3u);
    EXPECT_EQ(entries_[19].name, std::string(95, 'n'));
    // A name stored in code page 932 reads as UTF-8; 15 bytes fill a PackFile name.
    ASSERT_TRUE(Read(
        MakeArchive(FixtureFormat::PackFile, {{"\x83\x41", Bytes(3)}, {"p15p15p15p15p15", {}}})));
    EXPECT_EQ(std::memcmp(header_.magic, "PackFile    ", 12), 0);
    EXPECT_EQ(entries_[0].name + entries_[1].name, "\xE3\x82\xA2p15p15p15p15p15");
    EXPECT_EQ(entries_[1].offset, 16u + 2 * 32 + 3);
    ASSERT_TRUE(Read(MakeArchive(FixtureFormat::Arc20, {})));
    EXPECT_TRUE(entries_.empty());
}

// Each damaged archive is refused.
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
    // The program file behind Read adds nothing past the archive.
    for (const auto& [what, archive] : cases) EXPECT_FALSE(Read(archive)) << what;
}

}  // namespace
