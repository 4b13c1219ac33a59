// What the hook of ours in the updater's thread writes about the progress dialog, read by the
// driver once the updater has ended. Both sides share this layout through a section that the
// driver creates and names after the updater's process id.
#pragma once

#include <cwchar>

#include "app/resource.h"
#include "platform/win32.h"

namespace dialog_record {

constexpr int DialogId = 0;  // the dialog itself; its controls go by their own ids
constexpr int TextLength = 160;
constexpr LONG Capacity = 1024;

// One change to the dialog or to one of its controls, with the whole dialog as it stood
// right after the window had handled it.
struct Change {
    int control;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;  // 0 for a text: its pointer means nothing to the driver
    int entryPosition, entryHigh;
    int packagePosition, packageHigh;
    wchar_t status[TextLength];
    wchar_t caption[TextLength];
};

struct Record {
    LONG count;
    LONG dropped;  // changes beyond Capacity
    Change changes[Capacity];
};

inline void SectionName(wchar_t (&name)[64], DWORD processId) {
    std::swprintf(name, 64, L"Local\\UpdaterE2eDialogRecord-%lu",
                  static_cast<unsigned long>(processId));
}

}  // namespace dialog_record
