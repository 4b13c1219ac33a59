#include "text/format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace text;

namespace {

// Formats `format` with up to two arguments (null: absent) into 20 bytes marked '#', of
// which `capacity` are given; the result, and every byte of the buffer after.
std::pair<int, std::string> Format(const char* format, size_t capacity, const char* a = nullptr,
                                   const char* b = nullptr) {
    char buffer[20];
    std::memset(buffer, '#', sizeof buffer);
    const int written = b   ? FormatNarrow(buffer, capacity, format, {a, b})
                        : a ? FormatNarrow(buffer, capacity, format, {a})
                            : FormatNarrow(buffer, capacity, format, {});
    return {written, std::string(buffer, sizeof buffer)};
}

// The text, its terminator, and the marks untouched behind it.
std::pair<int, std::string> Written(const std::string& text) {
    return {static_cast<int>(text.size()), text + '\0' + std::string(19 - text.size(), '#')};
}

TEST(Format, FormatsOrFailsWithoutTouchingTheDestination) {
    const std::pair<int, std::string> refused{-1, std::string(20, '#')};
    EXPECT_EQ(Format("%s%s", 16, "file.name", ".arc"), Written("file.name.arc"));
    EXPECT_EQ(Format("100%% %s", 16, "%s%d"), Written("100% %s%d"));  // arguments are no formats
    EXPECT_EQ(Format("", 1), Written(""));
    EXPECT_EQ(Format("%s\\%s", 6, "ab", "cd"), Written("ab\\cd"));  // exactly fits
    EXPECT_EQ(Format("%s\\%s", 5, "ab", "cd"), refused);
    EXPECT_EQ(Format("", 0), refused);
    EXPECT_EQ(Format("%d", 16, "1"), refused);
    EXPECT_EQ(Format("abc%", 16), refused);
    EXPECT_EQ(Format("%s %s", 16, "one"), refused);
    EXPECT_EQ(Format("plain", 16, "unused"), refused);
    char16_t wide[8];
    std::fill(wide, wide + 8, u'#');
    EXPECT_EQ(FormatWide(wide, 3, u"%%%s", {u"ab"}), -1);
    EXPECT_EQ(FormatWide(wide, 4, u"%s\\%s", {u"\u30B2", u"z"}), 3);
    EXPECT_EQ(std::u16string(wide), u"\u30B2\\z");
}

}  // namespace
