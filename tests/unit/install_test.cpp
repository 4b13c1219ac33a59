// Installing an update into a real folder, its commit and its recovery: what the folder holds
// afterwards, byte for byte, whatever the package, the folder or a crash brought.
#include <algorithm>

#include "install_fixture.h"
#include "package/archive_format.h"
#include "package/commit.h"
#include "package/file.h"
#include "package/hash_list.h"
#include "package/journal.h"

using namespace package;

namespace fs = std::filesystem;

namespace {

// Packages the updater installs, each into its own folder: the result and every byte after.
TEST_F(InstallTest, InstallsWhatThePackageSaysWhereItSays) {
    // The update as the game ships it, built by the packer: 19 archives below Archive\ and a
    // hash list. Installed over old versions of two of them, one read-only, a record is
    // updated where it stands, the rest appended, and a gone file's record dropped.
    FileList files;
    // A record in other letters than its file's, where the file system finds it so.
    PutFiles(root_.path(), {{"case", {}}});
    const std::string otherCase =
        fs::exists(root_.path() / "CASE") ? "ARCHIVE\\DATA01000.ARC" : "Archive\\data01000.arc";
    std::vector<StoredRecord> records{{"game.exe", 5}};
    std::vector<std::string> lines{"game.exe"};
    for (int i = 0; i < 19; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "data0%d0%02d.arc", 1 + i / 5, (i % 5) * 20);
        files.push_back({"Archive/" + std::string(name), Pattern(1000 + 977 * i, i)});
        records.push_back({i == 0 ? otherCase : "Archive\\" + std::string(name),
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
          {"zol.hvl",
           MakeHashList(HashListMagicV2, 0, {{"game.exe", 5}, {otherCase, 1}, {"gone", 2}})},
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
        EXPECT_EQ(Install(), ResultCode::Ok);
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
    constexpr ResultCode Damaged = ResultCode::PackageDamaged;
    std::vector<FixtureEntry> tooMany;
    for (int i = 0; i < 257; ++i) tooMany.push_back({"f" + std::to_string(i), {}});
    const struct {
        const char* name;
        Bytes program;
        ResultCode expected;
        bool copies = false;  // refused only once the data was read, else before any write
    } rows[] = {
        {"program shorter than the package offset",
         Bytes(good.begin(), good.begin() + ArchiveOffset - 1), Damaged},
        {"unknown archive magic", changed(ArchiveOffset, 'X'), ResultCode::PackageIndexUnreadable},
        {"data cut short", Bytes(good.begin(), good.end() - 1), Damaged, true},
        // The earlier entries were copied and verified before the last one failed.
        {"a changed byte in the last entry", changed(good.size() - 10, good[good.size() - 10] ^ 1),
         Damaged, true},
        {"257 entries", MakeProgramFile("T", MakeArchive(FixtureFormat::PackFile, tooMany)),
         Damaged},
        {"a parent folder", recorded("..\\evil.dll", "evil.dll"), Damaged},
        {"an unrecorded name that escapes", archive({{"..\\up.dll", ToBytes("u")}}), Damaged},
        {"a name Windows does not allow", recorded("Sub\\a|b", "a|b"), Damaged},
        {"one file apart from case and slash",
         archive({{"ZOL.hvl", list}, {"x.arc", {}}, {"archive/X.ARC", {}}}), Damaged},
        {"another entry's temporary file", archive({{"b.arc.tmp", {}}, {"b.arc", {}}}), Damaged},
        {"a second hash list", archive({{"ZOL.hvl", list}, {"zol.HVL", list}}), Damaged},
        {"the uninstall list", archive({{"Uninst.lst", ToBytes("x\n")}}), Damaged},
        {"the journal", archive({{"update.journal", {}}}), Damaged},
        {"a folder where a file goes", archive({{"Sub", ToBytes("1")}}), ResultCode::InstallFailed},
        {"a record's folder that is missing", good, ResultCode::InstallFailed},
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
    const fs::path game = game_;
    game_ = game / std::string(700, 'x');
    EXPECT_EQ(Install(), ResultCode::PackageDamaged);
    game_ = game;
    program_ = root_.path() / "missing.exe";
    EXPECT_EQ(Install(), ResultCode::PackageIndexUnreadable);
}

// A move that fails takes back the moves made before it: a file planted, once the journal
// named it, where the last file is to be set aside stops the commit after two moves.
TEST_F(InstallTest, AFailedMoveTakesBackTheMovesBeforeIt) {
    BuildUpdate({{"a.arc", ToBytes("new a")}, {"b.arc", ToBytes("new b")}, {"c.arc", {}}});
    MakeGame({{"a.arc (read-only)", ToBytes("old a")}, {"c.arc", {}}, {"uninst.lst", {0}}});
    const Tree before = Snapshot(game_);
    static fs::path aside;
    aside = AsideIn(game_, "c.arc");
    FileStepHook = [] {
        if (fs::exists(aside.parent_path() / "update.journal") && !fs::exists(aside))
            WriteFile(aside, ToBytes("planted"));
    };
    EXPECT_EQ(Install(), ResultCode::InstallFailed);
    FileStepHook = nullptr;
    fs::remove(aside);
    EXPECT_EQ(Snapshot(game_), before);
}

// Planted journals and links are refused whole: nothing inside or outside the folder changes.
TEST_F(InstallTest, PlantedJournalsAndLinksChangeNothing) {
    const fs::path outside = root_.path() / "outside";
    auto plant = [&](const Journal& journal) {
        MakeGame(
            {{"a.arc", ToBytes("old")}, {"payload.bin", ToBytes("evil")}, {"uninst.lst", {0}}});
        PutFiles(outside, {{"victim.txt", ToBytes("v")}, {"secret.txt", ToBytes("s")}});
        MakeFolderLink(game_ / "Link", outside);
        WriteFile(game_ / "update.journal", ToBytes(EncodeJournal(journal)));
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
        EXPECT_FALSE(RecoverUpdate(game_.u16string().c_str()));
        EXPECT_EQ(Snapshot(root_.path()), before);
    }

    // An update into the folder the link points to writes nothing anywhere.
    BuildUpdate({{"Link/victim.txt", ToBytes("x")}});
    plant({});
    fs::remove(game_ / "update.journal");
    ExpectRefusedUnchanged(ResultCode::InstallFailed);
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
        WriteFile(game_ / "update.journal", ToBytes(bytes));
        EXPECT_TRUE(RecoverUpdate(game_.u16string().c_str()));
        EXPECT_EQ(fs::exists(game_ / "new.cfg"), kept);
        EXPECT_FALSE(fs::exists(game_ / "update.journal"));
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
    EXPECT_EQ(Install(), ResultCode::Ok);
    FlushHook = nullptr;
    const auto mark = std::find(flushed.rbegin(), flushed.rend(), "update.journal.tmp").base();
    for (const char* name : {"a.arc.tmp", "b.arc.tmp", "zol.hvl.tmp", "uninst.lst.tmp"})
        EXPECT_LT(std::find(flushed.begin(), flushed.end(), name), mark) << name;
    EXPECT_EQ(std::vector<std::string>(mark, flushed.end()), std::vector<std::string>{"game"});
}

TEST_F(InstallTest, CrashAtAnyStepRecoversToTheOldOrTheNewFolder) {
    BuildUpdate({{"a.arc", ToBytes("new a")},
                 {"b.arc", ToBytes("new b")},
                 {"Sub/c.arc", ToBytes("new c")}});
    const FileList game{{"a.arc (read-only)", ToBytes("old a")},
                        {"Sub/c.arc", ToBytes("old c")},
                        {"zol.hvl", MakeHashList(HashListMagicV2, 0, {{"a.arc", 1}, {"gone", 2}})},
                        {"uninst.lst", ToBytes("a.arc\n")}};
    MakeGame(game);
    const Tree before = Snapshot(game_);
    ASSERT_EQ(RunCrash(program_, game_, 0), ExitCode(ResultCode::Ok));
    const Tree after = Snapshot(game_);

    // Ended at each step k of the install, and then its recovery at each step j: a full
    // recovery afterwards gives the old folder before the commit point, the new one after.
    bool committed = false;
    for (unsigned k = 1;; ++k) {
        MakeGame(game);
        if (RunCrash(program_, game_, k) != CrashEnded) break;
        ASSERT_EQ(RunCrash({}, game_, 0), 0) << k;
        const Tree recovered = Snapshot(game_);
        committed = committed || recovered == after;
        EXPECT_EQ(recovered, committed ? after : before) << "install ended at step " << k;
        for (unsigned j = 1;; ++j) {
            MakeGame(game);
            RunCrash(program_, game_, k);
            const int ended = RunCrash({}, game_, j);
            ASSERT_EQ(RunCrash({}, game_, 0), 0);
            EXPECT_EQ(Snapshot(game_), recovered) << "steps " << k << ", " << j;
            if (ended != CrashEnded) break;
        }
    }
    EXPECT_TRUE(committed);
}

}  // namespace
