#include "app/install.h"

#include "app/message_pump.h"
#include "app/messages.h"
#include "app/resource.h"
#include "app/updater_state.h"
#include "package/file.h"
#include "package/install_package.h"
#include "text/encoding.h"
#include "text/format.h"

namespace updater {

namespace {

// Shows the install on the progress dialog's controls (any may be missing, and a missing one
// is left alone) and pumps the dialog's messages between units of work.
class DialogWatcher : public package::InstallWatcher {
public:
    DialogWatcher()
        : status_(GetDlgItem(ProgressDialogWindow, IDC_STATUS)),
          entryBar_(GetDlgItem(ProgressDialogWindow, IDC_ENTRY_BAR)),
          packageBar_(GetDlgItem(ProgressDialogWindow, IDC_PACKAGE_BAR)) {}

    void Begin(size_t entries) override {
        Send(entryBar_, PBM_SETRANGE32, 0, package::EntryProgressRange);
        ShowEntryProgress(0);
        Send(packageBar_, PBM_SETRANGE32, 0, static_cast<LPARAM>(entries));
        ShowPackageProgress(0);
    }
    void StartEntry(const std::u16string& destination) override {
        wchar_t text[text::PathBufferLength];
        // A name too long for the line leaves the line as it was; the copy goes on.
        if (status_ != nullptr && text::FormatWide(AsUtf16(text), text::PathBufferLength,
                                                   AsUtf16(GetMessageText(MessageId::Installing)),
                                                   {destination.c_str()}) >= 0)
            SetWindowTextW(status_, text);
        ShowEntryProgress(0);
    }
    void ShowEntryProgress(uint32_t position) override { Send(entryBar_, PBM_SETPOS, position, 0); }
    void ShowPackageProgress(size_t done) override { Send(packageBar_, PBM_SETPOS, done, 0); }
    bool Pump() override { return PumpMessages() == 0; }
    bool Stopped() override { return InstallAborted != 0 || CancelRequested != 0; }
    void Abort() override { InstallAborted = 1; }

private:
    static void Send(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
        if (control != nullptr) SendMessageW(control, message, wParam, lParam);
    }

    HWND status_;
    HWND entryBar_;
    HWND packageBar_;
};

package::ResultCode Finish(package::ResultCode result) {
    if (InstallAborted) result = package::ResultCode::Interrupted;
    if (CancelRequested) result = package::ResultCode::Cancelled;
    return result;
}

}  // namespace

package::ResultCode InstallUpdate(const wchar_t* installFolder) {
    wchar_t path[text::PathBufferLength];
    if (!package::GetProgramPath(AsUtf16(path), text::PathBufferLength))
        return Finish(package::ResultCode::PackageDamaged);
    return InstallUpdateFrom(path, installFolder);
}

package::ResultCode InstallUpdateFrom(const wchar_t* programPath, const wchar_t* installFolder) {
    DialogWatcher watcher;
    return Finish(package::InstallPackage(AsUtf16(programPath), AsUtf16(installFolder), watcher));
}

}  // namespace updater
