// A WH_CALLWNDPROCRET hook that Windows loads into the updater's thread: it writes every
// change to the progress dialog's caption, status line and bars into the driver's section.
// Those states last only between two chunks of the copy, too briefly for the driver to poll.
#include "dialog_record.h"

namespace {

using dialog_record::Change;
using dialog_record::Record;

bool IsProgressDialog(HWND window) {
    wchar_t name[16];
    return window != nullptr && GetClassNameW(window, name, 16) > 0 &&
           wcscmp(name, L"#32770") == 0 && GetDlgItem(window, IDC_ENTRY_BAR) != nullptr;
}

bool ChangesTheDialog(UINT message) {
    switch (message) {
        case WM_SETTEXT:
        case PBM_SETRANGE:
        case PBM_SETRANGE32:
        case PBM_SETPOS:
        case PBM_DELTAPOS:
        case PBM_STEPIT:
            return true;
        default:
            return false;
    }
}

Record* OpenRecord() {
    static Record* record = nullptr;
    if (record != nullptr) return record;
    wchar_t name[64];
    dialog_record::SectionName(name, GetCurrentProcessId());
    HANDLE section = OpenFileMappingW(FILE_MAP_WRITE, FALSE, name);
    if (section == nullptr) return nullptr;
    // The view stays for the life of the process, and with it the section.
    record = static_cast<Record*>(MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, sizeof(Record)));
    return record;
}

int Position(HWND bar) {
    return static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0));
}
int High(HWND bar) {
    return static_cast<int>(SendMessageW(bar, PBM_GETRANGE, FALSE, 0));
}

void Note(HWND window, const CWPRETSTRUCT& call) {
    HWND dialog = window;
    int control = dialog_record::DialogId;
    if (!IsProgressDialog(dialog)) {
        dialog = GetParent(window);
        if (!IsProgressDialog(dialog)) return;
        control = GetDlgCtrlID(window);
    }
    Record* record = OpenRecord();
    if (record == nullptr) return;
    if (record->count >= dialog_record::Capacity) {
        ++record->dropped;
        return;
    }
    Change& change = record->changes[record->count];
    change.control = control;
    change.message = call.message;
    change.wParam = call.wParam;
    change.lParam = call.message == WM_SETTEXT ? 0 : call.lParam;
    HWND entryBar = GetDlgItem(dialog, IDC_ENTRY_BAR);
    HWND packageBar = GetDlgItem(dialog, IDC_PACKAGE_BAR);
    change.entryPosition = Position(entryBar);
    change.entryHigh = High(entryBar);
    change.packagePosition = packageBar != nullptr ? Position(packageBar) : -1;
    change.packageHigh = packageBar != nullptr ? High(packageBar) : -1;
    change.status[0] = 0;
    GetWindowTextW(GetDlgItem(dialog, IDC_STATUS), change.status, dialog_record::TextLength);
    GetWindowTextW(dialog, change.caption, dialog_record::TextLength);
    // Counted last, so every counted change is whole when the driver reads it.
    ++record->count;
}

}  // namespace

// Exported by its plain name, which the driver asks GetProcAddress for.
extern "C" __attribute__((dllexport)) LRESULT CALLBACK RecordDialogChange(int code, WPARAM wParam,
                                                                          LPARAM lParam) {
    if (code == HC_ACTION) {
        const auto* call = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
        if (ChangesTheDialog(call->message)) Note(call->hwnd, *call);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
