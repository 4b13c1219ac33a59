// Times installing a 1 GiB update of 20 files against copying the same 20 files with
// CopyFileW, alternately in one run, and prints every run, the medians and their ratio.
// Not a test: it asserts nothing about time.
//
// usage: install_bench [SCRATCH_PARENT] [REPETITIONS]
//   SCRATCH_PARENT  where a folder for the 3 GiB of scratch data is made (empty or left out:
//                   the temporary folder); it is removed at the end, also after a failure
//   REPETITIONS     timed runs of each (default: 5), after one that is not counted

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
#include "app/updater_state.h"
#include "package/hash_list.h"
#include "tools/upkg/build.h"

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

double TimeInstall(const fs::path& program, const fs::path& game,
                   const std::vector<fs::path>& sources) {
    PrepareGame(game);
    CancelRequested = 0;
    InstallAborted = 0;
    const Clock::time_point start = Clock::now();
    const ResultCode result = InstallUpdateFrom(program.wstring().c_str(), game.wstring().c_str());
    const double elapsed = MillisecondsSince(start);
    if (result != Ok) Fail("the install returned " + std::to_string(result));
    for (const fs::path& source : sources)
        if (fs::file_size(game / "Archive" / source.filename()) != fs::file_size(source))
            Fail("the install left " + source.filename().u8string() + " at another size");
    return elapsed;
}

double TimeCopy(const std::vector<fs::path>& sources, const fs::path& target) {
    std::error_code ec;
    fs::remove_all(target, ec);
    fs::create_directories(target / "Archive");
    const Clock::time_point start = Clock::now();
    for (const fs::path& source : sources)
        if (!CopyFileW(source.wstring().c_str(),
                       (target / "Archive" / source.filename()).wstring().c_str(), FALSE))
            Fail("copying " + source.u8string());
    return MillisecondsSince(start);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void PrintRow(const char* name, const std::vector<double>& times) {
    std::printf("%-28s %8.0f ms  (", name, Median(times));
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
    if (BuildPackage(request, error) != BuildResult::Built) Fail("building: " + error);
    std::printf("built the package in %.0f ms (once, cache warm)\n", MillisecondsSince(start));
    FlushToDisk(program);
    for (const fs::path& source : sources) ReadThrough(source);
    ReadThrough(program);

    const fs::path game = scratch / "game";
    const fs::path copy = scratch / "copy";
    std::vector<double> installs, copies;
    // Alternating which goes first spreads the disk's write-back over both alike; what a run
    // wrote is removed before the next, so no run pays for the one before.
    for (int round = 0; round <= repetitions; ++round) {
        double install, copied;
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
        // Round 0 is not counted: the first writes into fresh memory are slow.
        if (round == 0) {
            std::printf("warm-up: install %.0f ms, copy %.0f ms\n", install, copied);
            continue;
        }
        std::printf("run %d: install %.0f ms, copy %.0f ms\n", round, install, copied);
        std::fflush(stdout);
        installs.push_back(install);
        copies.push_back(copied);
    }

    std::printf("\nmedians of %d runs, 1 GiB in %d files\n", repetitions, FileCount);
    PrintRow("InstallUpdateFrom", installs);
    PrintRow("CopyFileW of the 20 files", copies);
    std::printf("install / copy: %.2f (goal <= 1.25)\n", Median(installs) / Median(copies));
    fs::remove_all(scratch, ec);
    return 0;
}
