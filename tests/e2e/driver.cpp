#include "driver.h"

#include <gtest/gtest.h>

#include "app/resource.h"


namespace {

constexpr wchar_t InstallationKey[] = L"Software\\NORTHELM\\Lumenfall";
constexpr int MessageTextId = 0xFFFF;

bool IsDialogClass(HWND window) {
    wchar_t name[32];
    return GetClassNameW(window, name, 32) > 0 && wcscmp(name, L"#32770") == 0;
}

bool IsMessageBox(HWND window) {
    return IsDialogClass(window) && GetDlgItem(window, MessageTextId) && IsWindowVisible(window);
}

bool IsProgressDialog(HWND window) {
    return IsDialogClass(window) && GetDlgItem(window, IDC_ENTRY_BAR) != nullptr;
}

struct Search {
    DWORD processId;
    bool (*accept)(HWND);
    HWND found;
    bool any;  // a visible window of the process
};

BOOL CALLBACK Visit(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<Search*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId) return TRUE;
    search->any = search->any || IsWindowVisible(window);
    if (search->accept(window)) search->found = window;
    return search->found == nullptr;
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
    End();
    CloseHandle(info_.hThread);
    CloseHandle(info_.hProcess);
}

void UpdaterRun::End() {
    if (WaitForSingleObject(info_.hProcess, 0) != WAIT_TIMEOUT) return;
    TerminateProcess(info_.hProcess, 99);
    WaitForSingleObject(info_.hProcess, 5000);
}

bool UpdaterRun::Start(const std::filesystem::path& program) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    std::wstring commandLine = L"\"" + program.wstring() + L"\"";
    return CreateProcessW(program.wstring().c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                          nullptr, nullptr, &startup, &info_) != 0;
}

// Looks for a window of the process that `accept` takes, noting whether it shows any
// window at all, until one is found, the process ends, or time runs out.
HWND UpdaterRun::WaitForWindow(bool (*accept)(HWND), DWORD milliseconds) {
    for (const DWORD start = GetTickCount(); GetTickCount() - start < milliseconds;) {
        Search search{info_.dwProcessId, accept, nullptr, false};
        EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
        sawWindow_ = sawWindow_ || search.any;
        if (search.found != nullptr) return search.found;
        if (WaitForSingleObject(info_.hProcess, 5) == WAIT_OBJECT_0) return nullptr;
    }
    return nullptr;
}

std::optional<Box> UpdaterRun::WaitForBox(DWORD milliseconds) {
    HWND window = WaitForWindow(IsMessageBox, milliseconds);
    if (window == nullptr) return std::nullopt;
    Box box{window, WindowText(window), ControlText(window, MessageTextId), 0};
    for (int id : {IDOK, IDYES, IDNO})
        if (GetWindowLongW(GetDlgItem(window, id), GWL_STYLE) & BS_DEFPUSHBUTTON)
            box.defaultButton = id;
    return box;
}

HWND UpdaterRun::WaitForDialog(DWORD milliseconds) {
    return WaitForWindow(IsProgressDialog, milliseconds);
}

void UpdaterRun::Press(HWND window, int id) {
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
}

void UpdaterRun::Answer(const Box& box, int id) {
    Press(box.window, id);
    for (int i = 0; i < 1000 && IsWindow(box.window); ++i) Sleep(10);
    EXPECT_FALSE(IsWindow(box.window)) << "the box did not close";
}

int UpdaterRun::WaitForExit(DWORD milliseconds) {
    WaitForWindow([](HWND) { return false; }, milliseconds);
    if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
        ADD_FAILURE() << "the updater did not end";
        End();
    }
    DWORD code = 0;
    GetExitCodeProcess(info_.hProcess, &code);
    return static_cast<int>(code);
}
