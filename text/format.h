// Type-safe formatting for the two conversions in use: %s (the next argument) and %%.
// The destination's capacity includes the terminator. The result is the number of units
// written without the terminator, or -1, with the destination untouched, when the format
// holds another conversion, the arguments do not match its %s count, or the result does
// not fit.
#pragma once

#include <cstddef>
#include <initializer_list>

namespace text {

int FormatWide(char16_t* destination, size_t capacity, const char16_t* format,
               std::initializer_list<const char16_t*> arguments);
int FormatNarrow(char* destination, size_t capacity, const char* format,
                 std::initializer_list<const char*> arguments);

template <size_t N>
int FormatWide(char16_t (&destination)[N], const char16_t* format,
               std::initializer_list<const char16_t*> arguments) {
    return FormatWide(destination, N, format, arguments);
}

template <size_t N>
int FormatNarrow(char (&destination)[N], const char* format,
                 std::initializer_list<const char*> arguments) {
    return FormatNarrow(destination, N, format, arguments);
}

}  // namespace text
