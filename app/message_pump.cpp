#include "app/message_pump.h"

#include "app/updater_state.h"

namespace updater {

int PumpOneMessage() {
    MSG msg;
    const BOOL got = PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);
    if (!got) return 0;
    if (msg.message == WM_QUIT) throw 0;
    if (ProgressDialogWindow != nullptr && IsDialogMessageW(ProgressDialogWindow, &msg)) return got;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
    return got;
}

int PumpMessages() {
    try {
        while (PumpOneMessage() != 0) {
        }
    } catch (...) {
        return 1;
    }
    return 0;
}

}  // namespace updater
