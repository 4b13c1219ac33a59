#include "text/encoding.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

using namespace text;

namespace {

TEST(Encoding, ClassifiesAtTheBoundaries) {
    const std::string five = "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9";
    const std::pair<std::string, TextEncoding> rows[] = {
        {"", TextEncoding::Ascii},
        {"\x7F", TextEncoding::Ascii},
        {"a\xE3\x81\x82z", TextEncoding::Utf8},
        {"\xF0\x9F\x98\x80", TextEncoding::Utf8},
        {"\xC2\x80", TextEncoding::Utf8},
        {"\x83\x41", TextEncoding::Local},  // 0x83 cannot open a UTF-8 sequence
        {"\xC1\x80", TextEncoding::Local},
        {"\xC2\xC0", TextEncoding::Local},
        {"\xC2\x7F", TextEncoding::Local},
        // Long forms count when enough continuation bytes follow.
        {"\xFF\x80\x80\x80\x80\x80\x80\x80", TextEncoding::Utf8},
        {"\xFF\x80\x80\x80\x80\x80\x80", TextEncoding::Local},
        // A sequence cut by the terminator.
        {"ab\xE3\x81", TextEncoding::Local},
        // Six well-formed sequences settle it; five do not.
        {five + "\xFF", TextEncoding::Local},
        {five + "\xC3\xA9\xFF", TextEncoding::Utf8},
    };
    for (const auto& [text, expected] : rows) EXPECT_EQ(DetectTextEncoding(text.c_str()), expected);
}

// The bytes each character takes, never the terminator; folding steps the same way, so a
// trail byte that equals a letter is left alone. (Only the lengths have callers.)
TEST(Encoding, StepsCharacterByCharacterNeverPastTheTerminator) {
    const std::tuple<const char*, TextEncoding, uint32_t> rows[] = {
        {"\x83\x41", TextEncoding::Local, 2},
        {"\xFF\x40", TextEncoding::Local, 2},
        {"\xB1\x41", TextEncoding::Local, 1},  // half-width katakana
        {"\xFD\x41", TextEncoding::Local, 1},
        {"\x83", TextEncoding::Local, 1},  // a lead byte right before the terminator
        {"\xE3\x81\x82", TextEncoding::Utf8, 3},
        {"\xF4\x8F\xBF\xBF", TextEncoding::Utf8, 4},
        {"\xED\xA0\x80\xED\xB0\x80", TextEncoding::Utf8, 6},  // a surrogate pair as two sequences
        {"\xED\xA0\x80\xED\xB0", TextEncoding::Utf8, 3},
        {"\xE3\x81", TextEncoding::Utf8, 2},  // cut short by the terminator
        {"\xC3\xA9", TextEncoding::Ascii, 1},
    };
    for (const auto& [text, encoding, length] : rows)
        EXPECT_EQ(DecodeCharacter(text, encoding).length, length) << text;
    EXPECT_EQ(Lowercased("DATA\x83\x41.ARC"), "data\x83\x41.arc");
}

// Only well-formed UTF-8 decodes, and what decodes encodes back to the same bytes; a name
// holding anything else keeps those bytes apart from text.
TEST(Encoding, DecodesOnlyWellFormedUtf8) {
    const std::pair<std::string, uint32_t> rows[] = {
        {"a", 1},        {"\xC3\xA9", 2},     {"\xF0\x9F\x98\x80", 4}, {"\xEF\xBF\xBF", 3},
        {"\xC0\x80", 0}, {"\xE0\x9F\xBF", 0}, {"\xED\xA0\x80", 0},     {"\xF4\x90\x80\x80", 0},
        {"\xE3\x81", 0}, {"\x80", 0},         {"\xC3\x28", 0},
    };
    for (const auto& [bytes, length] : rows) {
        uint32_t code = 0;
        EXPECT_EQ(DecodeUtf8Strictly(bytes.data(), bytes.size(), &code), length) << bytes;
        std::string again;
        if (length != 0) AppendUtf8(code, &again);
        EXPECT_EQ(again, length != 0 ? bytes : "") << bytes;
    }
    const char16_t pair[] = u"a\U0001F600", lone[] = {u'a', 0xDC80}, high[] = {0xD83D, u'a'};
    EXPECT_FALSE(HasLoneSurrogate(pair, 3));
    EXPECT_TRUE(HasLoneSurrogate(lone, 2));
    EXPECT_TRUE(HasLoneSurrogate(high, 2));
    EXPECT_TRUE(HasLoneSurrogate(pair, 2));  // the pair cut in half
}

}  // namespace
