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

// Valid characters whose code-page-932 form is fixed, from every region of the table.
const Cp932Character Cp932Table[] = {
    {u"\u4E9C", "\x88\x9F"},  // first kanji of JIS level 1
    {u"\u8155", "\x98\x72"},  // last kanji of JIS level 1
    {u"\u5F0C", "\x98\x9F"},  // first kanji of JIS level 2
    {u"\u7199", "\xEA\xA4"},  // last kanji of JIS level 2
    {u"\u3042", "\x82\xA0"},
    {u"\u30A2", "\x83\x41"},
    {u"\u30F6", "\x83\x96"},
    {u"\uFF71", "\xB1"},
    {u"\uFF61", "\xA1"},
    {u"\uFF9F", "\xDF"},
    {u"\u3000", "\x81\x40"},
    {u"\u00A7", "\x81\x98"},
    {u"\u03B1", "\x83\xBF"},
    {u"\u0416", "\x84\x47"},
    {u"\u2500", "\x84\x9F"},
    {u"\u2460", "\x87\x40"},  // NEC row 13
    {u"\u2116", "\x87\x82"},
    {u"\u3231", "\x87\x8A"},
    {u"\u9AD9", "\xFB\xFC"},  // IBM extensions
    {u"\uFA11", "\xFA\xB1"},
    {u"\u7E8A", "\xFA\x5C"},
    {u"\\", "\\"},
    {u"~", "~"},
    // Characters that code page 932 maps differently from JIS X 0208.
    {u"\uFF3C", "\x81\x5F"},
    {u"\u2015", "\x81\x5C"},
    {u"\uFF5E", "\x81\x60"},
    {u"\u2225", "\x81\x61"},
    {u"\uFF0D", "\x81\x7C"},
    {u"\uFFE0", "\x81\x91"},
    {u"\uFFE1", "\x81\x92"},
    {u"\uFFE2", "\x81\xCA"},
    {u"\uE000", "\xF0\x40"},  // user-defined area
};

TEST(Cp932, CharactersConvertExactlyBothWays) {
    std::u16string allWide;
    for (const Cp932Character& character : Cp932Table) {
        EXPECT_EQ(WideToNarrow(character.wide, ToCodePage932), std::string(character.bytes))
            << character.bytes;
        EXPECT_EQ(NarrowToWide(character.bytes), std::u16string(character.wide)) << character.bytes;
        allWide += character.wide;
    }
    const std::optional<std::string> narrow = WideToNarrow(allWide.c_str(), ToCodePage932);
    ASSERT_TRUE(narrow);
    EXPECT_EQ(NarrowToWide(narrow->c_str()), allWide);
}

TEST(Cp932, DuplicateCodesDecodeToOneCharacter) {
    // NEC-selected IBM extensions and the NEC row 13 duplicates encode to one preferred form.
    EXPECT_EQ(NarrowToWide("\xED\x40"), std::u16string(u"\u7E8A"));
    EXPECT_EQ(NarrowToWide("\x87\x90"), std::u16string(u"\u2252"));
    EXPECT_EQ(WideToNarrow(u"\u2252", ToCodePage932), std::string("\x81\xE0"));
}

TEST(Utf8, ConvertsExactlyBothWays) {
    const char16_t wide[] = u"\u00E9\u3042\U0001F600\U0010FFFF~";
    const char utf8[] = "\xC3\xA9\xE3\x81\x82\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF~";
    EXPECT_EQ(WideToNarrow(wide, ToUtf8), std::string(utf8));
    EXPECT_EQ(NarrowToWide(utf8), std::u16string(wide));
    EXPECT_EQ(WideToNarrow(TitleWide, ToUtf8), std::string(TitleUtf8));
    EXPECT_EQ(NarrowToWide(TitleUtf8), std::u16string(TitleWide));
}

TEST(NarrowToWide, EmptyTextGivesTerminatorOnly) {
    EXPECT_EQ(NarrowToWide(""), std::u16string());
    char16_t buffer[2] = {u'x', u'x'};
    ASSERT_TRUE(NarrowToWide(buffer, 1, ""));
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(buffer[1], u'x');
    EXPECT_FALSE(NarrowToWide(buffer, 0, ""));
    EXPECT_EQ(WideToNarrow(u"", ToUtf8), std::string());
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
        28, [](char16_t* out, size_t capacity) { return NarrowToWide(out, capacity, TitleCp932); });
    ExpectCapacityBoundary<char16_t>(
        28, [](char16_t* out, size_t capacity) { return NarrowToWide(out, capacity, TitleUtf8); });
    ExpectCapacityBoundary<char>(30, [](char* out, size_t capacity) {
        return WideToNarrow(out, capacity, TitleWide, ToCodePage932);
    });
    ExpectCapacityBoundary<char>(32, [](char* out, size_t capacity) {
        return WideToNarrow(out, capacity, TitleWide, ToUtf8);
    });
    ExpectCapacityBoundary<char>(32, [](char* out, size_t capacity) {
        return ConvertText(out, capacity, TitleCp932, ToUtf8);
    });
    ExpectCapacityBoundary<char>(30, [](char* out, size_t capacity) {
        return ConvertText(out, capacity, TitleUtf8, ToCodePage932);
    });
    // Copied unchanged.
    ExpectCapacityBoundary<char>(30, [](char* out, size_t capacity) {
        return ConvertText(out, capacity, TitleCp932, ToCodePage932);
    });
    ExpectCapacityBoundary<char>(
        3, [](char* out, size_t capacity) { return ConvertText(out, capacity, "abc", ToUtf8); });
}

TEST(ConvertText, CopiesAsciiAndTextAlreadyInTarget) {
    EXPECT_EQ(ConvertText("abc", ToUtf8), std::string("abc"));
    EXPECT_EQ(ConvertText("abc", ToCodePage932), std::string("abc"));
    EXPECT_EQ(ConvertText(TitleUtf8, ToUtf8), std::string(TitleUtf8));
    EXPECT_EQ(ConvertText(TitleCp932, ToCodePage932), std::string(TitleCp932));
    // Over-long forms pass the UTF-8 test and are copied without a converter's say.
    const char overlong[] =
        "\xE0\x80\xAF\xE0\x80\xAF\xE0\x80\xAF\xE0\x80\xAF\xE0\x80\xAF\xE0\x80\xAF";
    EXPECT_EQ(ConvertText(overlong, ToUtf8), std::string(overlong));
}

TEST(ConvertText, ConvertsBetweenEncodings) {
    EXPECT_EQ(ConvertText(TitleCp932, ToUtf8), std::string(TitleUtf8));
    EXPECT_EQ(ConvertText(TitleUtf8, ToCodePage932), std::string(TitleCp932));
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

    const std::optional<std::u16string> badTrail = NarrowToWide("\x81\x20x");
    ASSERT_TRUE(badTrail);
    EXPECT_EQ(badTrail->back(), u'x');

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
