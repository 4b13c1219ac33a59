// The real updater.exe under Wine: its manifest as the loader applies it, and runs driven
// through its windows. The Japanese pass runs the scenarios of the progress dialog, which
// install in full or stop, with a Japanese user interface language, which the updater
// inherits; the texts expected follow the language.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "app/resource.h"
#include "driver.h"
#include "fixtures.h"
#include "package/hash_list.h"
#include "tools/upkg/commands.h"

using namespace upkg;

namespace fs = std::filesystem;

namespace {

// The exit codes, as a caller sees them.
constexpr int Ok = 0, ExitNotInstalled = -1, ExitGameRunning = -2, ExitDeclined = -3,
              ExitNoPackage = -5, ExitAlreadyRunning = -6;
constexpr int PackageDamaged = static_cast<int>(0x80000001),
              InstallFailed = static_cast<int>(0x80000004),
              UninstallListFailed = static_cast<int>(0x80000005),
              Cancelled = static_cast<int>(0x80000006), Interrupted = static_cast<int>(0x80000007);
// Short enough for the caption of the smallest box.
const wchar_t* const Title = L"Lumenfall 1.02";

bool JapaneseSession() {
    return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE;
}
std::wstring Text(const wchar_t* english, const wchar_t* japanese) {
    return JapaneseSession() ? japanese : english;
}

// updater.exe beside this test's build folder: build/windows/updater.exe.
fs::path UpdaterProgram() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return fs::path(self).parent_path().parent_path().parent_path() / "updater.exe";
}

TEST(UpdaterProgram, ManifestRequestsAdministratorAndPerMonitorAwareness) {
    const std::wstring program = UpdaterProgram().wstring();
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

class UpdaterE2eTest : public ::testing::Test {
protected:
    void SetUp() override {
        ForgetInstallation();
        fs::remove_all(game_);
        PutFiles(game_, {{"uninst.lst", ToBytes("Game.exe\r\n")},
                         {"Archive/data01000.arc", ToBytes("old")}});
    }
    void TearDown() override { ForgetInstallation(); }

    void BuildUpdate(const FileList& files, const std::string& title = "Lumenfall 1.02") {
        BuildProgram(UpdaterProgram(), root_.path() / "src", files, program_, title);
    }

    void Installed() { SetInstalledFolder(game_.wstring()); }

    // Starts the update and answers its question; the run goes on from the answer.
    void StartAndAnswer(UpdaterRun& run, int answer) {
        ASSERT_TRUE(run.Start(program_));
        std::optional<Box> question = run.WaitForBox();
        ASSERT_TRUE(question);
        EXPECT_EQ(question->caption, Title);
        EXPECT_EQ(question->text, Text(L"Install the update?", L"アップデートを行いますか？"));
        EXPECT_EQ(question->defaultButton, IDNO);
        UpdaterRun::Answer(*question, answer);
    }

    // The outcome box (its text), or empty when the run ended without one; then the exit code.
    std::pair<std::wstring, int> Outcome(UpdaterRun& run) {
        std::wstring text;
        if (std::optional<Box> box = run.WaitForBox(60000)) {
            text = box->text;
            UpdaterRun::Answer(*box, IDOK);
        }
        return {text, run.WaitForExit()};
    }

    ScratchFolder root_;
    fs::path game_ = root_.path() / "game";
    fs::path program_ = root_.path() / "update.exe";
};

// Every way the run can end before the install, with the box a person sees, its exit code,
// and the folder untouched.
TEST_F(UpdaterE2eTest, StartupOutcomes) {
    BuildUpdate({{"Archive/data01000.arc", ToBytes("new")}});
    const struct {
        const char* name;
        std::function<void()> setup;
        const wchar_t *caption, *text;  // the box; a null text: the question, answered No
        int code;
    } rows[] = {
        {"no package, while the game runs", [&] { program_ = UpdaterProgram(); }, L"Error",
         L"Failed to get version information.", ExitNoPackage},
        {"the game runs, checked before the registry", [] { ForgetInstallation(); }, Title,
         L"Update cannot be installed because the game is currently running.", ExitGameRunning},
        {"no key", [] { ForgetInstallation(); }, Title, L"The game is not installed.",
         ExitNotInstalled},
        {"an expandable string", [&] { SetInstalledFolder(game_.wstring(), REG_EXPAND_SZ); }, Title,
         L"The game is not installed.", ExitNotInstalled},
        {"two quotes and nothing between", [] { SetInstalledFolder(L"\"\""); }, Title,
         L"The game is not installed.", ExitNotInstalled},
        {"a journal that cannot be read",
         [&] { WriteFile((game_ / "update.journal").u16string(), ToBytes("UPDJRNL1 cut")); }, Title,
         L"Installation could not be completed.", InstallFailed},
        {"answered No", [] {}, Title, nullptr, ExitDeclined},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Installed();
        const fs::path program = program_;
        row.setup();
        HANDLE game = row.code == ExitGameRunning || row.code == ExitNoPackage
                          ? CreateMutexA(nullptr, TRUE, "Quorvex for Lumenfall is executing.")
                          : nullptr;
        const Tree before = Snapshot(game_);
        UpdaterRun run;
        if (row.text == nullptr) {
            StartAndAnswer(run, IDNO);
        } else {
            ASSERT_TRUE(run.Start(program_));
            std::optional<Box> box = run.WaitForBox();
            ASSERT_TRUE(box);
            EXPECT_EQ(box->caption, row.caption);
            EXPECT_EQ(box->text, row.text);
            UpdaterRun::Answer(*box, IDOK);
        }
        EXPECT_EQ(run.WaitForExit(), row.code);
        EXPECT_EQ(Snapshot(game_), before);
        if (game != nullptr) CloseHandle(game);
        program_ = program;
        fs::remove(game_ / "update.journal");
    }
}

// Each way an install ends, with its message, its code and the folder after.
TEST_F(UpdaterE2eTest, EachInstallOutcomeHasItsMessageAndCode) {
    const Bytes data = Pattern(300000, 1);
    BuildUpdate({{"Archive/data01000.arc", data}, {"Archive/data01020.arc", ToBytes("more")}});
    const Bytes good = ReadFile(program_.u16string());
    Bytes damaged = good;
    damaged[damaged.size() - 100] ^= 1;
    const Tree installed{{"Archive/", {}},
                         {"Archive/data01000.arc", data},
                         {"Archive/data01020.arc", ToBytes("more")}};
    Tree complete = installed;
    complete["uninst.lst"] =
        WrittenList({"game.exe", "archive\\data01000.arc", "archive\\data01020.arc"});
    const struct {
        const char* name;
        std::function<void()> setup;
        const wchar_t* text;
        int code;
        std::optional<Tree> after;  // none: as it was
    } rows[] = {
        {"into a quoted folder", [&] { SetInstalledFolder(L"\"" + game_.wstring() + L"\""); },
         L"Installation complete.", Ok, complete},
        {"a changed byte", [&] { WriteFile(program_.u16string(), damaged); },
         L"The installer may be damaged.", PackageDamaged, std::nullopt},
        {"no folder for the record", [&] { fs::remove_all(game_ / "Archive"); },
         L"Installation could not be completed.", InstallFailed, std::nullopt},
        {"no uninstall list", [&] { fs::remove(game_ / "uninst.lst"); },
         L"Failed to update the installation info.", UninstallListFailed, installed},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        SetUp();
        Installed();
        WriteFile(program_.u16string(), good);
        row.setup();
        const Tree before = Snapshot(game_);
        UpdaterRun run;
        StartAndAnswer(run, IDYES);
        EXPECT_EQ(Outcome(run), std::make_pair(std::wstring(row.text), row.code));
        EXPECT_EQ(Snapshot(game_), row.after.value_or(before));
    }
}

// A publisher signs the update program after building it (sign_update.sh did, with
// osslsigncode): the packer reads it as before and sees the signature, and the updater
// installs it. A signed updater is refused as a stub.
TEST_F(UpdaterE2eTest, ASignedProgramInstalls) {
    const fs::path made = UpdaterProgram().parent_path() / "signed";
    const std::string update = (made / "update.exe").u8string();
    std::string out, err;
    auto upkg = [&](const std::vector<std::string>& arguments) {
        return RunUpkgCaptured(arguments, out, err);
    };
    EXPECT_EQ(upkg({"verify", update}), ExitOk) << err;
    EXPECT_NE(out.find("signed: a certificate table of"), std::string::npos) << out;
    EXPECT_EQ(upkg({"list", update}), ExitOk) << err;
    const std::string x = (root_.path() / "x").u8string();
    EXPECT_EQ(upkg({"extract", update, x}), ExitOk) << err;
    const Bytes data = ToBytes("signed data");
    EXPECT_EQ(Snapshot(x), (Tree{{"Archive/", {}}, {"Archive/data01000.arc", data}}));
    PutFiles(root_.path() / "src", {{"Archive/data01000.arc", data}, {"b", ToBytes("b")}});
    const std::string src = (root_.path() / "src").u8string(), o = x + ".exe";
    const std::string stub = UpdaterProgram().u8string(),
                      signedStub = (made / "updater.exe").u8string();
    EXPECT_EQ(upkg({"build", "--stub", stub, "--title", "T", "-o", o, "--base", update, src}),
              ExitOk)
        << err;
    EXPECT_NE(out.find("1 unchanged files left out"), std::string::npos) << out;
    EXPECT_EQ(upkg({"build", "--stub", signedStub, "--title", "T", "-o", o, src}), ExitUsage);
    EXPECT_NE(err.find("sign the update program after building it"), std::string::npos) << err;

    program_ = made / "update.exe";
    Installed();
    UpdaterRun run;
    StartAndAnswer(run, IDYES);
    EXPECT_EQ(Outcome(run), std::make_pair(std::wstring(L"Installation complete."), Ok));
    EXPECT_EQ(ReadFile(game_ / "Archive/data01000.arc"), data);
}

// A long title is shortened in the middle of the caption; while that updater asks, a second
// one leaves at once without showing a window.
TEST_F(UpdaterE2eTest, LongTitleIsShortenedAndASecondUpdaterLeavesAtOnce) {
    const std::string title =
        "Lumenfall seasonal update with new regions, quests, music and a great "
        "many fixes, version 1.02.3456 final";
    BuildUpdate({{"Archive/data01000.arc", ToBytes("new")}}, title);
    Installed();
    UpdaterRun first, second;
    ASSERT_TRUE(first.Start(program_));
    std::optional<Box> question = first.WaitForBox();
    ASSERT_TRUE(question);
    const std::wstring wide(title.begin(), title.end()), caption = question->caption;
    const size_t dots = caption.find(L"...");
    ASSERT_NE(dots, std::wstring::npos) << "caption: " << fs::path(caption).u8string();
    EXPECT_EQ(wide.substr(0, dots), caption.substr(0, dots));
    EXPECT_GT(caption.size(), dots + 3);
    EXPECT_EQ(wide.substr(wide.size() - (caption.size() - dots - 3)), caption.substr(dots + 3));
    ASSERT_TRUE(second.Start(program_));
    EXPECT_EQ(second.WaitForExit(), ExitAlreadyRunning);
    EXPECT_TRUE(second.ShowedNoWindow());
    EXPECT_TRUE(IsWindowVisible(question->window));
    UpdaterRun::Answer(*question, IDNO);
    EXPECT_EQ(first.WaitForExit(), ExitDeclined);
}

// Input while the dialog copies a large entry: the driver pauses the updater once the big
// entry's temporary file exists, checks that copying has not finished, reads the dialog as a
// person sees it (without sending to the held thread), queues the input and lets it go on;
// the updater handles it at its next pump. Both language passes run these.
class ProgressDialogE2eTest : public UpdaterE2eTest {
protected:
    static constexpr size_t BigSize = 256u << 20;

    void SetUp() override {
        UpdaterE2eTest::SetUp();
        if (std::getenv("UPDATER_E2E_JAPANESE") != nullptr) {
            ASSERT_TRUE(JapaneseSession()) << "the Japanese pass runs in another language";
        }
        BuildUpdate(
            {{"Archive/big.arc", Pattern(BigSize, 3)}, {"Archive/data01000.arc", ToBytes("new")}});
    }

    HWND PauseWhileCopying(UpdaterRun& run) {
        StartAndAnswer(run, IDYES);
        HWND dialog = run.WaitForDialog();
        EXPECT_NE(dialog, nullptr);
        const fs::path temporary = game_ / "Archive" / "big.arc.tmp";
        for (int i = 0; i < 2000 && !fs::exists(temporary); ++i) Sleep(1);
        run.Suspend();
        std::error_code ec;
        const uintmax_t copied = fs::file_size(temporary, ec);
        EXPECT_FALSE(ec) << "copying never began";
        EXPECT_LT(copied, BigSize) << "copying finished before the driver could pause it";
        EXPECT_EQ(WindowText(dialog), Title);
        EXPECT_EQ(ControlText(dialog, IDC_STATUS), Text(L"Installing \"Archive\\big.arc\".",
                                                        L"\"Archive\\big.arc\"をインストール中"));
        EXPECT_EQ(ControlText(dialog, IDC_CANCEL), Text(L"Cancel", L"中止"));
        for (const auto& [id, name] : {std::pair{IDC_CANCEL, L"Button"},
                                       {IDC_STATUS, L"Static"},
                                       {IDC_ENTRY_BAR, PROGRESS_CLASSW},
                                       {IDC_PACKAGE_BAR, PROGRESS_CLASSW}}) {
            wchar_t found[64] = {};
            GetClassNameW(GetDlgItem(dialog, id), found, 64);
            EXPECT_STREQ(found, name);
        }
        EXPECT_EQ(GetWindowLongW(dialog, GWL_STYLE) & (WS_POPUP | WS_CAPTION | WS_SYSMENU),
                  WS_POPUP | WS_CAPTION);
        RECT box;
        GetWindowRect(dialog, &box);
        EXPECT_EQ(box.left, (GetSystemMetrics(SM_CXSCREEN) - (box.right - box.left)) / 2);
        EXPECT_EQ(box.top, (GetSystemMetrics(SM_CYSCREEN) - (box.bottom - box.top)) / 2);
        return dialog;
    }
};

TEST_F(ProgressDialogE2eTest, CancelClosingEscapeAndAltF4) {
    const Tree before = Snapshot(game_);
    const std::wstring complete = Text(L"Installation complete.", L"インストールが完了しました。");
    const std::wstring cancel = Text(L"Cancel the installation?", L"インストールを中止しますか？");
    const struct {
        const char* name;
        void (*input)(HWND dialog);
        int answer;            // to the question Cancel asks; 0: none asked
        std::wstring outcome;  // the last box's text; empty: none
        int code;
    } rows[] = {
        {"Cancel answered No goes on", [](HWND d) { UpdaterRun::Press(d, IDC_CANCEL); }, IDNO,
         complete, Ok},
        {"Cancel answered Yes: nothing installed, nothing said",
         [](HWND d) { UpdaterRun::Press(d, IDC_CANCEL); }, IDYES, L"", Cancelled},
        {"closing the dialog", [](HWND d) { PostMessageW(d, WM_CLOSE, 0, 0); }, 0, L"",
         Interrupted},
        {"Escape and Alt+F4 do nothing",
         [](HWND d) {
             PostMessageW(d, WM_KEYDOWN, VK_ESCAPE, 0);
             PostMessageW(d, WM_KEYUP, VK_ESCAPE, 0);
             PostMessageW(d, WM_SYSCOMMAND, SC_CLOSE, 0);
         },
         0, complete, Ok},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        UpdaterE2eTest::SetUp();
        Installed();
        UpdaterRun run;
        row.input(PauseWhileCopying(run));
        run.Resume();
        if (row.answer != 0) {
            std::optional<Box> question = run.WaitForBox();
            ASSERT_TRUE(question);
            EXPECT_EQ(question->text, cancel);
            EXPECT_EQ(question->defaultButton, IDNO);
            // While the question is open the copy waits and the dialog answers.
            HWND dialog = GetWindow(question->window, GW_OWNER);
            EXPECT_EQ(SendMessageW(GetDlgItem(dialog, IDC_ENTRY_BAR), PBM_GETRANGE, 0, 0), 65535);
            EXPECT_EQ(SendMessageW(GetDlgItem(dialog, IDC_PACKAGE_BAR), PBM_GETRANGE, 0, 0), 3);
            EXPECT_EQ(SendMessageW(GetDlgItem(dialog, IDC_PACKAGE_BAR), PBM_GETPOS, 0, 0), 1);
            UpdaterRun::Answer(*question, row.answer);
        }
        EXPECT_EQ(Outcome(run), std::make_pair(row.outcome, row.code));
        if (row.code != Ok) {
            EXPECT_EQ(Snapshot(game_), before);
        } else {
            EXPECT_EQ(ReadFile((game_ / "Archive" / "big.arc").u16string()).size(), BigSize);
        }
    }
}

}  // namespace
