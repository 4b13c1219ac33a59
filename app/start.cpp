#include "app/start.h"

#include <cstring>

#include "app/install.h"
#include "app/messages.h"
#include "app/progress_dialog.h"
#include "app/resource.h"
#include "app/updater_state.h"
#include "package/commit.h"
#include "package/file.h"
#include "package/result_code.h"
#include "package/update_package.h"
#include "platform/scoped_handle.h"
#include "text/encoding.h"
#include "text/format.h"
#include "ui/message_boxes.h"
#include "ui/monitors.h"

namespace updater {

namespace {

constexpr char UpdaterMutexName[] = "Updater for Lumenfall is executing.";
constexpr char GameMutexName[] = "Quorvex for Lumenfall is executing.";
constexpr wchar_t Brand[] = L"NORTHELM";
constexpr wchar_t GameTitle[] = L"Lumenfall";
constexpr DWORD RegistryBufferBytes = 8192;

// Creates a named mutex owned by us; false when it existed already (or could not be made).
bool TakeMutex(const char* name, ScopedKernelHandle& handle) {
    SetLastError(0);
    *handle.receive() = CreateMutexA(nullptr, TRUE, name);
    return GetLastError() == 0;
}

void Warn(MessageId message) {
    ShowWarning(ProgressDialogWindow, UpdaterTitle, GetMessageText(message));
}

void ShowOutcome(package::ResultCode result) {
    const uint32_t code = static_cast<uint32_t>(result);
    if (result == package::ResultCode::Ok)
        ShowInformation(ProgressDialogWindow, UpdaterTitle, GetMessageText(MessageId::Complete));
    else if (code >= static_cast<uint32_t>(package::ResultCode::PackageDamaged) &&
             code <= package::LastDamagedPackageCode)
        Warn(MessageId::Damaged);
    else if (result == package::ResultCode::InstallFailed)
        Warn(MessageId::InstallFailed);
    else if (result == package::ResultCode::UninstallListFailed)
        Warn(MessageId::UninstallListFailed);
}

// Everything between taking the game's mutex and the outcome; returns the exit code.
int CheckAndInstall(HINSTANCE instance, int showCommand) {
    wchar_t installFolder[text::PathBufferLength];
    if (!QueryInstalledFolder(installFolder, Brand, GameTitle)) {
        Warn(MessageId::NotInstalled);
        return package::ExitCode(package::StartupExitCode::NotInstalled);
    }
    // Held from before recovery to the end of the run, so that the folder recovered is the
    // folder installed into (it may itself be a link, as a game moved to another drive is). A
    // folder that is not there holds no journal, and the install reports it.
    package::HeldFolder game;
    game.Open(AsUtf16(installFolder), package::HeldFolder::Links::Follow);
    // An update that a crash interrupted is finished or taken back before anything else, so
    // that a player who answers No is not left with a broken game.
    if (!package::RecoverUpdate(AsUtf16(installFolder))) {
        Warn(MessageId::InstallFailed);
        return package::ExitCode(package::ResultCode::InstallFailed);
    }
    if (AskYesNo(ProgressDialogWindow, UpdaterTitle, GetMessageText(MessageId::ConfirmInstall)) !=
        IDYES)
        return package::ExitCode(package::StartupExitCode::Declined);

    ProgressDialogWindow = CreateDialogParamW(
        instance, MAKEINTRESOURCEW(IsJapanese() ? IDD_PROGRESS_JAPANESE : IDD_PROGRESS_ENGLISH),
        nullptr, ProgressDialogProc, 0);
    if (ProgressDialogWindow == nullptr) {
        Warn(MessageId::DialogFailed);
        return package::ExitCode(package::StartupExitCode::DialogFailed);
    }
    BuildMonitorList();
    SetWindowTextW(ProgressDialogWindow, UpdaterTitle);
    CenterWindowOnMonitor(ProgressDialogWindow);
    ShowWindow(ProgressDialogWindow, showCommand);

    const package::ResultCode result = InstallUpdate(installFolder);
    if (ProgressDialogWindow != nullptr) {
        DestroyWindow(ProgressDialogWindow);
        ProgressDialogWindow = nullptr;
    }
    ShowOutcome(result);
    FreeMonitorList();
    return package::ExitCode(result);
}

// The checks and the install while this process holds the updater's mutex, and then the
// game's, so that neither a second updater nor the game can start meanwhile.
int RunAlone(HINSTANCE instance, int showCommand) {
    ScopedKernelHandle updaterMutex;
    if (!TakeMutex(UpdaterMutexName, updaterMutex))
        return package::ExitCode(package::StartupExitCode::AlreadyRunning);
    if (!package::ReadPackageTitle(AsUtf16(UpdaterTitle))) {
        wcsncpy(UpdaterTitle, GetMessageText(MessageId::Error), package::TitleCapacity - 1);
        Warn(MessageId::NoVersionInformation);
        return package::ExitCode(package::StartupExitCode::NoPackage);
    }
    ScopedKernelHandle gameMutex;
    if (!TakeMutex(GameMutexName, gameMutex)) {
        Warn(MessageId::GameRunning);
        return package::ExitCode(package::StartupExitCode::GameRunning);
    }
    return CheckAndInstall(instance, showCommand);
}

}  // namespace

bool QueryInstalledFolder(wchar_t* folder, const wchar_t* brand, const wchar_t* title) {
    if (brand == nullptr || title == nullptr) return false;
    // The key path is built in the same buffer that later holds the value.
    wchar_t buffer[RegistryBufferBytes / sizeof(wchar_t) + 1] = {};
    if (text::FormatWide(AsUtf16(buffer), RegistryBufferBytes / sizeof(wchar_t),
                         u"Software\\%s\\%s", {AsUtf16(brand), AsUtf16(title)}) < 0)
        return false;
    ScopedRegistryKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, buffer, 0, KEY_READ, key.receive()) != ERROR_SUCCESS)
        return false;
    DWORD type = 0;
    DWORD size = RegistryBufferBytes;
    const bool found = RegQueryValueExW(key.get(), L"InstalledFolder", nullptr, &type,
                                        reinterpret_cast<BYTE*>(buffer), &size) == ERROR_SUCCESS &&
                       type == REG_SZ;
    if (!found) return false;

    // The value need not be terminated; the buffer keeps one spare unit that is.
    buffer[std::min<size_t>(size / sizeof(wchar_t), RegistryBufferBytes / sizeof(wchar_t))] = 0;
    const wchar_t* text = buffer;
    size_t length = wcslen(buffer);
    if (length >= 2 && text[0] == L'"' && text[length - 1] == L'"') {
        ++text;
        length -= 2;
    }
    // A folder that does not fit the path buffers is no installation we can update, and an
    // empty one would put the files at the root of the current drive.
    if (length == 0 || length >= text::PathBufferLength) return false;
    std::memcpy(folder, text, length * sizeof(wchar_t));
    folder[length] = 0;
    return true;
}

int StartUpdater(HINSTANCE instance, int showCommand) {
    CoInitialize(nullptr);
    CurrentLanguage =
        (GetUserDefaultUILanguage() & 0x3FF) == LANG_JAPANESE ? LanguageJapanese : LanguageEnglish;
    const int exitCode = RunAlone(instance, showCommand);
    CoUninitialize();
    return exitCode;
}

}  // namespace updater
