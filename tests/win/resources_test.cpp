// The resources built into updater.exe, as the system reads them from the real program: the
// manifest the loader applies and the version of the file's properties. The end-to-end runs
// read the live progress dialog.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// <build>/tests/win/resources_test.exe -> <build>/updater.exe
std::wstring UpdaterProgram() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return (fs::path(self).parent_path().parent_path().parent_path() / "updater.exe").wstring();
}

TEST(Resources, ManifestRequestsAdministratorAndPerMonitorAwareness) {
    const std::wstring program = UpdaterProgram();
    ACTCTXW request{};
    request.cbSize = sizeof(request);
    request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.lpSource = program.c_str();
    request.lpResourceName = MAKEINTRESOURCEW(1);
    HANDLE context = CreateActCtxW(&request);
    ASSERT_NE(context, INVALID_HANDLE_VALUE) << "manifest refused, error " << GetLastError();

    ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION runLevel{};
    EXPECT_TRUE(QueryActCtxW(0, context, nullptr, RunlevelInformationInActivationContext, &runLevel,
                             sizeof(runLevel), nullptr));
    EXPECT_EQ(runLevel.RunLevel, ACTCTX_RUN_LEVEL_REQUIRE_ADMIN);
    auto setting = [&](const wchar_t* ns, const wchar_t* name) {
        wchar_t value[64] = {};
        SIZE_T written = 0;
        return QueryActCtxSettingsW(0, context, ns, name, value, 64, &written) ? std::wstring(value)
                                                                               : L"(none)";
    };
    EXPECT_EQ(setting(L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware"),
              L"True/PM");
    EXPECT_EQ(setting(L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness"),
              L"PerMonitorV2, PerMonitor");
    ReleaseActCtx(context);
}

// The properties show the strings of the table the translation names; they must not tell
// another version than the numbers.
TEST(Resources, VersionIsTwoZeroZeroZeroInNumbersAndText) {
    const std::wstring program = UpdaterProgram();
    std::vector<char> block(GetFileVersionInfoSizeW(program.c_str(), nullptr));
    ASSERT_TRUE(GetFileVersionInfoW(program.c_str(), 0, block.size(), block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    WORD* translation = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(std::vector<DWORD>({fixed->dwFileVersionMS, fixed->dwFileVersionLS,
                                  fixed->dwProductVersionMS, fixed->dwProductVersionLS}),
              (std::vector<DWORD>{0x00020000, 0, 0x00020000, 0}));
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    for (const wchar_t* name : {L"FileVersion", L"ProductVersion"}) {
        wchar_t query[64], *text = nullptr;
        swprintf(query, 64, L"\\StringFileInfo\\%04X%04X\\%ls", translation[0], translation[1],
                 name);
        ASSERT_TRUE(VerQueryValueW(block.data(), query, reinterpret_cast<void**>(&text), &length));
        EXPECT_STREQ(text, L"2.0.0.0");
    }
}

}  // namespace
