// The progress dialog: a status line, a bar for the current entry, a bar for the whole
// package and Cancel. It only sets flags; the install reads them at fixed points.
#pragma once

#include "platform/win32.h"

namespace updater {

// The dialog procedure given to CreateDialogParamW.
INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace updater
