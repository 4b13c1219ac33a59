// The three message boxes of the updater. Each is owned by `owner` (null for none) and
// shortens `caption` in the middle with "..." to the width its title bar offers for text.
#pragma once

#include "platform/win32.h"

namespace updater {

// Yes and No with a question icon, No the default. The MessageBoxW result (IDYES, IDNO, or 0
// when the box could not be shown).
int AskYesNo(HWND owner, const wchar_t* caption, const wchar_t* text);

// One OK button with a warning icon. The MessageBoxW result.
int ShowWarning(HWND owner, const wchar_t* caption, const wchar_t* text);

// One OK button with an information icon. The MessageBoxW result.
int ShowInformation(HWND owner, const wchar_t* caption, const wchar_t* text);

// The one-shot hook each box installs on its thread; null while none is installed.
extern HHOOK MessageBoxHook;

// WH_CALLWNDPROC hook: at the first WM_INITDIALOG of the thread it subclasses the window when
// it is a dialog box (class "#32770") and removes itself either way.
LRESULT CALLBACK MessageBoxHookProc(int code, WPARAM wParam, LPARAM lParam);

// Subclass (id 1, reference data 0) that fits the caption at WM_INITDIALOG and removes itself
// at WM_DESTROY.
LRESULT CALLBACK MessageBoxSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                        UINT_PTR id, DWORD_PTR data);

// The pixels of `window`'s title bar left for caption text once the visible caption buttons,
// measured at the window's DPI where the system can tell it, and a margin of 5 are taken
// off; -1 when the title bar cannot be queried.
int CaptionTextWidth(HWND window);

// Writes `text`, or the first of its middle-shortened forms that the font selected into `dc`
// draws no wider than `maxWidth`, to `output`, which must hold wcslen(text) + 3 units. With a
// negative width, or when no form fits, the whole text.
void FitTextToWidth(wchar_t* output, const wchar_t* text, HDC dc, int maxWidth);

}  // namespace updater
