// Code-page conversion through Windows. Flags 0 and no default character: Windows then
// substitutes invalid or unmappable characters itself instead of failing.
#include <climits>

#include "platform/win32.h"
#include "text/codepage.h"

namespace text {

size_t CodePageToWide(unsigned codePage, const char* input, size_t length, char16_t* output,
                      size_t capacity) {
    if (length == 0 || length > INT_MAX) return 0;
    const int size = static_cast<int>(length);
    const int needed = MultiByteToWideChar(codePage, 0, input, size, nullptr, 0);
    if (needed <= 0) return 0;
    // Windows writes a partial result into a buffer that is too small; measure first.
    if (output != nullptr && static_cast<size_t>(needed) <= capacity) {
        if (MultiByteToWideChar(codePage, 0, input, size, AsWide(output), needed) != needed) {
            return 0;
        }
    }
    return static_cast<size_t>(needed);
}

size_t WideToCodePage(unsigned codePage, const char16_t* input, size_t length, char* output,
                      size_t capacity) {
    if (length == 0 || length > INT_MAX) return 0;
    const int size = static_cast<int>(length);
    const int needed =
        WideCharToMultiByte(codePage, 0, AsWide(input), size, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return 0;
    if (output != nullptr && static_cast<size_t>(needed) <= capacity) {
        if (WideCharToMultiByte(codePage, 0, AsWide(input), size, output, needed, nullptr,
                                nullptr) != needed) {
            return 0;
        }
    }
    return static_cast<size_t>(needed);
}

}  // namespace text
