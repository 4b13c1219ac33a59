// Conversions between UTF-16 and the two byte encodings. Invalid or unmappable input is
// replaced by the platform converter's substitute and never fails a conversion. Forms
// that write into a caller's buffer take its capacity (terminator included) and return
// false, leaving it untouched, when the whole result does not fit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace text {

// Target of WideToNarrow and ConvertText.
enum class ConversionMode : uint32_t {
    ToCodePage932 = 0,
    ToUtf8 = 1,
};

// Byte string to UTF-16: code page 932 when the text classifies as Local, else UTF-8.
std::optional<std::u16string> NarrowToWide(const char* text);
bool NarrowToWide(char16_t* destination, size_t capacity, const char* text);

// UTF-16 to code page 932 or UTF-8.
std::optional<std::string> WideToNarrow(const char16_t* text, ConversionMode mode);
bool WideToNarrow(char* destination, size_t capacity, const char16_t* text, ConversionMode mode);

// Byte string to the target encoding; Ascii text, and text already in the target
// encoding, is copied unchanged.
std::optional<std::string> ConvertText(const char* text, ConversionMode mode);
bool ConvertText(char* destination, size_t capacity, const char* text, ConversionMode mode);

}  // namespace text
