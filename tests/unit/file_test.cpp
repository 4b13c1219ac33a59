#include "package/file.h"

#include <gtest/gtest.h>

#include "fixtures.h"

using namespace package;

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
