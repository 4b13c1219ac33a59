// Times installing a 1 GiB update of 20 files against copying the same 20 files with
// CopyFileW and flushing each copy (the install flushes each file it writes), alternately in
// one run, and prints every run, the medians and their ratio. Then where the install's time
// goes: the copy loop done again with the calls the install makes (read a chunk, fold it,
// write it, pump messages; flush each file), each kind timed on its own, per GiB.
// Not a test: it asserts nothing about time.
//
// usage: install_bench [SCRATCH_PARENT] [REPETITIONS] [variants]
//   SCRATCH_PARENT  where a folder for the 3 GiB of scratch data is made (empty or left out:
//                   the temporary folder); it is removed at the end, also after a failure
//   REPETITIONS     timed runs of each (default: 5), after one that is not counted
//   variants        also time that loop writing in pieces of other sizes, and reading, folding
//                   and writing each chunk in parts

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/install.h"
#include "app/message_pump.h"
#include "app/updater_state.h"
#include "package/checksum.h"
#include "package/file.h"
#include "package/hash_list.h"
#include "package/journal.h"
#include "package/package_plan.h"
#include "tools/upkg/build.h"

using namespace package;
using namespace updater;
using namespace upkg;

namespace fs = std::filesystem;

namespace {

constexpr int FileCount = 20;
constexpr uint64_t TotalBytes = uint64_t{1} << 30;
constexpr uint32_t BlockSize = 1 << 20;

using Clock = std::chrono::steady_clock;

fs::path Scratch;  // removed on the way out

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Names the failed step and stops the program.
[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "install_bench: %s (error %lu)\n", what.c_str(), GetLastError());
    std::error_code ignored;
    if (!Scratch.empty()) fs::remove_all(Scratch, ignored);
    std::exit(1);
}

// Opens an existing file to push its written bytes to the disk, so that the timed runs do
// not pay for the writing of the inputs.
void FlushToDisk(const fs::path& path) {
    HANDLE file = CreateFileW(path.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE || !FlushFileBuffers(file))
        Fail("flushing " + path.u8string());
    CloseHandle(file);
}

// Random bytes, so that no layer along the way can make anything of repeated data.
void WriteRandomFile(const fs::path& path, uint64_t size, uint64_t& seed) {
    HANDLE file = CreateFileW(path.wstring().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) Fail("creating " + path.u8string());
    std::vector<uint64_t> block(BlockSize / 8);
    for (uint64_t left = size; left != 0;) {
        for (uint64_t& word : block) {  // splitmix64
            uint64_t z = (seed += 0x9E3779B97F4A7C15);
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EB;
            word = z ^ (z >> 31);
        }
        const DWORD chunk = static_cast<DWORD>(std::min<uint64_t>(left, BlockSize));
        DWORD written = 0;
        if (!WriteFile(file, block.data(), chunk, &written, nullptr) || written != chunk)
            Fail("writing " + path.u8string());
        left -= chunk;
    }
    if (!FlushFileBuffers(file)) Fail("flushing " + path.u8string());
    CloseHandle(file);
}

// Reads a file through once, so that every run finds it in the cache.
void ReadThrough(const fs::path& path) {
    HANDLE file = CreateFileW(path.wstring().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) Fail("opening " + path.u8string());
    std::vector<char> block(BlockSize);
    DWORD got = 0;
    while (ReadFile(file, block.data(), BlockSize, &got, nullptr) && got != 0) {
    }
    CloseHandle(file);
}

// A game folder as an installed game has it: Archive\, an empty uninstall list and an empty
// hash list.
void PrepareGame(const fs::path& game) {
    std::error_code ec;
    fs::remove_all(game, ec);
    fs::create_directories(game / "Archive");
    HANDLE file = CreateFileW((game / "uninst.lst").wstring().c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    const char terminator = 0;
    if (file == INVALID_HANDLE_VALUE || !WriteFile(file, &terminator, 1, &written, nullptr))
        Fail("writing uninst.lst");
    CloseHandle(file);
    HashListHeader header{};
    std::copy(HashListMagicV2, HashListMagicV2 + HashListMagicSize, header.magic);
    if (!WriteHashList(header, {}, (game / "zol.hvl").u16string().c_str())) Fail("writing zol.hvl");
}

// The install's own time split at its file steps (the hook its crash tests use): before the
// first temporary file (plan and journal), each file's copy loop (create, read, fold, write,
// pump), each file's flush, and the commit (moves, lists, journal), in milliseconds.
struct InstallTimes {
    double total = 0, prepare = 0, loops = 0, flushes = 0, commit = 0;
};

std::vector<Clock::time_point> Steps;

void RecordStep() {
    Steps.push_back(Clock::now());
}

double Between(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

InstallTimes TimeInstall(const fs::path& program, const fs::path& game,
                         const std::vector<fs::path>& sources) {
    PrepareGame(game);
    CancelRequested = 0;
    InstallAborted = 0;
    Steps.clear();
    Steps.reserve(100);
    FileStepHook = RecordStep;
    const Clock::time_point start = Clock::now();
    const ResultCode result = InstallUpdateFrom(program.wstring().c_str(), game.wstring().c_str());
    const Clock::time_point end = Clock::now();
    FileStepHook = nullptr;
    if (result != ResultCode::Ok) Fail("the install returned " + std::to_string(ExitCode(result)));
    for (const fs::path& source : sources)
        if (fs::file_size(game / "Archive" / source.filename()) != fs::file_size(source))
            Fail("the install left " + source.filename().u8string() + " at another size");
    // Two steps write the journal, then two for each file: before it is created and before it
    // is flushed; the commit's steps follow.
    const size_t files = sources.size();
    if (Steps.size() < 2 * files + 3) Fail("the install took fewer file steps than expected");
    InstallTimes times;
    times.total = Between(start, end);
    times.prepare = Between(start, Steps[2]);
    for (size_t i = 0; i < files; ++i) {
        times.loops += Between(Steps[2 + 2 * i], Steps[3 + 2 * i]);
        times.flushes += Between(Steps[3 + 2 * i], Steps[4 + 2 * i]);
    }
    times.commit = Between(Steps[2 + 2 * files], end);
    return times;
}

struct CopyTimes {
    double copy = 0;   // CopyFileW of every file
    double flush = 0;  // FlushFileBuffers of every copy
};

CopyTimes TimeCopy(const std::vector<fs::path>& sources, const fs::path& target) {
    std::error_code ec;
    fs::remove_all(target, ec);
    fs::create_directories(target / "Archive");
    CopyTimes times;
    for (const fs::path& source : sources) {
        const fs::path copy = target / "Archive" / source.filename();
        Clock::time_point start = Clock::now();
        if (!CopyFileW(source.wstring().c_str(), copy.wstring().c_str(), FALSE))
            Fail("copying " + source.u8string());
        times.copy += MillisecondsSince(start);
        start = Clock::now();
        FlushToDisk(copy);
        times.flush += MillisecondsSince(start);
    }
    return times;
}

// The kinds of work in the install's copy loop, in milliseconds.
enum Phase { Open, Read, Fold, Write, Pump, Flush, PhaseCount };
const char* const PhaseNames[PhaseCount] = {"create and close the temporary files",
                                            "read (1 MiB chunks)",
                                            "fold the checksum",
                                            "write",
                                            "pump messages",
                                            "flush each file"};
using PhaseTimes = std::vector<double>;

// A stopwatch that adds the time since the last lap to one phase.
class Laps {
public:
    explicit Laps(PhaseTimes& times) : times_(times), last_(Clock::now()) {}
    void Lap(Phase phase) {
        const Clock::time_point now = Clock::now();
        times_[phase] += std::chrono::duration<double, std::milli>(now - last_).count();
        last_ = now;
    }
    void Skip() { last_ = Clock::now(); }

private:
    PhaseTimes& times_;
    Clock::time_point last_;
};

// Writes in pieces of at most `piece` bytes; 0 writes through WriteInPieces as the install does.
bool WriteChunk(CFileDX& out, const uint8_t* bytes, uint32_t length, uint32_t piece) {
    if (piece == 0) return WriteInPieces(out, bytes, length);
    for (uint32_t done = 0; done < length; done += piece) {
        const uint32_t size = std::min(length - done, piece);
        if (out.Write(bytes + done, size) != size) return false;
    }
    return true;
}

// The install's copy loop with the same calls (package file read in 1 MiB chunks through one
// buffer, the fold, the writes, a message pump after each chunk, each file flushed), timed by
// phase, writing as WriteChunk does with `piece`. A `step` other than 0 reads, folds and writes
// each chunk that many bytes at a time, into its place in the buffer, before the pump.
PhaseTimes TimePhases(const fs::path& program, const fs::path& folder, uint32_t piece,
                      uint32_t step) {
    constexpr uint32_t ChunkSize = 0x100000;
    std::error_code ec;
    fs::remove_all(folder, ec);
    fs::create_directories(folder);
    CFileDX package;
    PackagePlan plan;
    if (!package.OpenForRead(program.u16string().c_str()) || !ReadPackagePlan(package, plan))
        Fail("reading the plan of " + program.u8string());
    std::vector<uint8_t> buffer(ChunkSize, 0);
    PhaseTimes times(PhaseCount, 0.0);
    Laps laps(times);
    for (size_t i = 0; i < plan.entries.size(); ++i) {
        const PlannedEntry& entry = plan.entries[i];
        if (!entry.installed) continue;
        if (!package.Seek(static_cast<int64_t>(ArchiveOffset + entry.offset))) Fail("seeking");
        const fs::path temporary = folder / (std::to_string(i) + ".tmp");
        laps.Skip();
        CFileDX out;
        if (!out.OpenForWrite(temporary.u16string().c_str(), CreateOrTruncate))
            Fail("creating " + temporary.u8string());
        laps.Lap(Open);
        uint8_t state[8] = {};
        for (uint32_t done = 0; done < entry.size;) {
            const uint32_t chunk = std::min(entry.size - done, ChunkSize);
            for (uint32_t at = 0; at < chunk;) {
                const uint32_t part = step == 0 ? chunk : std::min(chunk - at, step);
                if (package.Read(buffer.data() + at, part) != part) Fail("reading the package");
                laps.Lap(Read);
                AddToChecksum(state, buffer.data() + at, part);
                laps.Lap(Fold);
                if (!WriteChunk(out, buffer.data() + at, part, piece)) Fail("writing");
                laps.Lap(Write);
                at += part;
            }
            if (PumpMessages() != 0) Fail("a quit message");
            laps.Lap(Pump);
            done += chunk;
        }
        if (!out.Flush()) Fail("flushing");
        laps.Lap(Flush);
        out.Close();
        laps.Lap(Open);
        uint64_t checksum = 0;
        std::memcpy(&checksum, state, sizeof state);
        if (entry.expected && *entry.expected != checksum) Fail("a checksum differs");
    }
    fs::remove_all(folder, ec);
    return times;
}

double Sum(const PhaseTimes& times) {
    double sum = 0;
    for (double t : times) sum += t;
    return sum;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void PrintRow(const char* name, const std::vector<double>& times) {
    std::printf("%-40s %8.0f ms  (", name, Median(times));
    for (size_t i = 0; i < times.size(); ++i) std::printf("%s%.0f", i ? " " : "", times[i]);
    std::printf(")\n");
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path parent =
        argc > 1 && argv[1][0] != 0 ? fs::u8path(argv[1]) : fs::temp_directory_path();
    const fs::path scratch = parent / ("install-bench-" + std::to_string(GetCurrentProcessId()));
    const int repetitions = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    ProgressDialogWindow = nullptr;
    CurrentLanguage = LanguageEnglish;

    std::error_code ec;
    fs::remove_all(scratch, ec);  // left by an earlier run that had the same process id
    fs::create_directories(scratch / "source" / "Archive");
    Scratch = scratch;
    std::printf("scratch folder %s\n", scratch.u8string().c_str());

    std::vector<fs::path> sources;
    uint64_t seed = 20240601;
    for (int i = 0; i < FileCount; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "part%02d.arc", i);
        sources.push_back(scratch / "source" / "Archive" / name);
        const uint64_t size =
            TotalBytes / FileCount + (uint64_t(i) < TotalBytes % FileCount ? 1 : 0);
        WriteRandomFile(sources.back(), size, seed);
    }
    {
        HANDLE stub = CreateFileW((scratch / "stub.exe").wstring().c_str(), GENERIC_WRITE, 0,
                                  nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        // The smallest image the packer takes: "MZ", and at 0x3C the offset of "PE\0\0".
        std::vector<char> image(100000, 0);
        std::memcpy(image.data(), "MZ", 2);
        image[0x3C] = 0x40;
        std::memcpy(&image[0x40], "PE\0\0", 4);
        DWORD written = 0;
        if (stub == INVALID_HANDLE_VALUE ||
            !WriteFile(stub, image.data(), static_cast<DWORD>(image.size()), &written, nullptr))
            Fail("writing the stub");
        CloseHandle(stub);
    }

    const fs::path program = scratch / "update.exe";
    BuildRequest request;
    request.stub = (scratch / "stub.exe").u8string();
    request.title = "Install benchmark";
    request.output = program.u8string();
    request.source = (scratch / "source").u8string();
    request.hashList = HashListVersion::V2;
    request.quiet = true;
    std::string error;
    Clock::time_point start = Clock::now();
    if (BuildPackage(request, error) != BuildResult::Ok) Fail("building: " + error);
    std::printf("built the package in %.0f ms (once, cache warm)\n", MillisecondsSince(start));
    FlushToDisk(program);
    for (const fs::path& source : sources) ReadThrough(source);
    ReadThrough(program);

    const fs::path game = scratch / "game";
    const fs::path copy = scratch / "copy";
    const fs::path loop = scratch / "loop";
    // The loop with writes of other sizes, timed beside the install's own with "variants".
    const bool variants = argc > 3 && std::string(argv[3]) == "variants";
    struct Variant {
        const char* name;
        uint32_t piece, step;
        std::vector<PhaseTimes> runs;
    };
    std::vector<Variant> shapes = {{"as the install does", 0, 0, {}}};
    if (variants) {
        shapes.push_back({"writing 256 KiB at a time", 0x40000, 0, {}});
        shapes.push_back({"writing each 1 MiB chunk whole", 0x100000, 0, {}});
        shapes.push_back({"taking each chunk 64 KiB at a time", 0x10000, 0x10000, {}});
        shapes.push_back({"taking each chunk 256 KiB at a time", 0x10000, 0x40000, {}});
    }
    std::vector<InstallTimes> installs;
    std::vector<CopyTimes> copies;
    // Alternating which goes first spreads the disk's write-back over both alike; what a run
    // wrote is removed before the next, so no run pays for the one before.
    for (int round = 0; round <= repetitions; ++round) {
        InstallTimes install;
        CopyTimes copied;
        if (round % 2 == 0) {
            install = TimeInstall(program, game, sources);
            fs::remove_all(game, ec);
            copied = TimeCopy(sources, copy);
            fs::remove_all(copy, ec);
        } else {
            copied = TimeCopy(sources, copy);
            fs::remove_all(copy, ec);
            install = TimeInstall(program, game, sources);
            fs::remove_all(game, ec);
        }
        std::vector<PhaseTimes> looped;
        for (const Variant& variant : shapes)
            looped.push_back(TimePhases(program, loop, variant.piece, variant.step));
        // Round 0 is not counted: the first writes into fresh memory are slow.
        std::printf("%s: install %.0f ms, copy %.0f ms + flush %.0f ms, loop %.0f ms\n",
                    round == 0 ? "warm-up" : ("run " + std::to_string(round)).c_str(),
                    install.total, copied.copy, copied.flush, Sum(looped[0]));
        std::fflush(stdout);
        if (round == 0) continue;
        installs.push_back(install);
        copies.push_back(copied);
        for (size_t k = 0; k < shapes.size(); ++k) shapes[k].runs.push_back(looped[k]);
    }

    const auto column = [](const auto& runs, auto field) {
        std::vector<double> values;
        for (const auto& run : runs) values.push_back(field(run));
        return values;
    };
    const std::vector<double> installed =
        column(installs, [](const InstallTimes& t) { return t.total; });
    const std::vector<double> copiedAndFlushed =
        column(copies, [](const CopyTimes& t) { return t.copy + t.flush; });
    std::printf("\nmedians of %d runs, 1 GiB in %d files, ms\n", repetitions, FileCount);
    PrintRow("InstallUpdateFrom", installed);
    PrintRow("  before the first file (plan, journal)",
             column(installs, [](const InstallTimes& t) { return t.prepare; }));
    PrintRow("  copy loops (create, read, fold, write)",
             column(installs, [](const InstallTimes& t) { return t.loops; }));
    PrintRow("  flushes of the files",
             column(installs, [](const InstallTimes& t) { return t.flushes; }));
    PrintRow("  commit (moves, lists, journal)",
             column(installs, [](const InstallTimes& t) { return t.commit; }));
    PrintRow("CopyFileW + flush, 20 files", copiedAndFlushed);
    PrintRow("  CopyFileW", column(copies, [](const CopyTimes& t) { return t.copy; }));
    PrintRow("  flushes of the copies", column(copies, [](const CopyTimes& t) { return t.flush; }));
    std::printf("install / (copy + flush): %.2f (goal <= 1.2)\n",
                Median(installed) / Median(copiedAndFlushed));

    for (const Variant& variant : shapes) {
        std::printf("\nthe copy loop %s, by phase, ms per GiB\n", variant.name);
        for (int p = 0; p < PhaseCount; ++p)
            PrintRow(PhaseNames[p],
                     column(variant.runs, [p](const PhaseTimes& t) { return t[p]; }));
        PrintRow("the loop in all", column(variant.runs, Sum));
    }
    fs::remove_all(scratch, ec);
    return 0;
}
