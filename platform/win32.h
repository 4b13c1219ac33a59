// The one place that includes <windows.h> (and <commctrl.h>), for Windows-only sources.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0A00
#endif
#include <windows.h>
// Progress bars, subclassing and COM; they need <windows.h> first.
#include <commctrl.h>
#include <objbase.h>

// The portable core speaks char16_t; Win32 speaks wchar_t. Both are 16-bit UTF-16 units.
static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t expected");
inline const wchar_t* AsWide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}
inline wchar_t* AsWide(char16_t* text) {
    return reinterpret_cast<wchar_t*>(text);
}
inline const char16_t* AsUtf16(const wchar_t* text) {
    return reinterpret_cast<const char16_t*>(text);
}
inline char16_t* AsUtf16(wchar_t* text) {
    return reinterpret_cast<char16_t*>(text);
}
