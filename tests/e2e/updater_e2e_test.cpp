// The real updater.exe, driven through its windows under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>

#include "app/journal.h"
#include "app/resource.h"
#include "dialog_recorder.h"
#include "driver.h"
#include "fixtures.h"
#include "package/hash_list.h"
#include "tools/upkg/build.h"

namespace fs = std::filesystem;

namespace {

constexpr int ExitNotInstalled = -1, ExitGameRunning = -2, ExitDeclined = -3, ExitNoPackage = -5,
              ExitAlreadyRunning = -6;
constexpr int Ok = 0;
constexpr int PackageDamaged = static_cast<int>(0x80000001),
              InstallFailed = static_cast<int>(0x80000004),
              UninstallListFailed = static_cast<int>(0x80000005),
              Cancelled = static_cast<int>(0x80000006), Interrupted = static_cast<int>(0x80000007);
// Short enough for the caption of the smallest box.
const wchar_t* const Title = L"Lumenfall 1.02";

// updater.exe beside this test's build folder: build/windows/updater.exe.
fs::path UpdaterProgram() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return fs::path(self).parent_path().parent_path().parent_path() / "updater.exe";
}

// The Japanese runs come from a second run of this program with a Japanese user interface
// language (LC_ALL=ja_JP.UTF-8 under Wine), which the updater inherits.
bool JapaneseSession() {
    return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE;
}

using Tree = std::map<std::string, Bytes>;

Tree Snapshot(const fs::path& root) {
    Tree tree;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
        const std::string relative = entry.path().lexically_relative(root).generic_u8string();
        tree[relative + (entry.is_directory() ? "/" : "")] =
            entry.is_directory() ? Bytes{} : ReadFile(entry.path().u16string());
    }
    return tree;
}

// Names what differs, rather than printing two whole folders.
void ExpectTree(const Tree& actual, const Tree& expected) {
    for (const auto& [path, bytes] : expected) {
        auto found = actual.find(path);
        if (found == actual.end())
            ADD_FAILURE() << "missing: " << path;
        else if (found->second != bytes)
            ADD_FAILURE() << "differs: " << path << " ("
                          << std::string(found->second.begin(), found->second.end()).substr(0, 200)
                          << ")";
    }
    for (const auto& [path, bytes] : actual)
        if (!expected.count(path)) ADD_FAILURE() << "unexpected: " << path;
}

class UpdaterE2eTest : public ::testing::Test {
protected:
    void SetUp() override {
        ForgetInstallation();
        fs::create_directories(game_ / "Archive");
        WriteFile((game_ / "uninst.lst").u16string(), ToBytes("Game.exe\r\n"));
        WriteFile((game_ / "Archive" / "data01000.arc").u16string(), ToBytes("old"));
    }
    void TearDown() override { ForgetInstallation(); }

    void BuildUpdate(const std::vector<std::pair<std::string, Bytes>>& files,
                     const std::string& title = "Lumenfall 1.02", const fs::path& base = {}) {
        fs::create_directories(root_.path() / "src");
        for (const auto& [path, bytes] : files) {
            const fs::path file = root_.path() / "src" / fs::u8path(path);
            fs::create_directories(file.parent_path());
            WriteFile(file.u16string(), bytes);
        }
        BuildRequest request;
        request.stub = UpdaterProgram().u8string();
        request.title = title;
        request.output = program_.u8string();
        request.source = (root_.path() / "src").u8string();
        request.base = base.u8string();
        request.quiet = true;
        std::string error;
        ASSERT_EQ(BuildPackage(request, error), BuildResult::Built) << error;
    }

    void Installed() { SetInstalledFolder(game_.wstring()); }

    // Starts the update and answers its question; the run goes on from the answer. The dialog
    // comes only after the answer, so a recorder attached here sees the whole of it.
    void StartAndAnswer(UpdaterRun& run, int answer, DialogRecorder* recorder = nullptr) {
        const bool japanese = JapaneseSession();
        ASSERT_TRUE(run.Start(program_));
        if (recorder != nullptr) {
            ASSERT_TRUE(recorder->Attach(run)) << "cannot hook the updater";
        }
        std::optional<Box> question = run.WaitForBox();
        ASSERT_TRUE(question);
        EXPECT_EQ(question->caption, Title);
        EXPECT_EQ(question->text,
                  japanese ? L"アップデートを行いますか？" : L"Install the update?");
        EXPECT_EQ(question->defaultButton, IDNO);
        UpdaterRun::Answer(*question, answer);
    }

    // The outcome box (its text), or empty when the run ended without one; then the exit code.
    std::pair<std::wstring, int> Outcome(UpdaterRun& run) {
        std::wstring text;
        if (std::optional<Box> box = run.WaitForBox(60000)) {
            EXPECT_EQ(box->caption, Title);
            text = box->text;
            UpdaterRun::Answer(*box, IDOK);
        }
        return {text, run.WaitForExit()};
    }

    ScratchFolder root_;
    fs::path game_ = root_.path() / "game";
    fs::path program_ = root_.path() / "update.exe";
};

TEST_F(UpdaterE2eTest, ProgramWithoutPackageSaysSoEvenWhileTheGameRuns) {
    HANDLE game = CreateMutexA(nullptr, TRUE, "Quorvex for Lumenfall is executing.");
    Installed();
    UpdaterRun run;
    ASSERT_TRUE(run.Start(UpdaterProgram()));
    std::optional<Box> box = run.WaitForBox();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->caption, L"Error");
    EXPECT_EQ(box->text, L"Failed to get version information.");
    UpdaterRun::Answer(*box, IDOK);
    EXPECT_EQ(run.WaitForExit(), ExitNoPackage);
    CloseHandle(game);
}

TEST_F(UpdaterE2eTest, RunningGameIsRefusedBeforeTheRegistryIsRead) {
    BuildUpdate({{"Archive/data01000.arc", ToBytes("new")}});
    HANDLE game = CreateMutexA(nullptr, TRUE, "Quorvex for Lumenfall is executing.");
    UpdaterRun run;
    ASSERT_TRUE(run.Start(program_));
    std::optional<Box> box = run.WaitForBox();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->caption, Title);
    EXPECT_EQ(box->text, L"Update cannot be installed because the game is currently running.");
    UpdaterRun::Answer(*box, IDOK);
    EXPECT_EQ(run.WaitForExit(), ExitGameRunning);
    CloseHandle(game);
}

TEST_F(UpdaterE2eTest, GameNotFoundInTheRegistry) {
    BuildUpdate({{"Archive/data01000.arc", ToBytes("new")}});
    const Tree before = Snapshot(game_);
    struct Case {
        const char* what;
        std::wstring value;
        DWORD type;
    };
    const Case cases[] = {
        {"no key", L"", REG_NONE},
        {"expandable string", game_.wstring(), REG_EXPAND_SZ},
        {"two quotes and nothing between", L"\"\"", REG_SZ},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ForgetInstallation();
        if (c.type != REG_NONE) SetInstalledFolder(c.value, c.type);
        UpdaterRun run;
        ASSERT_TRUE(run.Start(program_));
        std::optional<Box> box = run.WaitForBox();
        ASSERT_TRUE(box);
        EXPECT_EQ(box->text, L"The game is not installed.");
        UpdaterRun::Answer(*box, IDOK);
        EXPECT_EQ(run.WaitForExit(), ExitNotInstalled);
    }
    EXPECT_EQ(Snapshot(game_), before);
}

TEST_F(UpdaterE2eTest, DecliningEndsWithoutAnotherWord) {
    BuildUpdate({{"Archive/data01000.arc", ToBytes("new")}});
    Installed();
    const Tree before = Snapshot(game_);
    {
        UpdaterRun run;
        StartAndAnswer(run, IDNO);
        EXPECT_EQ(Outcome(run), std::make_pair(std::wstring(), ExitDeclined));
    }
    {
        // Enter presses the default button, No.
        UpdaterRun run;
        ASSERT_TRUE(run.Start(program_));
        std::optional<Box> question = run.WaitForBox();
        ASSERT_TRUE(question);
        HWND no = GetDlgItem(question->window, IDNO);
        PostMessageW(no, WM_KEYDOWN, VK_RETURN, 0);
        PostMessageW(no, WM_KEYUP, VK_RETURN, 0);
        UpdaterRun::WaitUntilGone(*question);
        EXPECT_EQ(Outcome(run), std::make_pair(std::wstring(), ExitDeclined));
    }
    EXPECT_EQ(Snapshot(game_), before);
}

TEST_F(UpdaterE2eTest, InterruptedUpdateIsTakenBackBeforeTheQuestion) {
    BuildUpdate({{"a.arc", ToBytes("new")}});
    Installed();
    WriteFile((game_ / "a.arc").u16string(), ToBytes("old"));
    const Tree before = Snapshot(game_);
    // A crash in the middle of a commit: a.arc set aside, the new file moved in.
    fs::rename(game_ / "a.arc", game_ / "a.arc.7.old");
    WriteFile((game_ / "a.arc").u16string(), ToBytes("new"));
    Journal journal;
    journal.moves.push_back({L"a.arc", L"a.arc.7.old", FILE_ATTRIBUTE_ARCHIVE});
    ASSERT_TRUE(WriteJournal(game_.wstring().c_str(), journal));
    {
        UpdaterRun run;
        StartAndAnswer(run, IDNO);
        EXPECT_EQ(Outcome(run), std::make_pair(std::wstring(), ExitDeclined));
    }
    EXPECT_EQ(Snapshot(game_), before);

    // A journal that cannot be read stops the run before the question.
    WriteFile((game_ / "update.journal").u16string(), ToBytes("UPDJRNL1 cut short"));
    UpdaterRun run;
    ASSERT_TRUE(run.Start(program_));
    EXPECT_EQ(Outcome(run),
              std::make_pair(std::wstring(L"Installation could not be completed."), InstallFailed));
    EXPECT_EQ(Snapshot(game_).size(), before.size() + 1);
}

TEST_F(UpdaterE2eTest, SecondUpdaterLeavesAtOnceWithoutAWindow) {
    BuildUpdate({{"Archive/data01000.arc", ToBytes("new")}});
    Installed();
    UpdaterRun first;
    ASSERT_TRUE(first.Start(program_));
    std::optional<Box> question = first.WaitForBox();
    ASSERT_TRUE(question);

    UpdaterRun second;
    ASSERT_TRUE(second.Start(program_));
    EXPECT_EQ(second.WaitForExit(), ExitAlreadyRunning);
    EXPECT_TRUE(second.ShowedNoWindow());

    EXPECT_TRUE(IsWindowVisible(question->window));
    UpdaterRun::Answer(*question, IDNO);
    EXPECT_EQ(first.WaitForExit(), ExitDeclined);
}

TEST_F(UpdaterE2eTest, FullInstallIntoAQuotedFolder) {
    const Bytes data = Pattern(300000, 1);
    BuildUpdate({{"Archive/data01000.arc", data}, {"Archive/data01020.arc", ToBytes("more")}});
    SetInstalledFolder(L"\"" + game_.wstring() + L"\"");
    UpdaterRun run;
    StartAndAnswer(run, IDYES);
    EXPECT_EQ(Outcome(run), std::make_pair(std::wstring(L"Installation complete."), Ok));
    ExpectTree(Snapshot(game_),
               Tree{{"Archive/", {}},
                    {"Archive/data01000.arc", data},
                    {"Archive/data01020.arc", ToBytes("more")},
                    {"uninst.lst", ToBytes(std::string("game.exe\narchive\\data01000.arc\n"
                                                       "archive\\data01020.arc\n\0",
                                                       54))}});
}

TEST_F(UpdaterE2eTest, JapaneseInstall) {
    if (!JapaneseSession()) GTEST_SKIP() << "runs with a Japanese user interface language";
    BuildUpdate({{"Archive/data01000.arc", ToBytes("new")}});
    // A file in a folder with a Japanese name, recorded in code page 932: pruning must find it.
    const std::string saved = "\x83\x41\x83\x43\x83\x65\x83\x80\\Save.DAT";
    fs::create_directories(game_ / L"アイテム");
    WriteFile((game_ / L"アイテム" / L"Save.DAT").u16string(), ToBytes("save"));
    WriteFile((game_ / "zol.hvl").u16string(), MakeHashList(HashListMagicV2, 0, {{saved, 7}}));
    Installed();
    UpdaterRun run;
    StartAndAnswer(run, IDYES);
    EXPECT_EQ(Outcome(run), std::make_pair(std::wstring(L"インストールが完了しました。"), Ok));
    EXPECT_EQ(ReadFile((game_ / "zol.hvl").u16string()),
              MakeHashList(HashListMagicV2, 0,
                           {{saved, 7}, {"Archive\\data01000.arc", ChecksumOf(ToBytes("new"))}}));
}

TEST_F(UpdaterE2eTest, EachFailureHasItsMessageAndCode) {
    BuildUpdate({{"Archive/data01000.arc", Pattern(5000, 2)}});
    Installed();
    {
        Bytes damaged = ReadFile(program_.u16string());
        damaged[damaged.size() - 100] ^= 1;
        WriteFile(program_.u16string(), damaged);
        const Tree before = Snapshot(game_);
        UpdaterRun run;
        StartAndAnswer(run, IDYES);
        EXPECT_EQ(Outcome(run),
                  std::make_pair(std::wstring(L"The installer may be damaged."), PackageDamaged));
        EXPECT_EQ(Snapshot(game_), before);
    }
    fs::remove(program_);
    BuildUpdate({{"Archive/data01000.arc", Pattern(5000, 2)}});
    {
        fs::remove_all(game_ / "Archive");
        const Tree before = Snapshot(game_);
        UpdaterRun run;
        StartAndAnswer(run, IDYES);
        EXPECT_EQ(
            Outcome(run),
            std::make_pair(std::wstring(L"Installation could not be completed."), InstallFailed));
        EXPECT_EQ(Snapshot(game_), before);
    }
    {
        fs::create_directories(game_ / "Archive");
        fs::remove(game_ / "uninst.lst");
        UpdaterRun run;
        StartAndAnswer(run, IDYES);
        EXPECT_EQ(Outcome(run),
                  std::make_pair(std::wstring(L"Failed to update the installation info."),
                                 UninstallListFailed));
        EXPECT_EQ(ReadFile((game_ / "Archive" / "data01000.arc").u16string()), Pattern(5000, 2));
    }
}

// A small update built against the full release, installed over it, leaves the same folder
// and the same records as the next full release does.
TEST_F(UpdaterE2eTest, SmallUpdateInstallsWhatTheFullReleaseDoes) {
    const fs::path first = root_.path() / "1.01.exe", full = root_.path() / "1.02.exe";
    BuildUpdate({{"Archive/data01000.arc", Pattern(5000, 1)},
                 {"Archive/data01020.arc", ToBytes("same")},
                 {"readme.txt", ToBytes("1.01")}});
    fs::rename(program_, first);
    BuildUpdate({{"Archive/data01000.arc", Pattern(5000, 2)},
                 {"Archive/data01040.arc", ToBytes("new")},
                 {"readme.txt", ToBytes("1.02")}});
    fs::rename(program_, full);
    BuildUpdate({}, "Lumenfall 1.02", first);
    const fs::path small = root_.path() / "small.exe";
    fs::rename(program_, small);
    EXPECT_LT(fs::file_size(small), fs::file_size(full));

    Tree results[2];
    for (const fs::path& second : {small, full}) {
        SCOPED_TRACE(second.u8string());
        SetUp();
        Installed();
        WriteFile((game_ / "zol.hvl").u16string(), MakeHashList(HashListMagicV2, 0, {}));
        for (const fs::path& program : {first, second}) {
            fs::remove(program_);
            fs::copy_file(program, program_);
            UpdaterRun run;
            StartAndAnswer(run, IDYES);
            EXPECT_EQ(Outcome(run), std::make_pair(std::wstring(L"Installation complete."), Ok));
        }
        results[second == full] = Snapshot(game_);
        fs::remove_all(game_);
    }
    ExpectTree(results[0], results[1]);
    EXPECT_EQ(results[1]["zol.hvl"].size(), 16u + 4 * 256) << "four records";
}

TEST_F(UpdaterE2eTest, LongTitleIsShortenedInTheMiddleOfTheCaption) {
    const std::string title =
        "Lumenfall seasonal update with new regions, quests, music and a great "
        "many fixes, version 1.02.3456 final";
    BuildUpdate({{"Archive/data01000.arc", ToBytes("new")}}, title);
    Installed();
    UpdaterRun run;
    ASSERT_TRUE(run.Start(program_));
    std::optional<Box> question = run.WaitForBox();
    ASSERT_TRUE(question);
    const std::wstring wide(title.begin(), title.end());
    const size_t dots = question->caption.find(L"...");
    ASSERT_NE(dots, std::wstring::npos) << "caption: " << fs::path(question->caption).u8string();
    EXPECT_EQ(wide.substr(0, dots), question->caption.substr(0, dots));
    const std::wstring tail = question->caption.substr(dots + 3);
    EXPECT_FALSE(tail.empty());
    EXPECT_EQ(wide.substr(wide.size() - tail.size()), tail);
    EXPECT_LT(question->caption.size(), wide.size());
    UpdaterRun::Answer(*question, IDNO);
    EXPECT_EQ(run.WaitForExit(), ExitDeclined);
}

// One line per recorded change, for a failure's message.
std::string Describe(const std::vector<DialogChange>& changes) {
    std::ostringstream out;
    for (const DialogChange& c : changes)
        out << "control " << c.control << " message 0x" << std::hex << c.message << std::dec << " ("
            << c.wParam << ", " << c.lParam << ") -> entry " << c.entryPosition << "/"
            << c.entryHigh << ", package " << c.packagePosition << "/" << c.packageHigh
            << ", status \"" << fs::path(c.status).u8string() << "\", caption \""
            << fs::path(c.caption).u8string() << "\"\n";
    return out.str();
}

// The dialog's states last only between two chunks and the dialog is gone before the outcome
// box, so a hook in the updater's thread records every change for reading after the run.
TEST_F(UpdaterE2eTest, DialogShowsEachEntryAndBothBarsReachTheirEnds) {
    constexpr uint64_t Chunk = 1u << 20;
    // Four chunks, the last one short; its size times the bar's range needs more than 32 bits.
    constexpr uint64_t BigSize = 3 * Chunk + 12345;
    constexpr int EntryRange = 65535, Entries = 3;
    const Bytes small = ToBytes("more");
    BuildUpdate({{"Archive/big.arc", Pattern(BigSize, 4)}, {"Archive/data01020.arc", small}});
    Installed();
    UpdaterRun run;
    DialogRecorder recorder;
    StartAndAnswer(run, IDYES, &recorder);
    ASSERT_EQ(Outcome(run), std::make_pair(std::wstring(L"Installation complete."), Ok));

    const std::vector<DialogChange> changes = recorder.Changes();
    EXPECT_EQ(recorder.Dropped(), 0);
    ASSERT_FALSE(changes.empty()) << "the hook recorded nothing in the updater";

    EXPECT_TRUE(std::any_of(changes.begin(), changes.end(), [](const DialogChange& c) {
        return c.control == dialog_record::DialogId && c.message == WM_SETTEXT;
    })) << "the caption was never set";
    EXPECT_TRUE(std::all_of(changes.begin(), changes.end(), [](const DialogChange& c) {
        return c.caption == Title;
    })) << "the caption was not the title throughout";

    // Each entry's part of the record runs from its status line to the next one.
    std::vector<std::wstring> statuses;
    std::vector<size_t> starts;
    for (size_t i = 0; i < changes.size(); ++i)
        if (changes[i].control == IDC_STATUS && changes[i].message == WM_SETTEXT) {
            statuses.push_back(changes[i].status);
            starts.push_back(i);
        }
    EXPECT_EQ(statuses, (std::vector<std::wstring>{L"Installing \"ZOL.hvl\".",
                                                   L"Installing \"Archive\\big.arc\".",
                                                   L"Installing \"Archive\\data01020.arc\"."}));
    ASSERT_EQ(starts.size(), static_cast<size_t>(Entries)) << Describe(changes);

    EXPECT_TRUE(std::all_of(changes.begin() + starts[0], changes.end(), [](const DialogChange& c) {
        return c.entryHigh == EntryRange && c.packageHigh == Entries;
    })) << "the bars did not keep their ranges while entries were installed";

    // The hash list is read, not copied, so only the two files fill the entry bar.
    const std::optional<uint64_t> copiedSize[Entries] = {std::nullopt, BigSize, small.size()};
    std::vector<WPARAM> packagePositions;
    for (int entry = 0; entry < Entries; ++entry) {
        SCOPED_TRACE("entry " + std::to_string(entry));
        const size_t begin = starts[entry];
        const size_t end = entry + 1 < Entries ? starts[entry + 1] : changes.size();
        std::vector<WPARAM> entryPositions;
        for (size_t i = begin; i < end; ++i) {
            const DialogChange& c = changes[i];
            if (c.message != PBM_SETPOS) continue;
            if (c.control == IDC_ENTRY_BAR) entryPositions.push_back(c.wParam);
            if (c.control == IDC_PACKAGE_BAR) packagePositions.push_back(c.wParam);
        }
        EXPECT_EQ(changes[end - 1].packagePosition, entry + 1);
        if (!copiedSize[entry]) continue;
        // Reset, then one step after each chunk by the share written, rounded down.
        const uint64_t size = *copiedSize[entry];
        std::vector<WPARAM> expected{0};
        for (uint64_t written = 0; written < size;) {
            written = std::min(written + Chunk, size);
            expected.push_back(written * EntryRange / size);
        }
        EXPECT_EQ(entryPositions, expected);
        EXPECT_EQ(changes[end - 1].entryPosition, EntryRange);
    }
    EXPECT_EQ(packagePositions, (std::vector<WPARAM>{1, 2, 3}));
    if (HasFailure()) ADD_FAILURE() << "recorded:\n" << Describe(changes);
}

// Runs whose dialog must be caught while it copies a large entry: the driver pauses the
// updater as soon as its dialog shows, checks that copying has not finished, queues its
// input and lets it go on. The updater handles the input at its next pump, between chunks.
class ProgressDialogE2eTest : public UpdaterE2eTest {
protected:
    static constexpr size_t BigSize = 256u << 20;

    void SetUp() override {
        UpdaterE2eTest::SetUp();
        BuildUpdate(
            {{"Archive/big.arc", Pattern(BigSize, 3)}, {"Archive/data01000.arc", ToBytes("new")}});
        Installed();
    }

    // Starts, answers Yes, and pauses the updater while it copies; returns the dialog.
    HWND PauseWhileCopying(UpdaterRun& run) {
        StartAndAnswer(run, IDYES);
        HWND dialog = run.WaitForDialog();
        EXPECT_NE(dialog, nullptr);
        // Its temporary file shows that the copy of the big entry has begun.
        const fs::path temporary = game_ / "Archive" / "big.arc.tmp";
        for (int i = 0; i < 2000 && !fs::exists(temporary); ++i) Sleep(1);
        run.Suspend();
        std::error_code ec;
        const uintmax_t copied = fs::file_size(temporary, ec);
        EXPECT_FALSE(ec) << "copying never began";
        EXPECT_LT(copied, BigSize) << "copying finished before the driver could pause it";
        EXPECT_FALSE(fs::exists(game_ / "Archive" / "big.arc"));
        return dialog;
    }

    void ExpectNothingInstalled() {
        EXPECT_EQ(Snapshot(game_), (Tree{{"Archive/", {}},
                                         {"Archive/data01000.arc", ToBytes("old")},
                                         {"uninst.lst", ToBytes("Game.exe\r\n")}}));
    }
};

TEST_F(ProgressDialogE2eTest, CancelAnsweredNoGoesOnAndShowsTheDialogAsItIs) {
    UpdaterRun run;
    HWND dialog = PauseWhileCopying(run);
    UpdaterRun::Press(dialog, IDC_CANCEL);
    run.Resume();
    std::optional<Box> question = run.WaitForBox();
    ASSERT_TRUE(question);
    EXPECT_EQ(question->text, L"Cancel the installation?");
    EXPECT_EQ(question->defaultButton, IDNO);

    // While the question is open the copy waits: read the dialog as a person sees it.
    EXPECT_EQ(WindowText(dialog), Title);
    EXPECT_EQ(ControlText(dialog, IDC_STATUS), L"Installing \"Archive\\big.arc\".");
    EXPECT_EQ(ControlText(dialog, IDC_CANCEL), L"Cancel");
    EXPECT_EQ(SendMessageW(GetDlgItem(dialog, IDC_ENTRY_BAR), PBM_GETRANGE, FALSE, 0), 65535);
    EXPECT_EQ(SendMessageW(GetDlgItem(dialog, IDC_PACKAGE_BAR), PBM_GETRANGE, FALSE, 0), 3);
    EXPECT_EQ(SendMessageW(GetDlgItem(dialog, IDC_PACKAGE_BAR), PBM_GETPOS, 0, 0), 1);
    RECT box;
    GetWindowRect(dialog, &box);
    EXPECT_EQ(box.left, (GetSystemMetrics(SM_CXSCREEN) - (box.right - box.left)) / 2);
    EXPECT_EQ(box.top, (GetSystemMetrics(SM_CYSCREEN) - (box.bottom - box.top)) / 2);

    UpdaterRun::Answer(*question, IDNO);
    EXPECT_EQ(Outcome(run), std::make_pair(std::wstring(L"Installation complete."), Ok));
    EXPECT_EQ(ReadFile((game_ / "Archive" / "big.arc").u16string()).size(), BigSize);
}

TEST_F(ProgressDialogE2eTest, JapaneseCancelConfirmedLeavesNothingAndSaysNothing) {
    if (!JapaneseSession()) GTEST_SKIP() << "runs with a Japanese user interface language";
    UpdaterRun run;
    HWND dialog = PauseWhileCopying(run);
    EXPECT_EQ(ControlText(dialog, IDC_CANCEL), L"中止");
    UpdaterRun::Press(dialog, IDC_CANCEL);
    run.Resume();
    std::optional<Box> question = run.WaitForBox();
    ASSERT_TRUE(question);
    EXPECT_EQ(question->text, L"インストールを中止しますか？");
    UpdaterRun::Answer(*question, IDYES);
    EXPECT_EQ(Outcome(run), std::make_pair(std::wstring(), Cancelled));
    ExpectNothingInstalled();
}

TEST_F(ProgressDialogE2eTest, ClosingTheDialogInterrupts) {
    UpdaterRun run;
    HWND dialog = PauseWhileCopying(run);
    PostMessageW(dialog, WM_CLOSE, 0, 0);
    run.Resume();
    EXPECT_EQ(Outcome(run), std::make_pair(std::wstring(), Interrupted));
    ExpectNothingInstalled();
}

TEST_F(ProgressDialogE2eTest, EscapeAndAltF4DoNothing) {
    UpdaterRun run;
    HWND dialog = PauseWhileCopying(run);
    PostMessageW(dialog, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageW(dialog, WM_KEYUP, VK_ESCAPE, 0);
    PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    run.Resume();
    EXPECT_EQ(Outcome(run), std::make_pair(std::wstring(L"Installation complete."), Ok));
}

}  // namespace
