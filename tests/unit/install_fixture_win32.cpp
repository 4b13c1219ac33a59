#include "install_fixture.h"
#include "package/file.h"
#include "platform/win32.h"

namespace fs = std::filesystem;

const bool NamesIgnoreCase = true;

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
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(L"Z:\\bin\\ln", &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &process));
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (int wait = 0; wait < 200 && !isLink(); ++wait) Sleep(50);
    ASSERT_TRUE(isLink());
}

// Runs commit_crash.exe, which stands beside the test.
int RunCrash(const fs::path& program, const fs::path& folder, unsigned step) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring crash = (fs::path(self).parent_path() / "commit_crash.exe").wstring();
    std::wstring command = L"\"" + crash + L"\" \"" + folder.wstring() + L"\" " +
                           std::to_wstring(step) +
                           (program.empty() ? L"" : L" \"" + program.wstring() + L"\"");
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // Starting a process under Wine has failed once in a while on a loaded machine; that is
    // not the install's doing, so it is tried again.
    bool started = false;
    for (int attempt = 0; attempt < 3 && !started; ++attempt)
        started = CreateProcessW(crash.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                                 nullptr, &startup, &process);
    DWORD code = 1000;
    EXPECT_TRUE(started) << "commit_crash.exe did not start, error " << GetLastError();
    if (!started) return static_cast<int>(code);
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}
