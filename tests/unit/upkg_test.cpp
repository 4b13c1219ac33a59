#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#ifndef _WIN32
#include <fcntl.h>
#include <linux/capability.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

#include "fixtures.h"
#include "package/file.h"
#include "package/package_plan.h"
#include "tools/upkg/commands.h"
#include "tools/upkg/inspect.h"
#include "tools/upkg/progress.h"
#include "tools/upkg/report.h"
#include "tools/upkg/stream.h"

using namespace package;
using namespace upkg;

namespace fs = std::filesystem;

namespace {

using Args = std::vector<std::string>;
using Walk = fs::recursive_directory_iterator;
constexpr uint64_t Chunk = StreamChunkSize;

// The "status" values of a --json report in order, separated by blanks.
std::string Statuses(const std::string& json) {
    std::string all;
    for (size_t at = 0; (at = json.find("\"status\": \"", at)) != std::string::npos; at += 11)
        all += (all.empty() ? "" : " ") + json.substr(at + 11, json.find('"', at + 11) - at - 11);
    return all;
}

class UpkgTest : public ::testing::Test {
protected:
    UpkgTest() { Put({{"stub.exe", stub_}}); }
    void Put(const FileList& files) { PutFiles(root_.path(), files); }

    int Run(const Args& arguments) { return RunUpkgCaptured(arguments, out_, err_); }

    // Builds src into out.exe, unless `options` name another title, stub or output.
    int Build(Args options = {}) {
        for (Args given : {Args{dir_ + "src"}, Args{"-o", dir_ + "out.exe"},
                           Args{"--stub", dir_ + "stub.exe"}, Args{"--title", "T"}, Args{"build"}})
            if (std::find(options.begin(), options.end(), given[0]) == options.end())
                options.insert(options.begin(), given.begin(), given.end());
        return Run(options);
    }

    ScratchFolder root_;
    const std::string dir_ = root_.path().generic_u8string() + "/";  // '/' suits both systems
    const fs::path src_ = root_.path() / "src";
    const Bytes stub_ = WindowsProgram(200000);
    std::string out_, err_;
};

// At chunk edges and past the chunks read ahead; a failure writes only whole chunks before it.
TEST_F(UpkgTest, StreamCopiesWholeChunksAndReportsTheFirstFailure) {
    using R = StreamResult;
    std::vector<std::tuple<uint64_t, uint64_t, uint64_t, bool, uint64_t, R>> cases = {
        {Chunk + 1, Chunk / 2, 0, true, 0, R::ReadShort},
        {3 * Chunk + 8, 2 * Chunk + 7, 2 * Chunk, true, 0, R::ReadShort},
        {6 * Chunk + 1, 5 * Chunk, 5 * Chunk, true, 0, R::ReadShort},
#ifndef _WIN32
        {3 * Chunk, Chunk + Chunk / 2, 1, true, 1, R::WriteFailed},
        {3 * Chunk, Chunk / 2, 0, true, 1, R::ReadShort},
        {8 * Chunk, 8 * Chunk, 2 * Chunk, true, 2 * Chunk, R::WriteFailed},
#endif
    };
    for (uint64_t n : {uint64_t{0}, uint64_t{1}, Chunk - 1, Chunk, Chunk + 1, 7 * Chunk + 5})
        for (bool write : {false, true}) cases.push_back({n, n + 9, n, write, 0, R::Done});
    Bytes source(8 * Chunk);  // no chunk of it equals another
    for (size_t i = 0; i < source.size(); ++i) source[i] = (i * 0x9E3779B97F4A7C15) >> 56;
    const std::u16string input = root_.File("in.bin"), output = root_.File("out.bin");
    Progress progress(0, true);
    for (const auto& [length, available, kept, write, cap, result] : cases) {
        SCOPED_TRACE(testing::Message() << length << " of " << available << ", cap " << cap);
        WriteFile(input, Bytes(source.begin(), source.begin() + available));
        CFileDX in, out;
        ASSERT_TRUE(in.OpenForRead(input.c_str()) &&
                    (!write || out.OpenForWrite(output.c_str(), CreateOrTruncate)));
        uint64_t sum = 7;
        ASSERT_TRUE(CapFileSize(cap));
        EXPECT_EQ(StreamWithChecksum(in, length, write ? &out : nullptr, sum, progress), result);
        CapFileSize(0);
        out.Close();
        const Bytes expected(source.begin(), source.begin() + kept);
        EXPECT_EQ(sum, result == R::Done ? ChecksumOf(expected) : 7);
        EXPECT_TRUE(!write || ReadFile(output) == expected);
        uint64_t position = 0;  // the build reads on to see whether a file grew
        EXPECT_TRUE(result != R::Done || (in.GetPosition(&position) && position == length));
    }
}

// The updater's reader reads back what build writes, the same each time; verify finds damage.
TEST_F(UpkgTest, BuiltPackagesReadBackAndVerify) {
    const char* const shapes[][4] = {
        {"arc20", "v2", "「Lumenfall」 ver 1.02", "\x81\x75Lumenfall\x81\x76 ver 1.02"},
        {"packfile", "v1", "Škoda ✓", "Škoda ✓"},  // outside code page 932: stored in UTF-8
        {"arc20", "none", "T", "T"},
    };
    for (const auto& [format, hashList, title, stored] : shapes) {
        SCOPED_TRACE(hashList);
        const size_t lists = std::string(hashList) != "none";  // entries before the files
        const std::string kana =
            lists ? "z/データ.arc" : "データ.arc";  // sorts last, as in the index
        const FileList files{{"a", Pattern(1500000, 1)}, {"b", {}}, {"c", {'c'}}, {kana, {'k'}}};
        fs::remove_all(src_);
        PutFiles(src_, files);
        const Args options{"--title", title, "--format", format, "--hash-list", hashList};
        ASSERT_EQ(Build(options), ExitOk) << err_;
        const Bytes program = ReadFile(root_.File("out.exe"));
        ASSERT_EQ(Build(options), ExitOk) << err_;
        EXPECT_EQ(ReadFile(root_.File("out.exe")), program);
        EXPECT_STREQ(reinterpret_cast<const char*>(&program[PackageOffset]), stored);

        CFileDX file;
        PackagePlan plan;
        ASSERT_TRUE(file.OpenForRead(root_.File("out.exe").c_str()) && ReadPackagePlan(file, plan));
        file.Close();
        ASSERT_EQ(plan.entries.size(), files.size() + lists);
        for (size_t i = lists; i < plan.entries.size(); ++i) {
            const PlannedEntry& entry = plan.entries[i];
            const uint64_t at = ArchiveOffset + entry.offset;
            auto [path, bytes] = files[i - lists];
            std::replace(path.begin(), path.end(), '/', '\\');
            EXPECT_EQ(entry.destination, path);
            EXPECT_EQ(entry.expected, lists ? std::optional(ChecksumOf(bytes)) : std::nullopt);
            EXPECT_EQ(Bytes(program.begin() + at, program.begin() + at + entry.size), bytes);
        }
        // Cut short: damaged. A byte of the first file changed: damaged when its checksum is
        // recorded.
        Bytes changed = program;
        changed[ArchiveOffset + plan.entries[lists].offset] ^= 0x10;
        Put({{"out.exe", Bytes(program.begin(), program.end() - 1)}});
        EXPECT_EQ(Run({"verify", dir_ + "out.exe"}), ExitDamaged);
        Put({{"out.exe", changed}});
        EXPECT_EQ(Run({"verify", dir_ + "out.exe"}), lists ? ExitDamaged : ExitOk);
    }
}

// Every refusal exits 2 naming its cause and writes nothing; rows without one build.
TEST_F(UpkgTest, RefusalsWriteNothing) {
    const Bytes base = MakeHashList(HashListMagicV1, 0, {{"a\\X", ChecksumOf({'x'})}});
    Put({{"big.exe", WindowsProgram(PackageOffset + 1)}, {"mz.exe", Pattern(900, 1)}});
    Put({{"pe.exe", Bytes(stub_.begin(), stub_.begin() + 0x82)}, {"b.hvl", base}});  // cut in "PE"
    auto huge = [](const fs::path& src) { fs::resize_file(src / "huge", uint64_t{1} << 32); };
    auto emptyFolder = [](const fs::path& src) { fs::create_directories(src / "e"); };
    auto readOnlyOutput = [](const fs::path& s) {
        PutFiles(s / "..", {{"ro.exe (read-only)", {}}});
    };
    [[maybe_unused]] auto link = [](const fs::path& s) { fs::create_symlink(s / "a", s / "l"); };
    // 242 bytes in code page 932 but 122 UTF-16 units, within Windows' classic path limit.
    std::string kana;
    for (int i = 0; i < 60; ++i) kana += "ア";
    const std::string deep = kana + "/" + kana + "/", n95(95, 'n'), p15(15, 'p');
    const Args packfile{"--format", "packfile", "--hash-list", "none"}, none{"--hash-list", "none"};
    const struct {
        std::string name, message;    // an empty message: it builds
        Args options, files = {"a"};  // files below src, each holding one byte
        int more = 0;                 // files f0, f1... besides
        void (*prepare)(const fs::path& src) = nullptr;
    } rows[] = {
        {"stub past the offset", "at most 327680 fit", {"--stub", dir_ + "big.exe"}},
        {"stub without MZ", "not a Windows program", {"--stub", dir_ + "mz.exe"}},
        {"PE signature past the end", "not a Windows program", {"--stub", dir_ + "pe.exe"}},
        {"title of 1024 bytes", "1024 bytes", {"--title", std::string(1024, 't')}},
        {"only an empty folder", "no files", {}, {}, 0, emptyFolder},
        {"names equal but for case", "same name apart from case", {}, {"A/X.arc", "b/x.arc"}},
        {"the hash list's name", "ZOL.HVL", {}, {"sub/ZOL.HVL"}},
        {"another's temporary name", "would overwrite", {}, {"a", "a.tmp"}},
        {"the uninstall list", "Uninst.lst", {}, {"Uninst.lst"}},
        {"folders, no hash list", "need a hash list", none, {"A/a.arc"}},
        {"-o naming the stub", "names the stub", {"-o", dir_ + "src/../stub.exe"}},
        {"-o inside the source", "inside the source", {"-o", dir_ + "src/o.exe"}},
        {"-o empty", "-o needs the name", {"-o", ""}},
        {"-o the source", "is a folder", {"-o", dir_ + "src/"}},
        {"-o read-only", "is read-only", {"-o", dir_ + "ro.exe"}, {"a"}, 0, readOnlyOutput},
        {"a base that is neither", "neither an update program", {"--base", dir_ + "stub.exe"}},
        {"a base, no hash list", "needs a hash list", {"--base", "b", "--hash-list", "none"}},
        {"nothing to update", "nothing to update", {"--base", dir_ + "b.hvl"}, {"A/x"}},
        {"past 4 GiB", "4 GiB", {}, {"a", "huge"}, 0, huge},
        {"name 95, path 247, 255 files", "", {}, {n95, deep + "fffff"}, 253},
        {"name 15, 256 files, no list", "", packfile, {p15}, 255},
        {"v1 path of 55 bytes", "", {"--hash-list", "v1"}, {"d/" + std::string(53, 'f')}},
        {"name of 96 bytes", "at most 95 fit", {}, {n95 + "n"}},
        {"packfile name of 16", "at most 15 fit", packfile, {p15 + "p"}},
        {"16 in code page 932", "16 bytes in code page", packfile, {"ア" + p15.substr(1)}},
        {"path of 248 bytes", "at most 247 fit", {}, {deep + "ffffff"}},
        {"v1 path of 56", "at most 55 fit", {"--hash-list", "v1"}, {"d/" + std::string(54, 'f')}},
        {"name outside 932", "name cannot be written", {}, {"\xC5\xA0koda.arc"}},
        {"folder outside 932", "path cannot be written", {}, {"\xE2\x9C\x93/a.arc"}},
        {"256 files and the list", "256 files", {}, {}, 256},
        {"257 files, no list", "257 files", none, {}, 257},
        {"a repeated option", "--title is given more than once", {"--title", "T", "--title", "T"}},
        {"--help as a value", "--title needs a value, not --help", {"--title", "--help"}},
        {"--opt=value for a flag", "--verbose takes no value", {"--verbose=yes"}},
        {"an unknown option", "unknown option --bogus", {"--bogus"}},
        {"bundled", "--quiet and --verbose exclude", {"-qv"}},
        {"bundled, unknown", "unknown option -z\nTry 'upkg build --help' for", {"-qz"}},
#ifndef _WIN32  // such names, and links as links, exist only natively
        {"a ?", "Windows allows", {}, {"a?b.arc"}},
        {"a trailing dot", "Windows allows", {}, {"trailing."}},
        {"a device name", "Windows allows", {}, {"CON.txt"}},
        {"a symbolic link", "symbolic link", {}, {"a"}, 0, link},
#endif
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        for (const char* at : {"src", "out.exe"}) fs::remove_all(root_.path() / at);
        for (const std::string& file : row.files) PutFiles(src_, {{file, {'x'}}});
        for (int i = 0; i < row.more; ++i) PutFiles(src_, {{"f" + std::to_string(i), {}}});
        if (row.prepare) row.prepare(src_);
        const auto before = std::distance(Walk(root_.path()), Walk());
        EXPECT_EQ(Build(row.options), row.message.empty() ? ExitOk : ExitUsage) << err_;
        EXPECT_NE(err_.find(row.message), std::string::npos) << err_;
        EXPECT_EQ(err_.find("usage:"), std::string::npos) << err_;  // one line, not the help
        EXPECT_EQ(std::distance(Walk(root_.path()), Walk()), before + row.message.empty());
        EXPECT_EQ(ReadFile(root_.File("stub.exe")), stub_);
    }
}

// Files found as Windows finds them; a record that matches nothing is damage too.
TEST_F(UpkgTest, VerifyAndCheckJudgeEveryRecord) {
    PutFiles(root_.path() / "game", {{"A/d", {'x'}}, {"b", {'y'}}});
#ifndef _WIN32  // two names Windows cannot tell apart
    PutFiles(root_.path() / "game", {{"E", {'x'}}, {"e", {'x'}}});
#endif
    const uint64_t x = ChecksumOf({'x'});
    const char *v1 = HashListMagicV1, *v2 = HashListMagicV2, *bad = "ZHV_V9__";
    const struct {
        const char *name, *command, *magic, *judged;  // exit code, then each status
        std::vector<StoredRecord> records;
    } cases[] = {
        {"recorded", "verify", v1, "0: ok ok unrecorded", {{"Game\\d", x}}},
        {"a record, no entry", "verify", v2, "1: ok ok unrecorded", {{"d", x}, {"e", x}}},
        {"checksum differs", "verify", v2, "1: ok damaged unrecorded", {{"d", x + 1}}},
        {"path leaves the folder", "verify", v2, "1: ok damaged unrecorded", {{"..\\d", x}}},
        {"unreadable list", "verify", bad, "1: damaged unrecorded unrecorded", {{"d", x}}},
        {"case and / ignored", "check", v1, "0: ok", {{"a/D", x}}},
        {"damaged, missing", "check", v2, "1: damaged missing", {{"b", x}, {"c", x}}},
        {"a name Windows refuses", "check", v2, "1: damaged", {{"b|c", x}}},
        {"unreadable list", "check", bad, "1: ", {{"b", x}}},
#ifndef _WIN32
        {"names equal apart from case",
         "check",
         v2,
         "1: ok ambiguous",
         {{"b", ChecksumOf({'y'})}, {"E", x}}},
#endif
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.command) + ": " + c.name);
        const Bytes list = MakeHashList(c.magic, 0, c.records);
        const Bytes archive = MakeArchive(FixtureFormat::PackFile,
                                          {{"zol.HVL", list}, {"d", {'x'}}, {"norecord", {'y'}}});
        Put({{"out.exe", MakeProgramFile("P", archive)}, {"game/zol.hvl", list}});
        const int code =
            Run({c.command, "--json", dir_ + (c.command[0] == 'v' ? "out.exe" : "game")});
        EXPECT_EQ(std::to_string(code) + ": " + Statuses(out_), c.judged) << out_ << err_;
    }
}

// extract checks all before it writes, replaces only when told to, and follows no link.
TEST_F(UpkgTest, ExtractWritesAllOrNothing) {
    // The large file comes first in the index, so a write failing in it leaves nothing else.
    PutFiles(src_, {{"0.bin", Pattern(2 * Chunk + 9, 8)}, {"A/a", {'a'}}, {"b", {'b'}}});
    ASSERT_EQ(Build(), ExitOk) << err_;
    const Bytes good = ReadFile(root_.File("out.exe")), mine = ToBytes("mine");
    const Bytes cut(good.begin(), good.end() - 1);
    const struct {
        const char* name;
        FileList put;  // below the scratch folder, before extracting into x
        bool overwrite;
        Args link = {};     // a symbolic link to put too, and where
        int code, cap = 0;  // cap: on the size of any file written
    } cases[] = {
        {"into a new folder", {}, false, {}, ExitOk},
        {"a file exists", {{"x/b", mine}}, false, {}, ExitUsage},
        {"--overwrite", {{"x/b", mine}}, true, {}, ExitOk},
        {"--overwrite, read-only", {{"x/A/a (read-only)", mine}, {"x/b", mine}}, true, {}, ExitOk},
        {"a file where a folder goes", {{"x/A", mine}}, true, {}, ExitUsage},
        {"a damaged package", {{"out.exe", cut}}, false, {}, ExitDamaged},
#ifndef _WIN32  // Wine shows links as the files they point to
        {"a link at the target", {{"v", mine}, {"x/c", mine}}, true, {"v", "x/b"}, ExitUsage},
        {"a link at a folder", {{"e/c", mine}, {"x/c", mine}}, true, {"e", "x/A"}, ExitUsage},
        {"a write failing midway", {{"x/c", mine}}, false, {}, ExitDamaged, Chunk},
#endif
    };
    const fs::path x = root_.path() / "x";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(x);
        Put({{"out.exe", good}});
        Put(c.put);
        if (!c.link.empty()) fs::create_symlink(root_.path() / c.link[0], root_.path() / c.link[1]);
        const Tree before = Snapshot(root_.path());
        ASSERT_TRUE(CapFileSize(c.cap));
        const char* overwrite = c.overwrite ? "--overwrite" : "--quiet";
        EXPECT_EQ(Run({"extract", dir_ + "out.exe", dir_ + "x", overwrite}), c.code) << err_;
        EXPECT_TRUE((c.put != FileList{{"out.exe", cut}}) ||  // names the entry, as verify does
                    err_.find("entry \"b\": its data is cut short") != std::string::npos);
        CapFileSize(0);
        EXPECT_EQ(Snapshot(c.code ? root_.path() : x), c.code ? before : Snapshot(src_));
    }
#ifdef _WIN32  // a file another program holds without delete sharing is found before writing
    fs::remove_all(x);
    Put({{"out.exe", good}, {"x/b", mine}});
    CFileDX held;
    ASSERT_TRUE(held.OpenForRead(root_.File("x/b").c_str()));
    EXPECT_EQ(Run({"extract", dir_ + "out.exe", dir_ + "x", "--overwrite"}), ExitDamaged);
    EXPECT_NE(err_.find("cannot be replaced"), std::string::npos) << err_;
    EXPECT_EQ(Snapshot(x), (Tree{{"b", mine}}));
#endif
}

// Patterns match as tar's do; a base is an earlier program or an installation's list.
TEST_F(UpkgTest, ExcludeAndBaseChooseTheFiles) {
    PutFiles(src_, {{"A/a.arc", {'a'}}, {"b.log.txt", {'b'}}});
    ASSERT_EQ(Build({"-o", dir_ + "old.exe"}), ExitOk) << err_;
    const Bytes list =
        MakeHashList(HashListMagicV1, 0, {{"a\\A.ARC", ChecksumOf({'a'})}, {"gone", 0}});
    const std::string long56 = "L/" + std::string(54, 'l');  // more than a v1 list holds
    Put({{"zol.hvl", list}, {"src/A/n.arc", {'n'}}, {"src/A/t.log", {'l'}}, {"src/" + long56, {}}});
    PutFiles(src_, {{"A/ア.bak", {'k'}}, {"Saves/s", {'s'}}, {"b.log.txt", {'B'}}});
    for (const std::string& base : {dir_ + "old.exe", dir_ + "zol.hvl"}) {
        for (const char* at : {"x", "out.exe"}) fs::remove_all(root_.path() / at);
        Build({"--base", base, "--exclude=S[!b-z]ve?", "--exclude=*.log", "--exclude=?.bak"});
        // The installation's list (v1) records "gone", which stays; a long path goes unrecorded.
        const bool list = base == dir_ + "zol.hvl";
        EXPECT_EQ(out_.find("1 files the base records are not") != std::string::npos, list);
        EXPECT_EQ(out_.find("1 paths are over the 55 bytes") != std::string::npos, list) << out_;
        ASSERT_EQ(Run({"extract", dir_ + "out.exe", dir_ + "x"}), ExitOk) << err_;
        EXPECT_EQ(
            Snapshot(root_.path() / "x"),
            (Tree{{"A/", {}}, {"A/n.arc", {'n'}}, {"L/", {}}, {long56, {}}, {"b.log.txt", {'B'}}}));
    }
}

TEST_F(UpkgTest, ChecksumPrintsAndChecksLikeSha256sum) {
    Put({{"abc", ToBytes("abc")}, {"empty", {}}});
    const std::string abc = dir_ + "abc", empty = dir_ + "empty";
    EXPECT_EQ(Run({"checksum", abc, empty}), ExitOk);
    EXPECT_EQ(out_, "06b4500012cc2660  " + abc + "\n0000000000000000  " + empty + "\n");
    const Bytes sums = ToBytes(out_ + "garbage\r\n0000000000000000 *" + dir_ + "none\n");
    Put({{"abc", ToBytes("abd")}, {"sums", sums}});
    EXPECT_EQ(Run({"checksum", "-c", dir_ + "sums"}), ExitDamaged);
    EXPECT_EQ(out_, abc + ": FAILED\n" + empty + ": OK\n" + dir_ + "none: FAILED open or read\n");
    EXPECT_NE(err_.find("1 lines are improperly formatted"), std::string::npos) << err_;
    Put({{"sums", ToBytes("06b4500012cc2660  " + abc + "\n")}});  // every file readable
    EXPECT_EQ(Run({"checksum", "-c", dir_ + "sums"}), ExitDamaged);

    const std::string none = dir_ + "none";
    Put({{"sums", ToBytes("0000000000000000  " + empty + "\ngarbage\n0000000000000000  " + none)}});
    const struct {
        Args options;
        int code;
        std::string out, err;  // what stdout is, what stderr holds
    } habits[] = {
        {{"--ignore-missing"}, ExitOk, empty + ": OK\n", "1 lines are improperly formatted"},
        {{"--ignore-missing", "--strict"}, ExitDamaged, empty + ": OK\n", "improperly"},
        {{"--status"}, ExitDamaged, "", "cannot open \"" + none},
        {{"-qw"}, ExitDamaged, none + ": FAILED open or read\n", "sums: 2: improperly formatted"},
    };
    for (const auto& h : habits) {
        SCOPED_TRACE(h.options[0]);
        Args args{"checksum", "-c", dir_ + "sums"};
        args.insert(args.begin() + 1, h.options.begin(), h.options.end());
        EXPECT_EQ(Run(args), h.code);
        EXPECT_EQ(out_, h.out);
        EXPECT_NE(err_.find(h.err), std::string::npos) << err_;
        EXPECT_TRUE(h.options[0] != "--status" || err_.find("WARNING") == std::string::npos);
    }
    Put({{"sums", ToBytes("0000000000000000  " + none + "\n")}});
    // No LIST: standard input.
    ASSERT_TRUE(std::freopen((root_.path() / "sums").string().c_str(), "rb", stdin));
    EXPECT_EQ(Run({"checksum", "-c", "--ignore-missing"}), ExitDamaged);
    EXPECT_NE(err_.find("standard input: no file was verified"), std::string::npos) << err_;
    ASSERT_TRUE(std::freopen((root_.path() / "abc").string().c_str(), "rb", stdin));
    EXPECT_EQ(Run({"checksum", "-"}), ExitOk);
    EXPECT_EQ(out_, ChecksumHex(ChecksumOf(ToBytes("abd"))) + "  -\n");
}

// Names and titles reach the terminal escaped, never as the control characters they hold.
TEST_F(UpkgTest, ControlCharactersAreEscaped) {
    EXPECT_EQ(Shown(std::string("a\x1b\xc2\x9b\n\xff\x7f")), "a\\x1b\\u009b\\n\\xff\\x7f");
    const std::string evil = "\x1b]0;x\a";
    const Bytes list = MakeHashList(HashListMagicV2, 0, {{evil, ChecksumOf({'x'})}});
    const Bytes archive = MakeArchive(FixtureFormat::Arc20, {{"zol.hvl", list}, {evil, {'x'}}});
    Put({{"out.exe", MakeProgramFile(evil, archive)}, {"game/zol.hvl", list}});
    const std::string out = dir_ + "out.exe";
    for (const Args& args :
         {Args{"list", "-v", out}, Args{"verify", "-v", out},
          Args{"extract", "-v", out, dir_ + "x"}, Args{"check", "-v", dir_ + "game"}}) {
        Run(args);
        const std::string all = out_ + err_;
        EXPECT_NE(all.find("\\x1b]0;x\\a"), std::string::npos) << args[0] << all;
        EXPECT_EQ(all.find_first_of("\x1b\a\x7f"), std::string::npos) << args[0] << all;
    }
}

#ifndef _WIN32  // natively: names as bytes, links as links, signals, root's permissions, terminals
// What a terminal shows of `raw`: a carriage return goes back to the line's start, later
// characters overwrite earlier ones, and blanks at a line's end do not show.
std::string Screen(const std::string& raw) {
    std::string screen, line;
    size_t column = 0;
    for (char c : raw) {
        if (c == '\n') {
            screen += line.substr(0, line.find_last_not_of(' ') + 1) + "\n";
            line.clear();
        }
        if (c == '\r' || c == '\n') {
            column = 0;
            continue;
        }
        if (column == line.size()) line += c;
        line[column++] = c;
    }
    return screen + line;
}

// On a terminal, progress is one line on stderr that is blanked before any other line and
// at the end: the screen shows just what the output is without it.
TEST_F(UpkgTest, ProgressLeavesNoTrace) {
    const Bytes large = Pattern(3 * Chunk, 1);
    PutFiles(src_, {{"a", large}, {"b", {'b'}}});
    ASSERT_EQ(Build(), ExitOk) << err_;
    const Bytes list = MakeHashList(HashListMagicV2, 0, {{"a", ChecksumOf(large)}, {"c", 0}});
    Put({{"game/zol.hvl", list}, {"game/a", large}});
    const std::string out = dir_ + "out.exe";
    for (const Args& args : {Args{"verify", out}, Args{"extract", out, dir_ + "x"},
                             Args{"check", dir_ + "game"}, Args{"checksum", dir_ + "src/a", out}}) {
        SCOPED_TRACE(args[0]);
        int terminal = -1;
        std::fflush(stdout);
        const std::string end = "<end>";  // then the child waits until all is read
        if (forkpty(&terminal, nullptr, nullptr, nullptr) == 0) {
            std::setvbuf(stdout, nullptr, _IOLBF, 0);  // as on a terminal from the start
            const int code = RunUpkg(args);
            std::fputs(end.c_str(), stdout);
            std::fflush(stdout);
            for (char hangUp; read(STDIN_FILENO, &hangUp, 1) > 0;) {
            }
            _exit(code);
        }
        std::string raw;
        char buffer[4096];
        for (ssize_t got; raw.find(end) == std::string::npos &&
                          (got = read(terminal, buffer, sizeof buffer)) > 0;)
            raw.append(buffer, got);
        close(terminal);
        wait(nullptr);
        raw = raw.substr(0, raw.find(end));
        fs::remove_all(root_.path() / "x");
        Run(args);
        EXPECT_NE(raw.find(" MiB ("), std::string::npos) << raw;  // it was drawn
        EXPECT_EQ(Screen(raw), out_ + err_) << raw;
    }
}

// Root passes every permission check; without these two capabilities it meets them as others do.
class AsOthers {
public:
    AsOthers() {
        syscall(SYS_capget, &header_, saved_);
        __user_cap_data_struct lowered[2] = {saved_[0], saved_[1]};
        lowered[0].effective &= ~(1u << CAP_DAC_OVERRIDE | 1u << CAP_DAC_READ_SEARCH);
        syscall(SYS_capset, &header_, lowered);
    }
    ~AsOthers() { syscall(SYS_capset, &header_, saved_); }

private:
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2] = {};
};

TEST_F(UpkgTest, NamesAreTheSystemsOwnBytes) {
    const std::string e = dir_ + "\xe9";  // Latin-1 é
    PutFiles(root_.path() / "\xe9src", {{"A/a", {'a'}}});
    Put({{"b\\c", {'c'}}});
    auto build = [&](const std::string& out) {
        return Run({"build", "--stub", dir_ + "stub.exe", "--title", "T", "-vo" + out, e + "src"});
    };
    EXPECT_EQ(build(e + ".exe"), ExitOk) << err_;
    EXPECT_NE(out_.find("\\xe9.exe"), std::string::npos) << out_;  // shown escaped
    for (const char* command : {"list", "verify"}) EXPECT_EQ(Run({command, e + ".exe"}), ExitOk);
    EXPECT_EQ(Run({"extract", e + ".exe", e}), ExitOk) << err_;
    EXPECT_EQ(ReadFile(root_.path() / "\xe9/A/a"), Bytes{'a'});
    Put({{"\xe9/zol.hvl", MakeHashList(HashListMagicV2, 0, {{"A\\a", ChecksumOf({'a'})}})}});
    EXPECT_EQ(Run({"check", e}), ExitOk) << err_;
    EXPECT_EQ(Run({"checksum", e + "/A/a", dir_ + "b\\c"}), ExitOk) << err_;  // not b/c
    Put({{"sums", ToBytes(out_)}});
    EXPECT_EQ(Run({"checksum", "-c", dir_ + "sums"}), ExitOk) << out_ << err_;
    PutFiles(root_.path() / "\xe9src", {{"\xff", {}}});  // a package stores names as UTF-8
    EXPECT_EQ(build(dir_ + "o.exe"), ExitUsage);
    EXPECT_NE(err_.find("\"\\xff\" is not text"), std::string::npos) << err_;
}

// Another program putting a link in place of a folder or file between two files gains nothing.
TEST_F(UpkgTest, ALinkPlantedMeanwhileIsNeverFollowed) {
    static fs::path root;
    root = root_.path();
    PutFiles(src_, {{"A/a", {'a'}}, {"A/b", {'b'}}});
    Put({{"v/keep", {'k'}}});
    ASSERT_EQ(Build(), ExitOk) << err_;
    BetweenFilesHook = [] {
        fs::rename(root / "x/A", root / "x/moved");
        fs::create_symlink(root / "v", root / "x/A");
    };
    EXPECT_EQ(Run({"extract", dir_ + "out.exe", dir_ + "x"}), ExitDamaged);
    EXPECT_EQ(Snapshot(root / "v"), (Tree{{"keep", {'k'}}}));
    void (*swaps[])() = {
        [] { fs::create_symlink(root / "v/keep", root / "c"); },
        [] { fs::copy_file(root / "v/keep", root / "c"); },  // of the listed size
    };
    for (auto swap : swaps) {
        BetweenFilesHook = [] { fs::rename(root / "c", root / "src/A/b"); };
        swap();
        fs::remove(root / "out.exe");
        EXPECT_EQ(Build(), ExitDamaged) << err_;
        EXPECT_NE(err_.find("src/A/b\""), std::string::npos) << err_;
        EXPECT_FALSE(fs::exists(root / "out.exe"));
        fs::remove(src_ / "A/b");
        PutFiles(src_, {{"A/b", {'b'}}});
    }
    BetweenFilesHook = nullptr;
}

// A folder that cannot be read is named; a file that cannot be replaced is found first.
TEST_F(UpkgTest, WhatPermissionsRefuseIsNamedBeforeWriting) {
    PutFiles(src_, {{"0", {'0'}}, {"A/a", {'a'}}, {"B/b", {'b'}}});
    ASSERT_EQ(Build(), ExitOk) << err_;
    Put({{"x/A/a", {'o'}}});
    fs::permissions(root_.path() / "x/A", fs::perms::owner_read | fs::perms::owner_exec);
    fs::permissions(src_ / "B", fs::perms::none);
    {
        const AsOthers others;
        EXPECT_EQ(Run({"extract", "--overwrite", dir_ + "out.exe", dir_ + "x"}), ExitDamaged);
        EXPECT_NE(err_.find("x/A/a\" cannot be replaced"), std::string::npos) << err_;
        EXPECT_EQ(Build({"-o", dir_ + "o.exe"}), ExitDamaged);
        EXPECT_NE(err_.find("src/B\": Permission denied"), std::string::npos) << err_;
    }
    EXPECT_EQ(Snapshot(root_.path() / "x"), (Tree{{"A/", {}}, {"A/a", {'o'}}}));
}

// Each signal that ends upkg removes the temporary file first, then ends it as it would.
TEST_F(UpkgTest, ASignalRemovesTheTemporaryFile) {
    for (int i = 0; i < 100; ++i) PutFiles(src_, {{std::to_string(i) + std::string(90, 'f'), {}}});
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) {
        SCOPED_TRACE(signal);
        int out[2];
        ASSERT_EQ(pipe(out), 0);
        fcntl(out[1], F_SETPIPE_SZ, 4096);
        std::fflush(stdout);
        if (const pid_t child = fork(); child == 0) {
            const rlimit noCore = {0, 0};
            setrlimit(RLIMIT_CORE, &noCore);
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            std::setvbuf(stdout, nullptr, _IOLBF, 0);
            _exit(RunUpkg({"build", "-v", "--hash-list", "none", "--stub", dir_ + "stub.exe",
                           "--title", "T", "-o", dir_ + "out.exe", dir_ + "src"}));
        } else {
            close(out[1]);
            // A line out means the temporary file is open; the pipe then takes 4 KiB of the
            // 11 KiB of lines, so upkg waits mid-way until it is read.
            int queued = 0, status = 0;
            pid_t ended = 0;
            while (queued == 0 && (ended = waitpid(child, &status, WNOHANG)) == 0)
                ioctl(out[0], FIONREAD, &queued);
            if (ended == 0) {  // still running, as it must be
                signal == SIGPIPE ? close(out[0]) : kill(child, signal);
                waitpid(child, &status, 0);
            }
            close(out[0]);
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
        }
        EXPECT_EQ(std::distance(fs::directory_iterator(root_.path()), {}), 2);  // stub.exe, src
    }
}
#endif

}  // namespace
