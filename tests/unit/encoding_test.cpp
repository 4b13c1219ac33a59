#include "text/encoding.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(DetectTextEncoding, ClassifiesTypicalText) {
    EXPECT_EQ(DetectTextEncoding(""), Ascii);
    EXPECT_EQ(DetectTextEncoding("abc"), Ascii);
    EXPECT_EQ(DetectTextEncoding("\xC3\xA9"), Utf8);
    EXPECT_EQ(DetectTextEncoding("a\xE3\x81\x82z"), Utf8);
    EXPECT_EQ(DetectTextEncoding("\xF0\x9F\x98\x80"), Utf8);
    // 0x83 cannot open a UTF-8 sequence.
    EXPECT_EQ(DetectTextEncoding("\x83\x41"), Local);
    EXPECT_EQ(DetectTextEncoding("\xC3\x28"), Local);
    EXPECT_EQ(DetectTextEncoding("\xC0\x80"), Local);
}

TEST(DetectTextEncoding, LeadByteBoundaries) {
    EXPECT_EQ(DetectTextEncoding("\x7F"), Ascii);
    EXPECT_EQ(DetectTextEncoding("\x80\x80"), Local);
    EXPECT_EQ(DetectTextEncoding("\xC1\x80"), Local);
    EXPECT_EQ(DetectTextEncoding("\xC2\x80"), Utf8);
    EXPECT_EQ(DetectTextEncoding("\xC2\xBF"), Utf8);
    EXPECT_EQ(DetectTextEncoding("\xC2\xC0"), Local);
    EXPECT_EQ(DetectTextEncoding("\xC2\x7F"), Local);
    // Long forms are accepted when enough continuation bytes follow.
    EXPECT_EQ(DetectTextEncoding("\xF8\x88\x80\x80\x80"), Utf8);
    EXPECT_EQ(DetectTextEncoding("\xFF\x80\x80\x80\x80\x80\x80\x80"), Utf8);
    EXPECT_EQ(DetectTextEncoding("\xFF\x80\x80\x80\x80\x80\x80"), Local);
}

TEST(DetectTextEncoding, SequenceCutByTerminatorIsLocal) {
    EXPECT_EQ(DetectTextEncoding("\xC3"), Local);
    EXPECT_EQ(DetectTextEncoding("ab\xE3\x81"), Local);
    EXPECT_EQ(DetectTextEncoding("\xC3\xA9\xF0\x9F\x98"), Local);
}

TEST(DetectTextEncoding, SixthSequenceSettlesUtf8) {
    const std::string five = "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9";
    EXPECT_EQ(DetectTextEncoding((five + "\xFF").c_str()), Local);
    EXPECT_EQ(DetectTextEncoding((five + "\xC3\xA9\xFF").c_str()), Utf8);
    EXPECT_EQ(DetectTextEncoding((five + "a\xC3\xA9\x83").c_str()), Utf8);
}

TEST(IsLeadByte, RangeBoundaries) {
    const uint8_t leads[] = {0x81, 0x9F, 0xE0, 0xFC, 0xFF};
    const uint8_t others[] = {0x00, 0x41, 0x5C, 0x7F, 0x80, 0xA0, 0xB1, 0xDF, 0xFD, 0xFE};
    for (uint8_t byte : leads) EXPECT_TRUE(IsLeadByte(byte)) << int(byte);
    for (uint8_t byte : others) EXPECT_FALSE(IsLeadByte(byte)) << int(byte);
}

void ExpectDecoded(DecodedCharacter actual, uint32_t code, uint32_t length) {
    EXPECT_EQ(actual.code, code);
    EXPECT_EQ(actual.length, length);
}

TEST(DecodeUtf8Sequence, DecodesEachLength) {
    ExpectDecoded(DecodeUtf8Sequence("A"), 'A', 1);
    ExpectDecoded(DecodeUtf8Sequence("\xC3\xA9"), 0xE9, 2);
    ExpectDecoded(DecodeUtf8Sequence("\xDF\xBF"), 0x7FF, 2);
    ExpectDecoded(DecodeUtf8Sequence("\xE3\x81\x82"), 0x3042, 3);
    ExpectDecoded(DecodeUtf8Sequence("\xF4\x8F\xBF\xBF"), 0x10FFFF, 4);
    ExpectDecoded(DecodeUtf8Sequence("\xFC\x84\x80\x80\x80\x80"), 0x4000000, 6);
    ExpectDecoded(DecodeUtf8Sequence("\xFE\x80\x80\x80\x80\x80\x81"), 1, 7);
    ExpectDecoded(DecodeUtf8Sequence("\xFF\x80\x80\x80\x80\x80\x80\xBF"), 0x3F, 8);
}

TEST(DecodeUtf8Sequence, TakesContinuationBytesOnTrust) {
    // Bit 6 is not examined: a stray continuation byte announces two bytes.
    ExpectDecoded(DecodeUtf8Sequence("\x80\x80"), 0, 2);
    ExpectDecoded(DecodeUtf8Sequence("\xC3\x41"), 0xC1, 2);
}

TEST(DecodeUtf8Sequence, StopsBeforeTerminator) {
    EXPECT_EQ(DecodeUtf8Sequence("\xC3").length, 1u);
    EXPECT_EQ(DecodeUtf8Sequence("\xE3\x81").length, 2u);
    EXPECT_EQ(DecodeUtf8Sequence("\xFF\x80\x80").length, 3u);
    // The partial bits of E1 9C would read as a backslash.
    EXPECT_NE(DecodeUtf8Sequence("\xE1\x9C").code, uint32_t('\\'));
}

TEST(DecodeCharacter, Local) {
    ExpectDecoded(DecodeCharacter("\x83\x41", Local), 0x8341, 2);
    ExpectDecoded(DecodeCharacter("\xFF\x40", Local), 0xFF40, 2);
    ExpectDecoded(DecodeCharacter("\xB1\x41", Local), 0xB1, 1);
    ExpectDecoded(DecodeCharacter("\xFD\x41", Local), 0xFD, 1);
    ExpectDecoded(DecodeCharacter("\x83", Local), 0x83, 1);
}

TEST(DecodeCharacter, Utf8JoinsSurrogatePairs) {
    ExpectDecoded(DecodeCharacter("\xED\xA0\x80\xED\xB0\x80", Utf8), 0x10000, 6);
    ExpectDecoded(DecodeCharacter("\xED\xAF\xBF\xED\xBF\xBF", Utf8), 0x10FFFF, 6);
    ExpectDecoded(DecodeCharacter("\xF0\x9F\x98\x80", Utf8), 0x1F600, 4);
    // A high surrogate without its partner stands alone.
    ExpectDecoded(DecodeCharacter("\xED\xA0\x80"
                                  "A",
                                  Utf8),
                  0xD800, 3);
    ExpectDecoded(DecodeCharacter("\xED\xA0\x80", Utf8), 0xD800, 3);
    ExpectDecoded(DecodeCharacter("\xED\xA0\x80\xED\xB0", Utf8), 0xD800, 3);
    ExpectDecoded(DecodeCharacter("\xED\xB0\x80\xED\xA0\x80", Utf8), 0xDC00, 3);
}

TEST(DecodeCharacter, AsciiTakesOneByte) {
    ExpectDecoded(DecodeCharacter("\x83\x41", Ascii), 0x83, 1);
    ExpectDecoded(DecodeCharacter("\xC3\xA9", Ascii), 0xC3, 1);
}

TEST(FindCharacter, NeverMatchesTrailByte) {
    const char text[] = "\x83\x5C\x5C";
    EXPECT_EQ(FindCharacter(text, '\\', Local), text + 2);
    EXPECT_EQ(FindCharacter(text, '\\', DetectEncoding), text + 2);
    EXPECT_EQ(FindCharacter(text, 0x835C, Local), text);
    EXPECT_EQ(FindCharacter("\x83\x41", 'A', DetectEncoding), nullptr);
}

TEST(FindCharacter, ZeroFindsTerminator) {
    const char* texts[] = {"", "abc", "\x83\x41", "\xC3\xA9", "\x83"};
    for (const char* text : texts) {
        EXPECT_EQ(FindCharacter(text, 0, DetectEncoding), text + std::strlen(text)) << text;
    }
    EXPECT_EQ(FindCharacter("", 'a', DetectEncoding), nullptr);
    // An over-long NUL is a character, not the end.
    const char overlong[] =
        "\xE0\x80\x80"
        "a";
    EXPECT_EQ(FindCharacter(overlong, 0, DetectEncoding), overlong + 4);
}

TEST(FindCharacter, SearchesByCharacterCode) {
    const char ascii[] = "a/b/c";
    EXPECT_EQ(FindCharacter(ascii, '/', Ascii), ascii + 1);
    EXPECT_EQ(FindCharacter(ascii, 'z', Ascii), nullptr);
    // A code above 0xFF must not match its low byte.
    EXPECT_EQ(FindCharacter(ascii, 0x100 + 'a', Ascii), nullptr);

    const char utf8[] = "x\xE3\x81\x82\xF0\x9F\x98\x80/";
    EXPECT_EQ(FindCharacter(utf8, 0x3042, DetectEncoding), utf8 + 1);
    EXPECT_EQ(FindCharacter(utf8, 0x1F600, Utf8), utf8 + 4);
    EXPECT_EQ(FindCharacter(utf8, '/', Utf8), utf8 + 8);
    EXPECT_EQ(FindCharacter(utf8, 0x82, Utf8), nullptr);
}

TEST(CompareText, OrdersUnsignedBytes) {
    EXPECT_EQ(CompareText("abc", "abc"), 0);
    EXPECT_EQ(CompareText("", ""), 0);
    EXPECT_EQ(CompareText("ab", "abc"), -1);
    EXPECT_EQ(CompareText("abc", "ab"), 1);
    EXPECT_EQ(CompareText("A", "a"), -1);
    EXPECT_EQ(CompareText("\x80", "\x7F"), 1);
    EXPECT_EQ(CompareText("\x83\x41", "\x83\x42"), -1);
}

TEST(CopyText, BoundedByCapacity) {
    char buffer[4];
    ASSERT_TRUE(CopyText(buffer, 4, "abc"));
    EXPECT_STREQ(buffer, "abc");

    std::memcpy(buffer, "xyz", 4);
    EXPECT_FALSE(CopyText(buffer, 3, "abc"));
    EXPECT_STREQ(buffer, "xyz");
    EXPECT_FALSE(CopyText(buffer, 0, ""));
    EXPECT_STREQ(buffer, "xyz");
    ASSERT_TRUE(CopyText(buffer, 1, ""));
    EXPECT_EQ(buffer[0], '\0');
}

std::string Lowercased(std::string text) {
    EXPECT_EQ(LowercaseText(&text[0]), &text[0]);
    return text;
}

TEST(LowercaseText, FoldsOnlySingleByteCapitals) {
    EXPECT_EQ(Lowercased("ABC.ARC"), "abc.arc");
    EXPECT_EQ(Lowercased("@AZ[`az{"), "@az[`az{");
    EXPECT_EQ(Lowercased("\x83\x41\x41"), "\x83\x41\x61");
    EXPECT_EQ(Lowercased("\xB1Z\x83"), "\xB1z\x83");
    EXPECT_EQ(Lowercased("\xC3\x89"), "\xC3\x89");
    EXPECT_EQ(Lowercased("\xC3\x89"
                         "COLE"),
              "\xC3\x89"
              "cole");
}

}  // namespace
