#include "tools/upkg/progress.h"

#include <unistd.h>

#include <cstdio>

Progress::Progress(uint64_t total, bool quiet)
    : shown_(!quiet && isatty(2)),
      total_(total),
      start_(std::chrono::steady_clock::now()),
      lastDrawn_(start_) {}

Progress::~Progress() {
    if (!shown_) return;
    Draw();
    std::fputc('\n', stderr);
}

void Progress::Add(uint64_t bytes) {
    done_ += bytes;
    if (!shown_) return;
    auto now = std::chrono::steady_clock::now();
    if (now - lastDrawn_ < std::chrono::milliseconds(200)) return;
    lastDrawn_ = now;
    Draw();
}

void Progress::Draw() {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const double mib = 1024.0 * 1024.0;
    std::fprintf(stderr, "\r%.1f of %.1f MiB (%.0f MiB/s)   ", done_ / mib, total_ / mib,
                 seconds > 0 ? done_ / mib / seconds : 0.0);
    std::fflush(stderr);
}
