// The platform seam for code-page conversion: Windows' MultiByteToWideChar and
// WideCharToMultiByte, or iconv elsewhere. Only code pages 932 and 65001 are used.
#pragma once

#include <cstddef>

namespace text {

constexpr unsigned CodePage932 = 932;
constexpr unsigned CodePageUtf8 = 65001;

// Converts `length` bytes in `codePage` to UTF-16. Returns the number of units the whole
// result needs; writes them to `output` only when `capacity` suffices (pass capacity 0 to
// measure). Invalid input is replaced, never refused. 0 means the converter failed.
size_t CodePageToWide(unsigned codePage, const char* input, size_t length, char16_t* output,
                      size_t capacity);

// The same from `length` UTF-16 units to `codePage`.
size_t WideToCodePage(unsigned codePage, const char16_t* input, size_t length, char* output,
                      size_t capacity);

}  // namespace text
