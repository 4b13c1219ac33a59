#include "text/format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

TEST(Format, FormatsOrFailsWithoutTouchingTheDestination) {
    const struct {
        const char* format;
        std::vector<const char*> arguments;
        size_t capacity;
        const char* expected;  // nullptr: fails
    } rows[] = {
        {"%s%s", {"file.name", ".arc"}, 16, "file.name.arc"},
        {"100%% %s", {"%s%d"}, 16, "100% %s%d"},  // the arguments are not formats
        {"", {}, 1, ""},
        {"%s\\%s", {"ab", "cd"}, 6, "ab\\cd"},  // exactly fits
        {"%s\\%s", {"ab", "cd"}, 5, nullptr},
        {"", {}, 0, nullptr},
        {"%d", {"1"}, 16, nullptr},
        {"abc%", {}, 16, nullptr},
        {"%s %s", {"one"}, 16, nullptr},
        {"plain", {"unused"}, 16, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.format);
        char buffer[20];
        std::memset(buffer, '#', sizeof buffer);
        const std::vector<const char*>& a = row.arguments;
        const int written = a.empty() ? FormatNarrow(buffer, row.capacity, row.format, {})
                            : a.size() == 1
                                ? FormatNarrow(buffer, row.capacity, row.format, {a[0]})
                                : FormatNarrow(buffer, row.capacity, row.format, {a[0], a[1]});
        if (row.expected == nullptr) {
            EXPECT_EQ(written, -1);
            EXPECT_EQ(buffer[0], '#');
        } else {
            EXPECT_EQ(written, static_cast<int>(std::strlen(row.expected)));
            EXPECT_STREQ(buffer, row.expected);
            EXPECT_EQ(buffer[row.capacity], '#');
        }
    }
    char16_t wide[8];
    std::fill(wide, wide + 8, u'#');
    EXPECT_EQ(FormatWide(wide, 3, u"%%%s", {u"ab"}), -1);
    EXPECT_EQ(FormatWide(wide, 4, u"%s\\%s", {u"\u30B2", u"z"}), 3);
    EXPECT_EQ(std::u16string(wide), u"\u30B2\\z");
}

}  // namespace
