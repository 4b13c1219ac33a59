// The progress dialog: a status line, a bar for the current entry, a bar for the whole
// package and Cancel. It only sets flags; the install reads them at fixed points.
#pragma once

#include "text/win32.h"

// Dialog templates, by language.
constexpr int ProgressDialogJapanese = 102;
constexpr int ProgressDialogEnglish = 103;
constexpr int CancelButtonId = 1000;

// The dialog procedure given to CreateDialogParamW.
INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
