#include "text/convert.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

using namespace text;

namespace {

constexpr ConversionMode To932 = ConversionMode::ToCodePage932, ToUtf8 = ConversionMode::ToUtf8;

const char16_t TitleWide[] = u"\u300CLumenfall\u300D Updater ver 1.02";
const char TitleCp932[] = "\x81\x75Lumenfall\x81\x76 Updater ver 1.02";
const char TitleUtf8[] = "\xE3\x80\x8CLumenfall\xE3\x80\x8D Updater ver 1.02";

// Characters where code page 932 differs from JIS X 0208, and the user-defined area: the
// check that the Linux and Windows converters agree. Then UTF-8 beyond the BMP.
TEST(Convert, Cp932AndUtf8ConvertExactlyBothWays) {
    using Rows = std::vector<std::pair<const char16_t*, const char*>>;
    const Rows cp932{{u"\uFF3C", "\x81\x5F"}, {u"\u2015", "\x81\x5C"}, {u"\uFF5E", "\x81\x60"},
                     {u"\u2225", "\x81\x61"}, {u"\uFFE2", "\x81\xCA"}, {u"\uE000", "\xF0\x40"},
                     {u"\uFF71", "\xB1"},     {u"\u2460", "\x87\x40"}, {u"\u7E8A", "\xFA\x5C"},
                     {TitleWide, TitleCp932}};
    const Rows utf8{{u"\u00E9\u3042\U0001F600\U0010FFFF~",
                     "\xC3\xA9\xE3\x81\x82\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF~"},
                    {u"", ""}};
    for (const auto& [mode, rows] : {std::pair{To932, cp932}, {ToUtf8, utf8}}) {
        for (const auto& [wide, bytes] : rows) {
            EXPECT_EQ(WideToNarrow(wide, mode), std::string(bytes)) << bytes;
            EXPECT_EQ(NarrowToWide(bytes), std::u16string(wide)) << bytes;
        }
    }
    EXPECT_EQ(ConvertText(TitleCp932, ToUtf8), std::string(TitleUtf8));
    EXPECT_EQ(ConvertText(TitleUtf8, To932), std::string(TitleCp932));
    // Text already in the target is copied, over-long forms included.
    const char overlong[] =
        "\xE0\x80\xAF\xE0\x80\xAF\xE0\x80\xAF\xE0\x80\xAF\xE0\x80\xAF\xE0\x80\xAF";
    EXPECT_EQ(ConvertText(overlong, ToUtf8), std::string(overlong));
    EXPECT_EQ(ConvertText(TitleCp932, To932), std::string(TitleCp932));
}

// Each bounded writer: a result of n units fits capacity n + 1 exactly and fails at n,
// leaving the whole buffer as it was.
template <typename Unit, typename Write>
void ExpectCapacityBoundary(size_t length, Write write) {
    std::array<Unit, 64> buffer;
    buffer.fill(Unit('#'));
    EXPECT_FALSE(write(buffer.data(), length));
    for (Unit unit : buffer) ASSERT_EQ(unit, Unit('#'));
    ASSERT_TRUE(write(buffer.data(), length + 1));
    EXPECT_EQ(buffer[length], Unit(0));
    EXPECT_EQ(buffer[length + 1], Unit('#'));
}

TEST(BoundedConversion, ExactlyFitsOrFailsUntouched) {
    // The title is 28 units in UTF-16 and 30 bytes in code page 932.
    ExpectCapacityBoundary<char16_t>(
        28, [](char16_t* out, size_t capacity) { return NarrowToWide(out, capacity, TitleUtf8); });
    ExpectCapacityBoundary<char>(30, [](char* out, size_t capacity) {
        return WideToNarrow(out, capacity, TitleWide, To932);
    });
    ExpectCapacityBoundary<char>(
        3, [](char* out, size_t capacity) { return ConvertText(out, capacity, "abc", ToUtf8); });
}

// Broken wide input is converted around, never refused: a lone surrogate, and characters
// code page 932 lacks (a tag character alone once came out as nothing at all). Narrow input
// of any bytes goes through the uninstall list's fuzz target.
TEST(InvalidInput, IsReplacedNotRefused) {
    const char16_t loneSurrogate[] = {u'a', 0xD800, u'b', 0};
    for (ConversionMode mode : {To932, ToUtf8}) {
        const std::optional<std::string> narrow = WideToNarrow(loneSurrogate, mode);
        ASSERT_TRUE(narrow && narrow->size() >= 3);
        EXPECT_EQ(narrow->front(), 'a');
        EXPECT_EQ(narrow->back(), 'b');
    }
    for (const char16_t* unmappable : {u"a\U0001F600b", u"\U000E0000"}) {
        const std::optional<std::string> narrow = WideToNarrow(unmappable, To932);
        ASSERT_TRUE(narrow);
        EXPECT_NE(narrow->find('?'), std::string::npos);
    }
}

}  // namespace
