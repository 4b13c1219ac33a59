// Installs that need Windows itself: files held open without sharing, a restart's deletions,
// folders without write rights, a full disk, and the progress dialog's bars and Cancel.
#include <algorithm>
#include <tuple>

#include "app/install.h"
#include "app/resource.h"
#include "app/updater_state.h"
#include "install_fixture.h"
#include "package/commit.h"
#include "package/file.h"
#include "package/hash_list.h"

using namespace package;
using namespace updater;

namespace fs = std::filesystem;

namespace {

// Opens `path` without sharing, as another program holding it would.
HANDLE Hold(const fs::path& path) {
    return CreateFileW(path.wstring().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

// Installs through the progress dialog's code, with the updater's state as a run starts.
class WindowsInstallTest : public InstallTest {
protected:
    void SetUp() override {
        CancelRequested = InstallAborted = 0;
        ProgressDialogWindow = nullptr;
        CurrentLanguage = LanguageEnglish;
    }

    ResultCode Install() override {
        return InstallUpdateFrom(program_.wstring().c_str(), game_.wstring().c_str());
    }
};

// Files held or planted while moving: the folder ends as it was, or as the update leaves it.
TEST_F(WindowsInstallTest, HeldOrPlantedFilesNeverBreakTheFolder) {
    BuildUpdate(
        {{"a.arc", ToBytes("new a")}, {"b.arc", ToBytes("new b")}, {"c.arc", ToBytes("new c")}});
    MakeGame({{"a.arc (read-only)", ToBytes("old a")},
              {"c.arc", ToBytes("old c")},
              {"zol.hvl", MakeHashList(HashListMagicV2, 0, {{"a.arc", 1}})},
              {"uninst.lst", ToBytes("a.arc\n")}});
    const Tree before = Snapshot(game_);
    // Another program holds c.arc open without sharing: its move fails once a.arc and b.arc
    // were moved in, and they are taken back.
    static HANDLE held;
    held = Hold(game_ / "c.arc");
    EXPECT_EQ(Install(), ResultCode::InstallFailed);
    CloseHandle(held);
    EXPECT_EQ(Snapshot(game_), before);

    // Once c.arc is set aside, a file is put at its name and a scanner holds the set-aside
    // file: moving in and back fail. The journal stays, and the next start takes back.
    static fs::path aside;
    aside = AsideIn(game_, "c.arc");
    held = INVALID_HANDLE_VALUE;
    FileStepHook = [] {
        if (held != INVALID_HANDLE_VALUE || !fs::exists(aside)) return;
        held = Hold(aside);
        WriteFile((aside.parent_path() / "c.arc").u16string(), ToBytes("planted"));
    };
    EXPECT_EQ(Install(), ResultCode::InstallFailed);
    FileStepHook = nullptr;
    CloseHandle(held);
    EXPECT_TRUE(fs::exists(game_ / "update.journal"));
    EXPECT_FALSE(fs::exists(game_ / "c.arc"));
    EXPECT_TRUE(RecoverUpdate(game_.u16string().c_str()));
    EXPECT_EQ(Snapshot(game_), before);

    // A file put at the name a.arc is set aside under, once the journal named it, is never
    // replaced: the install fails and takes back.
    aside = AsideIn(game_, "a.arc");
    FileStepHook = [] {
        if (fs::exists(aside.parent_path() / "update.journal") && !fs::exists(aside))
            WriteFile(aside.u16string(), ToBytes("planted"));
    };
    EXPECT_EQ(Install(), ResultCode::InstallFailed);
    FileStepHook = nullptr;
    EXPECT_EQ(ReadFile(aside.u16string()), ToBytes("planted"));
    fs::remove(aside);
    EXPECT_EQ(Snapshot(game_), before);

    // Released, the update replaces the read-only file. A set-aside file that cannot be
    // deleted after the commit point is deleted at restart; no journal holds up later updates.
    aside = AsideIn(game_, "c.arc");
    held = INVALID_HANDLE_VALUE;
    FileStepHook = [] {
        if (held == INVALID_HANDLE_VALUE && fs::exists(aside)) held = Hold(aside);
    };
    EXPECT_EQ(Install(), ResultCode::Ok);
    FileStepHook = nullptr;
    CloseHandle(held);
    EXPECT_EQ(ReadFile((game_ / "a.arc").u16string()), ToBytes("new a"));
    EXPECT_FALSE(fs::exists(game_ / "update.journal"));
    wchar_t pending[4096] = {};
    DWORD size = sizeof pending - sizeof(wchar_t);
    RegGetValueW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager",
                 L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr, pending, &size);
    EXPECT_NE(std::wstring(pending, size / 2).find(aside.filename()), std::wstring::npos);
}

// A list another program holds is not copied, so not rewritten; the files are installed.
TEST_F(WindowsInstallTest, LockedListsKeepTheirOutcomes) {
    const Bytes data = ToBytes("new");
    BuildUpdate({{"a.arc", data}});
    const Bytes list = MakeHashList(HashListMagicV2, 0, {{"a.arc", 1}});
    for (const auto& [held, expected] :
         {std::pair{"zol.hvl", ResultCode::Ok}, {"uninst.lst", ResultCode::UninstallListFailed}}) {
        SCOPED_TRACE(held);
        MakeGame({{"a.arc", ToBytes("old")}, {"zol.hvl", list}, {"uninst.lst", ToBytes("x\n")}});
        // The lock goes once a.arc is set aside, when the lists were already copied.
        static HANDLE lock;
        static fs::path aside;
        lock = Hold(game_ / held);
        aside = AsideIn(game_, "a.arc");
        FileStepHook = [] {
            if (fs::exists(aside)) CloseHandle(lock), lock = INVALID_HANDLE_VALUE;
        };
        EXPECT_EQ(Install(), expected);
        FileStepHook = nullptr;
        const Tree after = Snapshot(game_);
        EXPECT_EQ(after.at("a.arc"), data);
        EXPECT_EQ(after.at(held), held == std::string("zol.hvl") ? list : ToBytes("x\n"));
        EXPECT_EQ(after.size(), 3u);
    }
}

TEST_F(WindowsInstallTest, FolderWithoutWriteRightsFailsAndChangesNothing) {
    // The test script makes this folder, holding a.arc ("old") and an empty uninst.lst.
    const char* folder = std::getenv("UPDATER_TEST_READONLY_FOLDER");
    if (folder == nullptr || *folder == 0) GTEST_SKIP() << "UPDATER_TEST_READONLY_FOLDER unset";
    game_ = fs::u8path(folder);
    ASSERT_EQ(ReadFile((game_ / "a.arc").u16string()), ToBytes("old"));
    BuildUpdate({{"a.arc", ToBytes("new")}});
    ExpectRefusedUnchanged(ResultCode::InstallFailed);
}

TEST_F(WindowsInstallTest, FullDiskFailsAndChangesNothing) {
    // The test script mounts a small file system for this when it runs as root.
    const char* smallDisk = std::getenv("UPDATER_TEST_SMALL_DISK");
    if (smallDisk == nullptr || *smallDisk == 0) GTEST_SKIP() << "UPDATER_TEST_SMALL_DISK unset";
    game_ = fs::u8path(smallDisk) / "game";
    MakeGame({{"big.arc", ToBytes("old")}, {"uninst.lst", {0}}});
    // Each entry fits the disk, both together do not: refused before anything is written.
    BuildUpdate({{"big.arc", Pattern(3 << 20, 3)}, {"big2.arc", Pattern(3 << 20, 4)}});
    Steps = 0;
    FileStepHook = [] { ++Steps; };
    ExpectRefusedUnchanged(ResultCode::InstallFailed);
    EXPECT_EQ(Steps, 0);

    // Room enough at the start, but another program fills the disk once the journal is
    // written: the copy's writes fall short.
    static fs::path journal, filler;
    journal = game_ / "update.journal";
    filler = fs::u8path(smallDisk) / "filler";
    FileStepHook = [] {
        if (!fs::exists(journal) || fs::exists(filler)) return;
        std::FILE* file = _wfopen(filler.wstring().c_str(), L"wb");
        const std::vector<char> block(1 << 16, 'f');
        while (file != nullptr && std::fwrite(block.data(), 1, block.size(), file) == block.size())
            continue;
        if (file != nullptr) std::fclose(file);
    };
    BuildUpdate({{"big.arc", Pattern(2 << 20, 3)}});
    ExpectRefusedUnchanged(ResultCode::InstallFailed);
    FileStepHook = nullptr;
    EXPECT_TRUE(fs::exists(filler));
    fs::remove(filler);
    RemoveTree(game_);
}

// Records every range and position a bar is given, with the temporary file's size then.
struct BarRecord {
    fs::path temporary;
    std::vector<LPARAM> ranges;
    std::vector<WPARAM> positions;
    std::vector<uintmax_t> fileSizes;
    WPARAM cancelAt = ~WPARAM{0};  // the position at which the player confirms Cancel
};

LRESULT CALLBACK RecordBar(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                           DWORD_PTR data) {
    auto* record = reinterpret_cast<BarRecord*>(data);
    if (message == PBM_SETRANGE32) record->ranges.push_back(lParam);
    if (message == PBM_SETPOS) {
        std::error_code ignored;
        record->positions.push_back(wParam);
        record->fileSizes.push_back(fs::file_size(record->temporary, ignored));
        if (wParam == record->cancelAt) CancelRequested = 1;
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

TEST_F(WindowsInstallTest, LargeEntryMovesTheBarsChunkByChunk) {
    BuildUpdate({{"big.arc", Pattern(3000000, 9)}});
    MakeGame({{"uninst.lst", {0}}});
    INITCOMMONCONTROLSEX init{sizeof init, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&init);
    // The dialog's controls, on a window standing in for it.
    ProgressDialogWindow = CreateWindowExW(0, L"Static", L"", WS_POPUP, 0, 0, 400, 200, nullptr,
                                           nullptr, nullptr, nullptr);
    auto control = [](const wchar_t* windowClass, int id) {
        return CreateWindowExW(0, windowClass, L"", WS_CHILD, 0, 0, 300, 20, ProgressDialogWindow,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
    };
    BarRecord entry, package;
    entry.temporary = game_ / "big.arc.tmp";
    SetWindowSubclass(control(PROGRESS_CLASSW, IDC_ENTRY_BAR), RecordBar, 1,
                      reinterpret_cast<DWORD_PTR>(&entry));
    SetWindowSubclass(control(PROGRESS_CLASSW, IDC_PACKAGE_BAR), RecordBar, 1,
                      reinterpret_cast<DWORD_PTR>(&package));

    ASSERT_EQ(Install(), ResultCode::Ok);
    EXPECT_EQ(entry.ranges, std::vector<LPARAM>{65535});
    EXPECT_EQ(package.ranges, std::vector<LPARAM>{2});
    // Reset, start of the hash list, start of big.arc, then one step per chunk.
    EXPECT_EQ(entry.positions, (std::vector<WPARAM>{0, 0, 0, 22906, 45812, 65535}));
    EXPECT_EQ(std::vector<uintmax_t>(entry.fileSizes.begin() + 3, entry.fileSizes.end()),
              (std::vector<uintmax_t>{1048576, 2097152, 3000000}));
    EXPECT_EQ(package.positions, (std::vector<WPARAM>{0, 1, 2}));

    // Cancel confirmed in the last chunk's pump: no compare, no flush, no package step.
    static int flushes = 0;
    FlushHook = [](const char16_t*) { ++flushes; };
    package.positions.clear();
    entry.cancelAt = 65535;
    EXPECT_EQ(Install(), ResultCode::Cancelled);
    FlushHook = nullptr;
    EXPECT_EQ(package.positions, (std::vector<WPARAM>{0, 1}));
    EXPECT_EQ(flushes, 1);  // the planned journal only
    DestroyWindow(ProgressDialogWindow);
}

// Cancel confirmed, or a quit message the install's pump takes from the queue: it stops with
// the folder as it was.
TEST_F(WindowsInstallTest, CancelAndQuitStopTheInstall) {
    BuildUpdate({{"a.arc", ToBytes("new")}});
    MakeGame({{"a.arc", ToBytes("old")}, {"uninst.lst", {0}}});
    for (const auto& [cancel, quit, expected] : {std::tuple{1, false, ResultCode::Cancelled},
                                                 {0, true, ResultCode::Interrupted},
                                                 {1, true, ResultCode::Cancelled}}) {
        SCOPED_TRACE(ExitCode(expected));
        CancelRequested = cancel;
        InstallAborted = 0;
        if (quit) PostQuitMessage(0);
        ExpectRefusedUnchanged(expected);
    }
}

}  // namespace
