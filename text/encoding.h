// Classification and character-aware handling of unmarked byte strings, which are either
// UTF-8 or code page 932 (Shift-JIS as Windows defines it). Every function here reads up
// to the terminator and never past it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace text {

// Capacity of every path and name buffer, terminator included: UTF-16 units for UTF-16
// buffers, bytes for byte buffers.
constexpr size_t PathBufferLength = 780;

enum class TextEncoding : uint32_t {
    Local = 0,            // code page 932: not Ascii and fails the UTF-8 test
    Utf8 = 1,             // UTF-8 holding at least one multibyte sequence
    Ascii = 0x80000000u,  // no byte at or above 0x80, the empty string included
};

struct DecodedCharacter {
    uint32_t code;    // character code, see DecodeCharacter
    uint32_t length;  // bytes taken, at least 1, never covering the terminator
};

// Classifies a zero-terminated byte string. Six well-formed multibyte sequences settle on
// Utf8 without looking further.
TextEncoding DetectTextEncoding(const char* text);

// True when `byte` opens a double-byte character of code page 932.
bool IsLeadByte(uint8_t byte);

// Decodes one UTF-8 sequence at `text` (which must not be at the terminator) without
// checking its continuation bytes. A sequence cut short by the terminator ends before it.
DecodedCharacter DecodeUtf8Sequence(const char* text);

// Appends the character `code` (at most 0x10FFFF) to `out` as UTF-8.
void AppendUtf8(uint32_t code, std::string* out);

// True when the `length` units at `text` hold a surrogate that is not half of a pair: text
// that has no UTF-8 form.
bool HasLoneSurrogate(const char16_t* text, size_t length);

// The length of the well-formed UTF-8 sequence at `text` (of `length` bytes, at least 1), with
// its character in `code`; 0 when none starts there (a stray or overlong byte, a surrogate, a
// sequence cut short).
uint32_t DecodeUtf8Strictly(const char* text, size_t length, uint32_t* code);

// Decodes one character at `text` (which must not be at the terminator): for Local the
// byte or lead * 256 + trail, for Utf8 the code point (a surrogate pair written as two
// sequences joins into one character), for Ascii the byte.
DecodedCharacter DecodeCharacter(const char* text, TextEncoding encoding);

// Byte-wise comparison through the terminator: -1, 0 or 1. No case, no encoding.
int CompareText(const char* a, const char* b);

// Copies `source` with its terminator into `destination` of `capacity` bytes. False, with
// the destination untouched, when it does not fit.
bool CopyText(char* destination, size_t capacity, const char* source);

// Folds single-byte A-Z to a-z in place, leaving every byte of a multibyte character as it
// is. Returns `text`.
char* LowercaseText(char* text);

// A copy of `text` with single-byte A-Z folded, as LowercaseText does.
std::string Lowercased(std::string text);

}  // namespace text
