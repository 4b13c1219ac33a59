#include "driver.h"

#include <gtest/gtest.h>

#include <vector>

#include "app/resource.h"

namespace {

constexpr wchar_t InstallationKey[] = L"Software\\NORTHELM\\Lumenfall";
constexpr int MessageTextId = 0xFFFF;

bool IsDialogClass(HWND window) {
    wchar_t name[32];
    return GetClassNameW(window, name, 32) > 0 && wcscmp(name, L"#32770") == 0;
}

bool IsMessageBox(HWND window) {
    return IsDialogClass(window) && GetDlgItem(window, MessageTextId) != nullptr &&
           IsWindowVisible(window);
}

bool IsProgressDialog(HWND window) {
    return IsDialogClass(window) && GetDlgItem(window, IDC_ENTRY_BAR) != nullptr;
}

struct Search {
    DWORD processId;
    bool (*accept)(HWND);
    HWND found;
    bool any;
};

BOOL CALLBACK Visit(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<Search*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId) return TRUE;
    if (IsWindowVisible(window)) search->any = true;
    if (search->accept(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

void SetInstalledFolder(const std::wstring& value, DWORD type) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, InstallationKey, 0, nullptr, 0, KEY_WRITE,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, L"InstalledFolder", 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

void ForgetInstallation() {
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, InstallationKey);
}

std::wstring WindowText(HWND window) {
    wchar_t text[2048] = {};
    GetWindowTextW(window, text, 2048);
    return text;
}

std::wstring ControlText(HWND window, int id) {
    return WindowText(GetDlgItem(window, id));
}

UpdaterRun::~UpdaterRun() {
    if (info_.hProcess == nullptr) return;
    if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(info_.hProcess, 99);
        WaitForSingleObject(info_.hProcess, 5000);
    }
    CloseHandle(info_.hThread);
    CloseHandle(info_.hProcess);
}

bool UpdaterRun::Start(const std::filesystem::path& program) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    std::wstring commandLine = L"\"" + program.wstring() + L"\"";
    return CreateProcessW(program.wstring().c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                          nullptr, nullptr, &startup, &info_) != 0;
}

HWND UpdaterRun::FindWindowOf(bool (*accept)(HWND)) {
    Search search{info_.dwProcessId, accept, nullptr, false};
    EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
    if (search.any) sawWindow_ = true;
    return search.found;
}

std::optional<Box> UpdaterRun::WaitForBox(DWORD milliseconds) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < milliseconds) {
        if (HWND window = FindWindowOf(IsMessageBox)) {
            Box box;
            box.window = window;
            box.caption = WindowText(window);
            box.text = ControlText(window, MessageTextId);
            for (int id : {IDOK, IDYES, IDNO})
                if (HWND button = GetDlgItem(window, id))
                    if (GetWindowLongW(button, GWL_STYLE) & BS_DEFPUSHBUTTON)
                        box.defaultButton = id;
            return box;
        }
        if (WaitForSingleObject(info_.hProcess, 20) == WAIT_OBJECT_0) return std::nullopt;
    }
    return std::nullopt;
}

HWND UpdaterRun::WaitForDialog(DWORD milliseconds) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < milliseconds) {
        if (HWND window = FindWindowOf(IsProgressDialog)) return window;
        if (WaitForSingleObject(info_.hProcess, 5) == WAIT_OBJECT_0) return nullptr;
    }
    return nullptr;
}

void UpdaterRun::Press(HWND window, int id) {
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
}

void UpdaterRun::Answer(const Box& box, int id) {
    Press(box.window, id);
    WaitUntilGone(box);
}

void UpdaterRun::WaitUntilGone(const Box& box) {
    for (int i = 0; i < 1000 && IsWindow(box.window); ++i) Sleep(10);
    EXPECT_FALSE(IsWindow(box.window)) << "the box did not close";
}

int UpdaterRun::WaitForExit(DWORD milliseconds) {
    const DWORD start = GetTickCount();
    while (WaitForSingleObject(info_.hProcess, 20) == WAIT_TIMEOUT) {
        FindWindowOf(IsMessageBox);
        if (GetTickCount() - start > milliseconds) {
            ADD_FAILURE() << "the updater did not end";
            TerminateProcess(info_.hProcess, 99);
            WaitForSingleObject(info_.hProcess, 5000);
            break;
        }
    }
    DWORD code = 0;
    GetExitCodeProcess(info_.hProcess, &code);
    return static_cast<int>(code);
}

void UpdaterRun::Suspend() {
    SuspendThread(info_.hThread);
}
void UpdaterRun::Resume() {
    ResumeThread(info_.hThread);
}
