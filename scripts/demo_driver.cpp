// Answers the update program of the demo as a person would, pausing at the question, during
// the copy and at the outcome so that the demo script can take a screenshot of each.
//   demo_driver.exe UPDATE.exe SIGNAL_FOLDER GAME_FOLDER
// At each stop it creates SIGNAL_FOLDER\<stop>.ready and waits for <stop>.done.
#include <cstdio>
#include <filesystem>

#include "tests/e2e/driver.h"

namespace fs = std::filesystem;

namespace {

constexpr uintmax_t WellUnderWay = 40u << 20;

// True when some temporary file of the install holds a good part of a large entry.
bool CopyUnderWay(const fs::path& game) {
    std::error_code ec;
    for (fs::recursive_directory_iterator it(game, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().extension() == ".tmp" && it->file_size(ec) >= WellUnderWay) return true;
    return false;
}

void Pause(const fs::path& signals, const char* stop) {
    const fs::path ready = signals / (std::string(stop) + ".ready");
    const fs::path done = signals / (std::string(stop) + ".done");
    std::FILE* file = _wfopen(ready.wstring().c_str(), L"w");
    if (file) std::fclose(file);
    for (int i = 0; i < 6000 && !fs::exists(done); ++i) Sleep(10);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: demo_driver UPDATE.exe SIGNAL_FOLDER GAME_FOLDER\n");
        return 2;
    }
    const fs::path program = argv[1], signals = argv[2];
    UpdaterRun run;
    if (!run.Start(program)) return 3;

    std::optional<Box> question = run.WaitForBox();
    if (!question) return run.WaitForExit();
    Pause(signals, "question");
    UpdaterRun::Answer(*question, IDYES);

    // Stop the copy once a large entry is well under way, so the bars show where it stands.
    if (run.WaitForDialog()) {
        const fs::path game = argv[3];
        for (int i = 0; i < 20000 && !CopyUnderWay(game); ++i) Sleep(1);
        run.Suspend();
        Pause(signals, "progress");
        run.Resume();
    }

    if (std::optional<Box> outcome = run.WaitForBox(120000)) {
        Pause(signals, "outcome");
        UpdaterRun::Answer(*outcome, IDOK);
    }
    return run.WaitForExit();
}
