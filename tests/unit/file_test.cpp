#include "package/file.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "fixtures.h"

namespace fs = std::filesystem;

TEST(FileTest, OpenForReadReportsMissingFileAndCanBeRetried) {
    ScratchFolder folder;
    CFileDX file;
    EXPECT_FALSE(file.OpenForRead(folder.File("missing.bin").c_str()));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.LastError(), ErrorFileNotFound);

    WriteFile(folder.File("present.bin"), ToBytes("abc"));
    ASSERT_TRUE(file.OpenForRead(folder.File("present.bin").c_str()));
    char buffer[8];
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 3u);
}

TEST(FileTest, OpenForWriteTruncatesCreatesOrRefuses) {
    ScratchFolder folder;
    WriteFile(folder.File("existing"), Bytes(100, 'x'));
    {
        CFileDX file;
        ASSERT_TRUE(file.OpenForWrite(folder.File("existing").c_str(), CreateOrTruncate));
    }
    EXPECT_TRUE(ReadFile(folder.File("existing")).empty());

    {
        CFileDX file;
        ASSERT_TRUE(file.OpenForWrite(folder.File("new").c_str(), CreateOrTruncate));
        EXPECT_EQ(file.Write("hello", 5), 5u);
    }
    EXPECT_EQ(ReadFile(folder.File("new")), ToBytes("hello"));

    {
        CFileDX file;
        EXPECT_FALSE(file.OpenForWrite(folder.File("new").c_str(), CreateNew));
        EXPECT_EQ(file.LastError(), ErrorFileExists);
        EXPECT_TRUE(file.OpenForWrite(folder.File("other").c_str(), CreateNew));
    }
    EXPECT_EQ(ReadFile(folder.File("new")), ToBytes("hello"));

    WriteFile(folder.File("readonly"), ToBytes("keep"));
    fs::permissions(fs::path(folder.File("readonly")),
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    CFileDX file;
    EXPECT_FALSE(file.OpenForWrite(folder.File("readonly").c_str(), CreateOrTruncate));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(ReadFile(folder.File("readonly")), ToBytes("keep"));
}

TEST(FileTest, PositionsBeyondFourGigabytes) {
    ScratchFolder folder;
    const int64_t fourGiB = int64_t{1} << 32;
    {
        CFileDX file;
        ASSERT_TRUE(file.OpenForWrite(folder.File("sparse").c_str(), CreateOrTruncate));
        // A position whose low 32 bits are all ones is valid, not an error.
        ASSERT_TRUE(file.Seek(0xFFFFFFFF));
        ASSERT_TRUE(file.Seek(fourGiB));
        ASSERT_EQ(file.Write("12345", 5), 5u);
    }
    CFileDX file;
    ASSERT_TRUE(file.OpenForRead(folder.File("sparse").c_str()));
    EXPECT_EQ(file.GetSize(), 5u);
    uint64_t size = 0;
    ASSERT_TRUE(file.GetFullSize(&size));
    EXPECT_EQ(size, uint64_t(fourGiB) + 5);
    ASSERT_TRUE(file.Seek(fourGiB + 2));
    uint64_t position = 0;
    ASSERT_TRUE(file.GetPosition(&position));
    EXPECT_EQ(position, uint64_t(fourGiB) + 2);
    char buffer[4] = {};
    EXPECT_EQ(file.Read(buffer, 3), 3u);
    EXPECT_STREQ(buffer, "345");
}
