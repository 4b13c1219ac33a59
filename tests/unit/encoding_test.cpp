#include "text/encoding.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(Encoding, ClassifiesAtTheBoundaries) {
    const std::string five = "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9";
    const std::pair<std::string, TextEncoding> rows[] = {
        {"", Ascii},
        {"\x7F", Ascii},
        {"a\xE3\x81\x82z", Utf8},
        {"\xF0\x9F\x98\x80", Utf8},
        {"\xC2\x80", Utf8},
        {"\x83\x41", Local},  // 0x83 cannot open a UTF-8 sequence
        {"\xC1\x80", Local},
        {"\xC2\xC0", Local},
        {"\xC2\x7F", Local},
        // Long forms count when enough continuation bytes follow.
        {"\xFF\x80\x80\x80\x80\x80\x80\x80", Utf8},
        {"\xFF\x80\x80\x80\x80\x80\x80", Local},
        // A sequence cut by the terminator.
        {"ab\xE3\x81", Local},
        // Six well-formed sequences settle it; five do not.
        {five + "\xFF", Local},
        {five + "\xC3\xA9\xFF", Utf8},
    };
    for (const auto& [text, expected] : rows) EXPECT_EQ(DetectTextEncoding(text.c_str()), expected);
}

TEST(Encoding, StepsCharacterByCharacterNeverPastTheTerminator) {
    const struct {
        const char* text;
        TextEncoding encoding;
        uint32_t code, length;
    } rows[] = {
        {"\x83\x41", Local, 0x8341, 2},
        {"\xFF\x40", Local, 0xFF40, 2},
        {"\xB1\x41", Local, 0xB1, 1},  // half-width katakana is one byte
        {"\xFD\x41", Local, 0xFD, 1},
        {"\x83", Local, 0x83, 1},  // a lead byte right before the terminator
        {"\xE3\x81\x82", Utf8, 0x3042, 3},
        {"\xF4\x8F\xBF\xBF", Utf8, 0x10FFFF, 4},
        {"\xED\xA0\x80\xED\xB0\x80", Utf8, 0x10000, 6},  // a pair written as two sequences
        {"\xED\xA0\x80"
         "A",
         Utf8, 0xD800, 3},
        {"\xED\xA0\x80\xED\xB0", Utf8, 0xD800, 3},
        {"\xE3\x81", Utf8, UINT32_MAX, 2},  // cut short: ends before the terminator
        {"\xC3\xA9", Ascii, 0xC3, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        const DecodedCharacter decoded = DecodeCharacter(row.text, row.encoding);
        EXPECT_EQ(decoded.length, row.length);
        if (row.code != UINT32_MAX) {
            EXPECT_EQ(decoded.code, row.code);
        }
    }
    // The partial bits of E1 9C would read as a backslash.
    EXPECT_NE(DecodeUtf8Sequence("\xE1\x9C").code, uint32_t('\\'));
    // Folding steps the same way: "ア" in code page 932 ends in the byte of 'A'.
    EXPECT_EQ(Lowercased("DATA\x83\x41.ARC"), "data\x83\x41.arc");
}

}  // namespace
