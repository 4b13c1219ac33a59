#include "text/convert.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace {

const char16_t TitleWide[] = u"\u300CLumenfall\u300D Updater ver 1.02";
const char TitleCp932[] = "\x81\x75Lumenfall\x81\x76 Updater ver 1.02";
const char TitleUtf8[] = "\xE3\x80\x8CLumenfall\xE3\x80\x8D Updater ver 1.02";

struct Cp932Character {
    const char16_t* wide;
    const char* bytes;
};

// Characters where code page 932 differs from JIS X 0208, and the user-defined area: the
// check that the Linux and Windows converters agree.
const Cp932Character Cp932Table[] = {
    {u"\uFF3C", "\x81\x5F"}, {u"\u2015", "\x81\x5C"}, {u"\uFF5E", "\x81\x60"},
    {u"\u2225", "\x81\x61"}, {u"\uFFE2", "\x81\xCA"}, {u"\uE000", "\xF0\x40"},
    {u"\uFF71", "\xB1"},     {u"\u2460", "\x87\x40"}, {u"\u7E8A", "\xFA\x5C"},
};

TEST(Convert, Cp932AndUtf8ConvertExactlyBothWays) {
    for (const Cp932Character& character : Cp932Table) {
        EXPECT_EQ(WideToNarrow(character.wide, ToCodePage932), std::string(character.bytes))
            << character.bytes;
        EXPECT_EQ(NarrowToWide(character.bytes), std::u16string(character.wide)) << character.bytes;
    }
    const char16_t wide[] = u"\u00E9\u3042\U0001F600\U0010FFFF~";
    const char utf8[] = "\xC3\xA9\xE3\x81\x82\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF~";
    EXPECT_EQ(WideToNarrow(wide, ToUtf8), std::string(utf8));
    EXPECT_EQ(NarrowToWide(utf8), std::u16string(wide));
    EXPECT_EQ(ConvertText(TitleCp932, ToUtf8), std::string(TitleUtf8));
    EXPECT_EQ(ConvertText(TitleUtf8, ToCodePage932), std::string(TitleCp932));
    // Ascii and text already in the target are copied, over-long forms included.
    const char overlong[] =
        "\xE0\x80\xAF\xE0\x80\xAF\xE0\x80\xAF\xE0\x80\xAF\xE0\x80\xAF\xE0\x80\xAF";
    EXPECT_EQ(ConvertText(overlong, ToUtf8), std::string(overlong));
    EXPECT_EQ(ConvertText(TitleCp932, ToCodePage932), std::string(TitleCp932));
    EXPECT_EQ(NarrowToWide(""), std::u16string());
}

// Each bounded writer: a result of n units fits capacity n + 1 exactly and fails at n,
// leaving the whole buffer as it was.
template <typename Unit, typename Write>
void ExpectCapacityBoundary(size_t length, Write write) {
    std::array<Unit, 64> buffer;
    ASSERT_LT(length + 1, buffer.size());
    buffer.fill(Unit('#'));
    EXPECT_FALSE(write(buffer.data(), length));
    for (Unit unit : buffer) ASSERT_EQ(unit, Unit('#'));

    ASSERT_TRUE(write(buffer.data(), length + 1));
    EXPECT_EQ(buffer[length], Unit(0));
    EXPECT_EQ(buffer[length + 1], Unit('#'));
}

TEST(BoundedConversion, ExactlyFitsOrFailsUntouched) {
    // The title is 28 units, 30 bytes in code page 932 and 32 in UTF-8.
    ExpectCapacityBoundary<char16_t>(
        28, [](char16_t* out, size_t capacity) { return NarrowToWide(out, capacity, TitleUtf8); });
    ExpectCapacityBoundary<char>(30, [](char* out, size_t capacity) {
        return WideToNarrow(out, capacity, TitleWide, ToCodePage932);
    });
    ExpectCapacityBoundary<char>(32, [](char* out, size_t capacity) {
        return ConvertText(out, capacity, TitleCp932, ToUtf8);
    });
    ExpectCapacityBoundary<char>(
        3, [](char* out, size_t capacity) { return ConvertText(out, capacity, "abc", ToUtf8); });
}

bool HasZeroUnit(const std::u16string& text) {
    return text.find(u'\0') != std::u16string::npos;
}

TEST(InvalidInput, IsReplacedNotRefused) {
    // A lead byte before the terminator must neither fail nor swallow the terminator.
    const std::optional<std::u16string> cut = NarrowToWide("abc\x83");
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->substr(0, 3), u"abc");
    EXPECT_GT(cut->size(), 3u);
    EXPECT_FALSE(HasZeroUnit(*cut));

    // Classified as UTF-8 by the first six sequences, then no valid UTF-8 at all.
    const char lateGarbage[] =
        "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xF8\x88\x80\xFF\xC3";
    const std::optional<std::u16string> late = NarrowToWide(lateGarbage);
    ASSERT_TRUE(late);
    EXPECT_EQ(late->substr(0, 6), u"\u00E9\u00E9\u00E9\u00E9\u00E9\u00E9");
    EXPECT_GT(late->size(), 6u);
    EXPECT_FALSE(HasZeroUnit(*late));
    EXPECT_TRUE(ConvertText(lateGarbage, ToCodePage932));

    const char16_t loneSurrogate[] = {u'a', 0xD800, u'b', 0};
    for (ConversionMode mode : {ToCodePage932, ToUtf8}) {
        const std::optional<std::string> narrow = WideToNarrow(loneSurrogate, mode);
        ASSERT_TRUE(narrow);
        ASSERT_GE(narrow->size(), 3u);
        EXPECT_EQ(narrow->front(), 'a');
        EXPECT_EQ(narrow->back(), 'b');
    }
    // Code page 932 holds neither; a tag character alone once came out as nothing at all.
    for (const char16_t* unmappable : {u"a\U0001F600b", u"\U000E0000"}) {
        const std::optional<std::string> narrow = WideToNarrow(unmappable, ToCodePage932);
        ASSERT_TRUE(narrow);
        EXPECT_NE(narrow->find('?'), std::string::npos);
    }
}

}  // namespace
