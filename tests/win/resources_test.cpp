// The resources built into updater.exe, as the system reads them from the real program: the
// manifest the loader applies. The end-to-end runs read the live progress dialog.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

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

}  // namespace
