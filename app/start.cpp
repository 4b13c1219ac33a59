#include "app/start.h"

#include <cstring>

#include "app/install.h"
#include "app/messages.h"
#include "app/progress_dialog.h"
#include "app/updater_state.h"
#include "package/update_package.h"
#include "text/encoding.h"
#include "text/format.h"
#include "ui/message_boxes.h"
#include "ui/monitors.h"

namespace {

constexpr char UpdaterMutexName[] = "Updater for Lumenfall is executing.";
constexpr char GameMutexName[] = "Quorvex for Lumenfall is executing.";
constexpr wchar_t Brand[] = L"NORTHELM";
constexpr wchar_t GameTitle[] = L"Lumenfall";
constexpr DWORD RegistryBufferBytes = 8192;

// Creates a named mutex owned by us; false when it existed already (or could not be made).
bool TakeMutex(const char* name, HANDLE& handle) {
    SetLastError(0);
    handle = CreateMutexA(nullptr, TRUE, name);
    return GetLastError() == 0;
}

void ShowOutcome(ResultCode result) {
    const uint32_t code = static_cast<uint32_t>(result);
    if (code == 0)
        ShowInformation(GetMessageText(MessageComplete));
    else if (code >= 0x80000001 && code <= 0x80000003)
        ShowWarning(GetMessageText(MessageDamaged));
    else if (code == 0x80000004)
        ShowWarning(GetMessageText(MessageInstallFailed));
    else if (code == 0x80000005)
        ShowWarning(GetMessageText(MessageUninstallListFailed));
}

// Everything between taking the game's mutex and the outcome; returns the exit code.
int CheckAndInstall(HINSTANCE instance, int showCommand) {
    wchar_t installFolder[PathBufferLength];
    if (!QueryInstalledFolder(installFolder, Brand, GameTitle)) {
        ShowWarning(GetMessageText(MessageNotInstalled));
        return ExitNotInstalled;
    }
    if (AskYesNo(GetMessageText(MessageConfirmInstall)) != IDYES) return ExitDeclined;

    ProgressDialogWindow = CreateDialogParamW(
        instance, MAKEINTRESOURCEW(IsJapanese() ? ProgressDialogJapanese : ProgressDialogEnglish),
        nullptr, ProgressDialogProc, 0);
    if (ProgressDialogWindow == nullptr) {
        ShowWarning(GetMessageText(MessageDialogFailed));
        return ExitDialogFailed;
    }
    BuildMonitorList();
    SetWindowTextW(ProgressDialogWindow, UpdaterTitle);
    CenterWindowOnMonitor(ProgressDialogWindow);
    ShowWindow(ProgressDialogWindow, showCommand);

    const ResultCode result = InstallUpdate(installFolder);
    if (ProgressDialogWindow != nullptr) {
        DestroyWindow(ProgressDialogWindow);
        ProgressDialogWindow = nullptr;
    }
    ShowOutcome(result);
    FreeMonitorList();
    return result;
}

}  // namespace

bool QueryInstalledFolder(wchar_t* folder, const wchar_t* brand, const wchar_t* title) {
    if (brand == nullptr || title == nullptr) return false;
    // The key path is built in the same buffer that later holds the value.
    wchar_t buffer[RegistryBufferBytes / sizeof(wchar_t) + 1] = {};
    if (FormatWide(AsUtf16(buffer), RegistryBufferBytes / sizeof(wchar_t), u"Software\\%s\\%s",
                   {AsUtf16(brand), AsUtf16(title)}) < 0)
        return false;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, buffer, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    DWORD type = 0;
    DWORD size = RegistryBufferBytes;
    const bool found = RegQueryValueExW(key, L"InstalledFolder", nullptr, &type,
                                        reinterpret_cast<BYTE*>(buffer), &size) == ERROR_SUCCESS &&
                       type == REG_SZ;
    RegCloseKey(key);
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
    if (length == 0 || length >= PathBufferLength) return false;
    std::memcpy(folder, text, length * sizeof(wchar_t));
    folder[length] = 0;
    return true;
}

int StartUpdater(HINSTANCE instance, int showCommand) {
    CoInitialize(nullptr);
    CurrentLanguage =
        (GetUserDefaultUILanguage() & 0x3FF) == LANG_JAPANESE ? LanguageJapanese : LanguageEnglish;

    int exitCode = ExitAlreadyRunning;
    HANDLE updaterMutex = nullptr;
    HANDLE gameMutex = nullptr;
    if (TakeMutex(UpdaterMutexName, updaterMutex)) {
        if (!ReadPackageTitle(AsUtf16(UpdaterTitle))) {
            const wchar_t* error = GetMessageText(MessageError);
            wcsncpy(UpdaterTitle, error, TitleCapacity - 1);
            ShowWarning(GetMessageText(MessageNoVersionInformation));
            exitCode = ExitNoPackage;
        } else if (!TakeMutex(GameMutexName, gameMutex)) {
            ShowWarning(GetMessageText(MessageGameRunning));
            exitCode = ExitGameRunning;
        } else {
            exitCode = CheckAndInstall(instance, showCommand);
        }
    }
    if (gameMutex != nullptr) CloseHandle(gameMutex);
    if (updaterMutex != nullptr) CloseHandle(updaterMutex);
    CoUninitialize();
    return exitCode;
}
