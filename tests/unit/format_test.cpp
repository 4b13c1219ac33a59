#include "text/format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

TEST(FormatWide, FormatsPathsAndKeys) {
    char16_t buffer[64];
    EXPECT_EQ(FormatWide(buffer, u"%s\\%s.tmp", {u"C:\\Game", u"data.arc"}), 20);
    EXPECT_EQ(std::u16string(buffer), u"C:\\Game\\data.arc.tmp");
    EXPECT_EQ(FormatWide(buffer, u"Software\\%s\\%s", {u"NORTHELM", u"Lumenfall"}), 27);
    EXPECT_EQ(std::u16string(buffer), u"Software\\NORTHELM\\Lumenfall");
    EXPECT_EQ(FormatWide(buffer, u"%s\\zol.hvl", {u"\u30B2\u30FC\u30E0"}), 11);
    EXPECT_EQ(std::u16string(buffer), u"\u30B2\u30FC\u30E0\\zol.hvl");
}

TEST(FormatNarrow, FormatsLinesAndNames) {
    char buffer[32];
    EXPECT_EQ(FormatNarrow(buffer, "%s%s", {"file.name", ".arc"}), 13);
    EXPECT_STREQ(buffer, "file.name.arc");
    EXPECT_EQ(FormatNarrow(buffer, "%s\n", {"line"}), 5);
    EXPECT_STREQ(buffer, "line\n");
    EXPECT_EQ(FormatNarrow(buffer, "", {}), 0);
    EXPECT_STREQ(buffer, "");
}

TEST(FormatNarrow, PercentSignsAreLiteralOutsideTheFormat) {
    char buffer[32];
    EXPECT_EQ(FormatNarrow(buffer, "100%% %s", {"%s%d"}), 9);
    EXPECT_STREQ(buffer, "100% %s%d");
}

TEST(FormatNarrow, FailsWithoutTouchingDestination) {
    const char* const failing[][2] = {
        {"%d", nullptr}, {"abc%", nullptr}, {"%S", nullptr}, {"%s %s", "one"}, {"%s", nullptr}};
    char buffer[16];
    for (const auto& test : failing) {
        std::strcpy(buffer, "keep");
        EXPECT_EQ(FormatNarrow(buffer, test[0], {test[1]}), -1) << test[0];
        EXPECT_STREQ(buffer, "keep");
    }
    std::strcpy(buffer, "keep");
    EXPECT_EQ(FormatNarrow(buffer, "%s", {"a", "b"}), -1);
    EXPECT_EQ(FormatNarrow(buffer, "%s", {}), -1);
    EXPECT_EQ(FormatNarrow(buffer, "plain", {"unused"}), -1);
    EXPECT_STREQ(buffer, "keep");
}

TEST(Format, CapacityExactlyFitsOrFails) {
    char narrow[8];
    std::memset(narrow, '#', sizeof narrow);
    EXPECT_EQ(FormatNarrow(narrow, 5, "%s\\%s", {"ab", "cd"}), -1);
    EXPECT_EQ(narrow[0], '#');
    EXPECT_EQ(FormatNarrow(narrow, 6, "%s\\%s", {"ab", "cd"}), 5);
    EXPECT_STREQ(narrow, "ab\\cd");
    EXPECT_EQ(narrow[6], '#');
    EXPECT_EQ(FormatNarrow(narrow, 0, "", {}), -1);

    char16_t wide[8];
    std::fill(wide, wide + 8, u'#');
    EXPECT_EQ(FormatWide(wide, 3, u"%%%s", {u"ab"}), -1);
    EXPECT_EQ(wide[0], u'#');
    EXPECT_EQ(FormatWide(wide, 4, u"%%%s", {u"ab"}), 3);
    EXPECT_EQ(std::u16string(wide), u"%ab");
    EXPECT_EQ(wide[4], u'#');
}

}  // namespace
