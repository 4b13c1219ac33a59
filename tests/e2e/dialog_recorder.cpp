#include "dialog_recorder.h"

#include <algorithm>
#include <filesystem>

namespace {

// The hook's library is built beside this program.
std::filesystem::path HookLibrary() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return std::filesystem::path(self).parent_path() / "dialog_hook.dll";
}

}  // namespace

DialogRecorder::~DialogRecorder() {
    if (hook_ != nullptr) UnhookWindowsHookEx(hook_);
    if (hookModule_ != nullptr) FreeLibrary(hookModule_);
    if (record_ != nullptr) UnmapViewOfFile(record_);
    if (section_ != nullptr) CloseHandle(section_);
}

bool DialogRecorder::Attach(const UpdaterRun& run) {
    // The section exists before the hook can run, and outlives the updater: this side keeps it.
    wchar_t name[64];
    dialog_record::SectionName(name, run.processId());
    section_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                  sizeof(dialog_record::Record), name);
    if (section_ == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) return false;
    record_ = static_cast<dialog_record::Record*>(
        MapViewOfFile(section_, FILE_MAP_READ, 0, 0, sizeof(dialog_record::Record)));
    if (record_ == nullptr) return false;
    hookModule_ = LoadLibraryW(HookLibrary().wstring().c_str());
    if (hookModule_ == nullptr) return false;
    FARPROC exported = GetProcAddress(hookModule_, "RecordDialogChange");
    if (exported == nullptr) return false;
    // Through void (*)(), the one pointer type GCC lets any function pointer pass through.
    auto procedure = reinterpret_cast<HOOKPROC>(reinterpret_cast<void (*)()>(exported));
    // With the module given, Windows loads the library into the updater and calls it there.
    hook_ = SetWindowsHookExW(WH_CALLWNDPROCRET, procedure, hookModule_, run.threadId());
    return hook_ != nullptr;
}

std::vector<DialogChange> DialogRecorder::Changes() const {
    std::vector<DialogChange> changes;
    if (record_ == nullptr) return changes;
    const LONG count = std::min(record_->count, dialog_record::Capacity);
    for (LONG i = 0; i < count; ++i) {
        const dialog_record::Change& change = record_->changes[i];
        DialogChange copy;
        copy.control = change.control;
        copy.message = change.message;
        copy.wParam = change.wParam;
        copy.lParam = change.lParam;
        copy.entryPosition = change.entryPosition;
        copy.entryHigh = change.entryHigh;
        copy.packagePosition = change.packagePosition;
        copy.packageHigh = change.packageHigh;
        copy.status.assign(change.status, wcsnlen(change.status, dialog_record::TextLength));
        copy.caption.assign(change.caption, wcsnlen(change.caption, dialog_record::TextLength));
        changes.push_back(std::move(copy));
    }
    return changes;
}
