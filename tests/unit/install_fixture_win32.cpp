#include "install_fixture.h"
#include "package/file.h"
#include "platform/win32.h"

using namespace package;

namespace fs = std::filesystem;

namespace {

// Starts `program` with the command line `command`; its process handle, null when it did not
// start. Starting a process under Wine has failed once in a while on a loaded machine; that is
// not the install's doing, so it is tried again.
HANDLE Start(const std::wstring& program, std::wstring command) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (!CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                            nullptr, &startup, &process))
            continue;
        CloseHandle(process.hThread);
        return process.hProcess;
    }
    ADD_FAILURE() << "cannot start " << fs::path(program) << ", error " << GetLastError();
    return nullptr;
}

}  // namespace

// A Unix link made with ln: Wine's CreateSymbolicLinkW makes nothing, and Wine does not wait
// for a Unix program, so neither can we.
void MakeFolderLink(const fs::path& link, const fs::path& target) {
    auto isLink = [&] {
        const uint32_t attributes = GetAttributesAt(link.u16string().c_str());
        return attributes != NoFileAttributes && (attributes & AttributeReparsePoint);
    };
    if (isLink()) return;
    const auto unixName = reinterpret_cast<char* (*)(const wchar_t*)>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    ASSERT_NE(unixName, nullptr) << "not running under Wine";
    std::wstring command = L"ln -s";
    for (const fs::path& path : {target, link}) {
        char* name = unixName(path.wstring().c_str());
        command += L" " + fs::u8path(name).wstring();
        HeapFree(GetProcessHeap(), 0, name);
    }
    const HANDLE ln = Start(L"Z:\\bin\\ln", command);
    if (ln != nullptr) CloseHandle(ln);
    for (int wait = 0; wait < 200 && !isLink(); ++wait) Sleep(50);
    ASSERT_TRUE(isLink());
}

// Runs commit_crash.exe, which stands beside the test.
int RunCrash(const fs::path& program, const fs::path& folder, unsigned step) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring crash = (fs::path(self).parent_path() / "commit_crash.exe").wstring();
    const HANDLE process =
        Start(crash, L"\"" + crash + L"\" \"" + folder.wstring() + L"\" " + std::to_wstring(step) +
                         (program.empty() ? L"" : L" \"" + program.wstring() + L"\""));
    DWORD code = 1000;
    if (process == nullptr) return static_cast<int>(code);
    WaitForSingleObject(process, INFINITE);
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    return static_cast<int>(code);
}
