// Every change the updater makes to its progress dialog, as recorded from inside its thread
// by dialog_hook.dll; the driver cannot poll states that last only between two chunks.
#pragma once

#include <string>
#include <vector>

#include "dialog_record.h"
#include "driver.h"

// One change, with the dialog as it stood right after it.
struct DialogChange {
    int control = 0;  // dialog_record::DialogId for the dialog itself
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    int entryPosition = 0, entryHigh = 0;
    int packagePosition = 0, packageHigh = 0;
    std::wstring status;
    std::wstring caption;
};

class DialogRecorder {
public:
    DialogRecorder() = default;
    ~DialogRecorder();
    DialogRecorder(const DialogRecorder&) = delete;
    DialogRecorder& operator=(const DialogRecorder&) = delete;

    // Hooks the thread of a started run; call it before the run can show its dialog.
    bool Attach(const UpdaterRun& run);

    // What was recorded; read it once the run has ended.
    std::vector<DialogChange> Changes() const;
    // Changes that did not fit the record.
    long Dropped() const { return record_ != nullptr ? record_->dropped : 0; }

private:
    HANDLE section_ = nullptr;
    dialog_record::Record* record_ = nullptr;
    HMODULE hookModule_ = nullptr;
    HHOOK hook_ = nullptr;
};
