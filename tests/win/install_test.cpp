#include "app/install.h"
#include "app/commit.h"
#include "app/journal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <tuple>

#include "app/resource.h"
#include "app/updater_state.h"
#include "fixtures.h"
#include "package/file.h"
#include "package/hash_list.h"

namespace fs = std::filesystem;

namespace {

// The file steps of the install: none means nothing was written.
int Steps = 0;

// A Unix link to the folder `target` at `link` (a reparse point to Wine), unless one is there.
// Wine's CreateSymbolicLinkW makes nothing, and Wine does not wait for ln, so neither can we.
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

void PutJournal(const fs::path& folder, const std::string& bytes) {
    WriteFile((folder / "update.journal").u16string(), Bytes(bytes.begin(), bytes.end()));
}

// Where this process sets the file `name` aside.
fs::path AsideIn(const fs::path& folder, const std::string& name) {
    return folder / (name + "." + std::to_string(GetCurrentProcessId()) + ".old");
}

// Opens `path` without sharing, as another program holding it would.
HANDLE Hold(const fs::path& path) {
    return CreateFileW(path.wstring().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

class InstallTest : public ::testing::Test {
protected:
    void SetUp() override {
        CancelRequested = InstallAborted = 0;
        ProgressDialogWindow = nullptr;
        CurrentLanguage = LanguageEnglish;
        WriteFile((root_.path() / "stub.exe").u16string(), WindowsProgram(4000));
    }

    void BuildUpdate(const FileList& files) {
        BuildProgram(root_.path() / "stub.exe", root_.path() / "src", files, program_);
    }

    // Makes the installation folder hold just `files`.
    void MakeGame(const FileList& files) {
        RemoveTree(game_);
        fs::create_directories(game_);
        PutFiles(game_, files);
    }

    ResultCode Install() {
        return InstallUpdateFrom(program_.wstring().c_str(), game_.wstring().c_str());
    }

    // The result, and the installation folder exactly as it was.
    void ExpectRefusedUnchanged(ResultCode expected) {
        const Tree before = Snapshot(game_);
        EXPECT_EQ(Install(), expected);
        EXPECT_EQ(Snapshot(game_), before);
    }

    ScratchFolder root_;
    fs::path game_ = root_.path() / "game";
    fs::path program_ = root_.path() / "update.exe";
};

// Packages the updater installs, each into its own folder: the result and every byte after.
TEST_F(InstallTest, InstallsWhatThePackageSaysWhereItSays) {
    // The update as the game ships it, built by the packer: 19 archives below Archive\ and a
    // hash list. Installed over old versions of two of them, one read-only, a record is
    // updated where it stands, the rest appended, and a gone file's record dropped.
    FileList files;
    std::vector<StoredRecord> records{{"game.exe", 5}};
    std::vector<std::string> lines{"game.exe"};
    for (int i = 0; i < 19; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "data0%d0%02d.arc", 1 + i / 5, (i % 5) * 20);
        files.push_back({"Archive/" + std::string(name), Pattern(1000 + 977 * i, i)});
        records.push_back({i == 0 ? "ARCHIVE\\DATA01000.ARC" : "Archive\\" + std::string(name),
                           ChecksumOf(files.back().second)});
        lines.push_back("archive\\" + std::string(name));
    }
    lines.push_back("$registry");
    BuildUpdate(files);
    Tree shipped{{"Archive/", {}},
                 {"game.exe", ToBytes("exe")},
                 {"zol.hvl", MakeHashList(HashListMagicV2, 0, records)},
                 {"uninst.lst", WrittenList(lines)}};
    shipped.insert(files.begin(), files.end());
    // The most entries a package may hold.
    std::vector<FixtureEntry> most;
    Tree mostAfter;
    std::vector<std::string> names;
    for (int i = 0; i < 256; ++i) {
        names.push_back("f" + std::to_string(i));
        most.push_back({names.back(), ToBytes(std::to_string(i))});
        mostAfter[names.back()] = most.back().data;
    }
    mostAfter["uninst.lst"] = WrittenList(names);
    const Bytes data = ToBytes("payload");
    const Bytes sub = MakeHashList(HashListMagicV2, 0, {{"Sub\\data.arc", ChecksumOf(data)}});
    auto program = [](FixtureFormat format, std::vector<FixtureEntry> entries) {
        return MakeProgramFile("T", MakeArchive(format, entries));
    };
    const struct {
        const char* name;
        Bytes program;
        FileList game;
        Tree after;
    } rows[] = {
        {"the shipped shape",
         ReadFile(program_.u16string()),
         {{"Archive/data01000.arc", ToBytes("old 1000")},
          {"Archive/data01020.arc (read-only)", ToBytes("old 1020")},
          {"Archive/data01040.arc.tmp (read-only)", ToBytes("left by a crash")},
          {"game.exe", ToBytes("exe")},
          {"zol.hvl", MakeHashList(HashListMagicV2, 0,
                                   {{"game.exe", 5}, {"ARCHIVE\\DATA01000.ARC", 1}, {"gone", 2}})},
          {"uninst.lst", ToBytes("Game.exe\r\n$Registry\r\nArchive\\data01000.arc\r\n")}},
         shipped},
        {"the hash list in any letter case; zol.hvl.bak is a file",
         program(FixtureFormat::Arc20,
                 {{"zol.hvl.bak", ToBytes("b")}, {"Zol.HVL", sub}, {"data.arc", data}}),
         {{"Sub/x", {}}, {"uninst.lst", {0}}},
         {{"Sub/", {}},
          {"Sub/x", {}},
          {"Sub/data.arc", data},
          {"zol.hvl.bak", ToBytes("b")},
          {"uninst.lst", WrittenList({"zol.hvl.bak", "sub\\data.arc"})}}},
        {"no hash list: own names, unverified; the installed list still pruned",
         program(FixtureFormat::PackFile, {{"a.arc", ToBytes("A")}, {"empty", {}}}),
         {{"zol.hvl", MakeHashList(HashListMagicV1, 7, {{"a.arc", 1}, {"gone.arc", 2}})},
          {"uninst.lst", {0}}},
         {{"a.arc", ToBytes("A")},
          {"empty", {}},
          {"zol.hvl", MakeHashList(HashListMagicV1, 7, {{"a.arc", 1}})},
          {"uninst.lst", WrittenList({"a.arc", "empty"})}}},
        {"256 entries", program(FixtureFormat::PackFile, most), {{"uninst.lst", {0}}}, mostAfter},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        MakeGame(row.game);
        WriteFile(program_.u16string(), row.program);
        EXPECT_EQ(Install(), Ok);
        EXPECT_EQ(Snapshot(game_), row.after);
    }
}

// Every package that must be refused: the result, and nothing written anywhere, not even
// outside the installation folder; no temporary file left behind.
TEST_F(InstallTest, RefusedPackagesChangeNothingAnywhere) {
    BuildUpdate({{"Archive/data01000.arc", Pattern(3000, 1)}, {"z.arc", Pattern(3000, 2)}});
    const Bytes good = ReadFile(program_.u16string());
    auto changed = [&](size_t at, uint8_t value) {
        Bytes copy = good;
        copy[at] = value;
        return copy;
    };
    auto archive = [](std::vector<FixtureEntry> entries) {
        return MakeProgramFile("Title", MakeArchive(FixtureFormat::Arc20, entries));
    };
    auto recorded = [&](const std::string& path, const std::string& name) {
        const Bytes data = ToBytes("evil");
        return archive({{"ZOL.hvl", MakeHashList(HashListMagicV2, 0, {{path, ChecksumOf(data)}})},
                        {name, data}});
    };
    const Bytes list = MakeHashList(HashListMagicV2, 0, {{"Archive\\x.arc", ChecksumOf({})}});
    std::vector<FixtureEntry> tooMany;
    for (int i = 0; i < 257; ++i) tooMany.push_back({"f" + std::to_string(i), {}});
    const struct {
        const char* name;
        Bytes program;
        ResultCode expected;
        bool copies = false;  // refused only once the data was read, else before any write
    } rows[] = {
        {"program shorter than the package offset",
         Bytes(good.begin(), good.begin() + ArchiveOffset - 1), PackageDamaged},
        {"unknown archive magic", changed(ArchiveOffset, 'X'), PackageIndexUnreadable},
        {"data cut short", Bytes(good.begin(), good.end() - 1), PackageDamaged, true},
        // The earlier entries were copied and verified before the last one failed.
        {"a changed byte in the last entry", changed(good.size() - 10, good[good.size() - 10] ^ 1),
         PackageDamaged, true},
        {"257 entries", MakeProgramFile("T", MakeArchive(FixtureFormat::PackFile, tooMany)),
         PackageDamaged},
        {"a parent folder", recorded("..\\evil.dll", "evil.dll"), PackageDamaged},
        {"an unrecorded name that escapes", archive({{"..\\up.dll", ToBytes("u")}}),
         PackageDamaged},
        {"a name Windows does not allow", recorded("Sub\\a|b", "a|b"), PackageDamaged},
        {"one file apart from case and slash",
         archive({{"ZOL.hvl", list}, {"x.arc", {}}, {"archive/X.ARC", {}}}), PackageDamaged},
        {"another entry's temporary file", archive({{"b.arc.tmp", {}}, {"b.arc", {}}}),
         PackageDamaged},
        {"a second hash list", archive({{"ZOL.hvl", list}, {"zol.HVL", list}}), PackageDamaged},
        {"the uninstall list", archive({{"Uninst.lst", ToBytes("x\n")}}), PackageDamaged},
        {"the journal", archive({{"update.journal", {}}}), PackageDamaged},
        {"a folder where a file goes", archive({{"Sub", ToBytes("1")}}), InstallFailed},
        {"a record's folder that is missing", good, InstallFailed},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        MakeGame({{"a.arc", ToBytes("old")}, {"Sub/kept", ToBytes("kept")}, {"uninst.lst", {0}}});
        // The good package's record needs Archive\; the last row shows why.
        if (&row != &rows[std::size(rows) - 1])
            PutFiles(game_, {{"Archive/data01000.arc", ToBytes("old")}});
        WriteFile(program_.u16string(), row.program);
        const Tree around = Snapshot(root_.path());
        Steps = 0;
        FileStepHook = [] { ++Steps; };
        EXPECT_EQ(Install(), row.expected);
        FileStepHook = nullptr;
        EXPECT_EQ(Snapshot(root_.path()), around);
        EXPECT_EQ(Steps != 0, row.copies);
    }
    // A path that does not fit the path buffers with the folder and ".tmp".
    WriteFile(program_.u16string(), archive({{std::string(95, 'n'), {}}}));
    const std::wstring longFolder = (game_ / std::wstring(700, L'x')).wstring();
    EXPECT_EQ(InstallUpdateFrom(program_.wstring().c_str(), longFolder.c_str()), PackageDamaged);
    EXPECT_EQ(InstallUpdateFrom((root_.path() / "missing.exe").wstring().c_str(),
                                game_.wstring().c_str()),
              PackageIndexUnreadable);
}

// Files held or planted while moving: the folder ends as it was, or as the update leaves it.
TEST_F(InstallTest, HeldOrPlantedFilesNeverBreakTheFolder) {
    BuildUpdate(
        {{"a.arc", ToBytes("new a")}, {"b.arc", ToBytes("new b")}, {"c.arc", ToBytes("new c")}});
    MakeGame({{"a.arc (read-only)", ToBytes("old a")},
              {"c.arc", ToBytes("old c")},
              {"zol.hvl", MakeHashList(HashListMagicV2, 0, {{"a.arc", 1}})},
              {"uninst.lst", ToBytes("a.arc\n")}});
    const Tree before = Snapshot(game_);
    // Another program holds c.arc open without sharing: its move fails.
    static HANDLE held;
    held = Hold(game_ / "c.arc");
    EXPECT_EQ(Install(), InstallFailed);
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
    EXPECT_EQ(Install(), InstallFailed);
    FileStepHook = nullptr;
    CloseHandle(held);
    EXPECT_TRUE(fs::exists(game_ / "update.journal"));
    EXPECT_FALSE(fs::exists(game_ / "c.arc"));
    EXPECT_TRUE(RecoverUpdate(game_.wstring().c_str()));
    EXPECT_EQ(Snapshot(game_), before);

    // A file put at the name a.arc is set aside under, once the journal named it, is never
    // replaced: the install fails and takes back.
    aside = AsideIn(game_, "a.arc");
    FileStepHook = [] {
        if (fs::exists(aside.parent_path() / "update.journal") && !fs::exists(aside))
            WriteFile(aside.u16string(), ToBytes("planted"));
    };
    EXPECT_EQ(Install(), InstallFailed);
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
    EXPECT_EQ(Install(), Ok);
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

// Planted journals and links are refused whole: nothing inside or outside the folder changes.
TEST_F(InstallTest, PlantedJournalsAndLinksChangeNothing) {
    const fs::path outside = root_.path() / "outside";
    auto plant = [&](const Journal& journal) {
        MakeGame(
            {{"a.arc", ToBytes("old")}, {"payload.bin", ToBytes("evil")}, {"uninst.lst", {0}}});
        PutFiles(outside, {{"victim.txt", ToBytes("v")}, {"secret.txt", ToBytes("s")}});
        MakeFolderLink(game_ / "Link", outside);
        PutJournal(game_, EncodeJournal(journal));
    };
    using Moves = std::vector<JournalMove>;
    const JournalStage moving = JournalStage::Moving;
    const struct {
        const char* name;
        Journal journal;
    } rows[] = {
        {"a destination outside", {moving, Moves{{u"..\\outside\\victim.txt", u""}}, {}}},
        {"a file moved outside",
         {moving, Moves{{u"..\\outside\\planted.dll", u"payload.bin"}}, {}}},
        {"a set-aside name not its own", {moving, Moves{{u"a.arc", u"payload.bin"}}, {}}},
        {"attributes beyond those kept", {moving, Moves{{u"a.arc", u"a.arc.7.old", 0x100}}, {}}},
        {"a list copy outside", {moving, {}, {u"..\\outside\\secret.txt", u""}}},
        {"clean-up outside",
         {JournalStage::Committed,
          Moves{{u"..\\outside\\victim.txt", u"..\\outside\\victim.txt.7.old"}},
          {}}},
        {"one file twice", {moving, Moves{{u"b.arc", u""}, {u"B.ARC", u""}}, {}}},
        {"a reserved name", {moving, Moves{{u"uninst.lst", u""}}, {}}},
        {"a folder link on the way", {moving, Moves{{u"Link\\victim.txt", u""}}, {}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        plant(row.journal);
        const Tree before = Snapshot(root_.path());
        EXPECT_FALSE(RecoverUpdate(game_.wstring().c_str()));
        EXPECT_EQ(Snapshot(root_.path()), before);
    }

    // An update into the folder the link points to writes nothing anywhere.
    BuildUpdate({{"Link/victim.txt", ToBytes("x")}});
    plant({});
    fs::remove(game_ / "update.journal");
    ExpectRefusedUnchanged(InstallFailed);
    EXPECT_EQ(ReadFile((outside / "victim.txt").u16string()), ToBytes("v"));
}

// A run ended before it wrote new.cfg.tmp, then the player made new.cfg: only temporary files
// go until moving began. The earlier format, without that mark, is taken back in full.
TEST_F(InstallTest, RecoveryKnowsWhetherMovingBegan) {
    const Journal planned{JournalStage::Planned, {{u"new.cfg", u""}}, {}};
    std::string earlier = EncodeJournal(planned);
    earlier[7] = '1';  // the earlier magic; a stage of 0 then says "not committed"
    earlier.resize(earlier.size() - 8);
    const uint64_t checksum = ChecksumOf(Bytes(earlier.begin(), earlier.end()));
    earlier.append(reinterpret_cast<const char*>(&checksum), sizeof checksum);
    for (const auto& [bytes, kept] :
         {std::pair{EncodeJournal(planned), true}, std::pair{earlier, false}}) {
        MakeGame({{"new.cfg", ToBytes("the player's")}, {"uninst.lst", {0}}});
        PutJournal(game_, bytes);
        EXPECT_TRUE(RecoverUpdate(game_.wstring().c_str()));
        EXPECT_EQ(fs::exists(game_ / "new.cfg"), kept);
        EXPECT_FALSE(fs::exists(game_ / "update.journal"));
    }
}

// A list another program holds is not copied, so not rewritten; the files are installed.
TEST_F(InstallTest, LockedListsKeepTheirOutcomes) {
    const Bytes data = ToBytes("new");
    BuildUpdate({{"a.arc", data}});
    const Bytes list = MakeHashList(HashListMagicV2, 0, {{"a.arc", 1}});
    for (const auto& [held, expected] :
         {std::pair{"zol.hvl", Ok}, std::pair{"uninst.lst", UninstallListFailed}}) {
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

// Temporary files and rewritten lists are flushed before the commit mark, the folder after.
TEST_F(InstallTest, CommitPointComesAfterEveryFlush) {
    BuildUpdate({{"a.arc", ToBytes("a")}, {"Sub/b.arc", ToBytes("b")}});
    MakeGame({{"Sub/b.arc", ToBytes("old")},
              {"zol.hvl", MakeHashList(HashListMagicV2, 0, {{"a.arc", 1}})},
              {"uninst.lst", {0}}});
    static std::vector<std::string> flushed;
    FlushHook = [](const char16_t* p) { flushed.push_back(fs::path(p).filename().u8string()); };
    EXPECT_EQ(Install(), Ok);
    FlushHook = nullptr;
    const auto mark = std::find(flushed.rbegin(), flushed.rend(), "update.journal.tmp").base();
    for (const char* name : {"a.arc.tmp", "b.arc.tmp", "zol.hvl.tmp", "uninst.lst.tmp"})
        EXPECT_LT(std::find(flushed.begin(), flushed.end(), name), mark) << name;
    EXPECT_EQ(std::vector<std::string>(mark, flushed.end()), std::vector<std::string>{"game"});
}

// Runs commit_crash.exe, which stands beside this test, with `arguments`; its exit code.
DWORD RunCrash(const std::wstring& arguments) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring program = (fs::path(self).parent_path() / "commit_crash.exe").wstring();
    std::wstring command = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // Starting a process under Wine has failed once in a while on a loaded machine; that is
    // not the install's doing, so it is tried again.
    bool started = false;
    for (int attempt = 0; attempt < 3 && !started; ++attempt)
        started = CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                                 nullptr, &startup, &process);
    DWORD code = 1000;
    EXPECT_TRUE(started) << "commit_crash.exe did not start, error " << GetLastError();
    if (!started) return code;
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

TEST_F(InstallTest, CrashAtAnyStepRecoversToTheOldOrTheNewFolder) {
    BuildUpdate({{"a.arc", ToBytes("new a")},
                 {"b.arc", ToBytes("new b")},
                 {"Sub/c.arc", ToBytes("new c")}});
    const FileList game{{"a.arc (read-only)", ToBytes("old a")},
                        {"Sub/c.arc", ToBytes("old c")},
                        {"zol.hvl", MakeHashList(HashListMagicV2, 0, {{"a.arc", 1}, {"gone", 2}})},
                        {"uninst.lst", ToBytes("a.arc\n")}};
    auto makeGame = [&] { MakeGame(game); };
    const std::wstring install =
        L"install \"" + program_.wstring() + L"\" \"" + game_.wstring() + L"\" ";
    const std::wstring recover = L"recover \"" + game_.wstring() + L"\" ";
    makeGame();
    const Tree before = Snapshot(game_);
    ASSERT_EQ(RunCrash(install + L"0"), static_cast<DWORD>(Ok));
    const Tree after = Snapshot(game_);

    // Ended at each step k of the install, and then its recovery at each step j: a full
    // recovery afterwards gives the old folder before the commit point, the new one after.
    bool committed = false;
    for (int k = 1;; ++k) {
        makeGame();
        if (RunCrash(install + std::to_wstring(k)) != 99) break;
        ASSERT_EQ(RunCrash(recover + L"0"), 0u) << k;
        const Tree recovered = Snapshot(game_);
        committed = committed || recovered == after;
        EXPECT_EQ(recovered, committed ? after : before) << "install ended at step " << k;
        for (int j = 1;; ++j) {
            makeGame();
            RunCrash(install + std::to_wstring(k));
            const DWORD ended = RunCrash(recover + std::to_wstring(j));
            ASSERT_EQ(RunCrash(recover + L"0"), 0u);
            EXPECT_EQ(Snapshot(game_), recovered) << "steps " << k << ", " << j;
            if (ended != 99) break;
        }
    }
    EXPECT_TRUE(committed);
}

TEST_F(InstallTest, FolderWithoutWriteRightsFailsAndChangesNothing) {
    // The test script makes this folder, holding a.arc ("old") and an empty uninst.lst.
    const char* folder = std::getenv("UPDATER_TEST_READONLY_FOLDER");
    if (folder == nullptr || *folder == 0) GTEST_SKIP() << "UPDATER_TEST_READONLY_FOLDER unset";
    game_ = fs::u8path(folder);
    ASSERT_EQ(ReadFile((game_ / "a.arc").u16string()), ToBytes("old"));
    BuildUpdate({{"a.arc", ToBytes("new")}});
    ExpectRefusedUnchanged(InstallFailed);
}

TEST_F(InstallTest, FullDiskFailsAndChangesNothing) {
    // The test script mounts a small file system for this when it runs as root.
    const char* smallDisk = std::getenv("UPDATER_TEST_SMALL_DISK");
    if (smallDisk == nullptr || *smallDisk == 0) GTEST_SKIP() << "UPDATER_TEST_SMALL_DISK unset";
    game_ = fs::u8path(smallDisk) / "game";
    MakeGame({{"big.arc", ToBytes("old")}, {"uninst.lst", {0}}});
    // Each entry fits the disk, both together do not: refused before anything is written.
    BuildUpdate({{"big.arc", Pattern(3 << 20, 3)}, {"big2.arc", Pattern(3 << 20, 4)}});
    Steps = 0;
    FileStepHook = [] { ++Steps; };
    ExpectRefusedUnchanged(InstallFailed);
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
    ExpectRefusedUnchanged(InstallFailed);
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

TEST_F(InstallTest, LargeEntryMovesTheBarsChunkByChunk) {
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

    ASSERT_EQ(Install(), Ok);
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
    EXPECT_EQ(Install(), Cancelled);
    FlushHook = nullptr;
    EXPECT_EQ(package.positions, (std::vector<WPARAM>{0, 1}));
    EXPECT_EQ(flushes, 1);  // the planned journal only
    DestroyWindow(ProgressDialogWindow);
}

// Cancel confirmed, or a quit message the install's pump takes from the queue: it stops with
// the folder as it was.
TEST_F(InstallTest, CancelAndQuitStopTheInstall) {
    BuildUpdate({{"a.arc", ToBytes("new")}});
    MakeGame({{"a.arc", ToBytes("old")}, {"uninst.lst", {0}}});
    for (const auto& [cancel, quit, expected] :
         {std::tuple{1, false, Cancelled}, {0, true, Interrupted}, {1, true, Cancelled}}) {
        SCOPED_TRACE(expected);
        CancelRequested = cancel;
        InstallAborted = 0;
        if (quit) PostQuitMessage(0);
        ExpectRefusedUnchanged(expected);
    }
}

}  // namespace
