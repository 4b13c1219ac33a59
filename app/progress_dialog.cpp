#include "app/progress_dialog.h"

#include "app/messages.h"
#include "app/resource.h"
#include "app/updater_state.h"
#include "ui/message_boxes.h"

namespace updater {

INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            return 1;
        case WM_COMMAND:
            if (LOWORD(wParam) != IDC_CANCEL || HIWORD(wParam) != BN_CLICKED) return 0;
            // A click queued behind a confirmed cancel asks nothing.
            if (CancelRequested) return 1;
            if (AskYesNo(ProgressDialogWindow, UpdaterTitle,
                         GetMessageText(MessageId::ConfirmCancel)) == IDYES) {
                CancelRequested = 1;
                if (HWND button = GetDlgItem(window, IDC_CANCEL)) EnableWindow(button, FALSE);
            }
            return 1;
        case WM_SYSCOMMAND:
            // Alt+F4 and the like must not close the dialog in the middle of an install.
            return (wParam & 0xFFF0) == SC_CLOSE ? 1 : 0;
        case WM_CLOSE:
            InstallAborted = 1;
            DestroyWindow(ProgressDialogWindow);
            ProgressDialogWindow = nullptr;
            return 1;
        default:
            return 0;
    }
}

}  // namespace updater
