#include "tools/upkg/progress.h"

#include <unistd.h>

#include <cstdio>

namespace upkg {

namespace {

constexpr std::chrono::milliseconds RedrawInterval(200);

Progress* drawn = nullptr;  // the one whose line is on the terminal

}  // namespace

void ClearProgressLine() {
    if (drawn != nullptr) drawn->Clear();
}

Progress::Progress(uint64_t total, bool quiet)
    : shown_(!quiet && isatty(2)),
      sharesTerminal_(shown_ && isatty(1)),
      total_(total),
      start_(std::chrono::steady_clock::now()),
      lastDrawn_(start_ - RedrawInterval) {}

Progress::~Progress() {
    Clear();
}

void Progress::Add(uint64_t bytes) {
    done_ += bytes;
    if (!shown_) return;
    const auto now = std::chrono::steady_clock::now();
    if (width_ != 0 && now - lastDrawn_ < RedrawInterval) return;
    lastDrawn_ = now;
    Draw();
}

void Progress::Print(const std::string& line) {
    if (line.empty()) return;
    if (sharesTerminal_) Clear();
    std::fputs(line.c_str(), stdout);
}

void Progress::Clear() {
    if (width_ == 0) return;
    std::fprintf(stderr, "\r%s\r", std::string(static_cast<size_t>(width_), ' ').c_str());
    std::fflush(stderr);
    width_ = 0;
    drawn = nullptr;
}

void Progress::Draw() {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const double mib = 1024.0 * 1024.0;
    std::fputc('\r', stderr);
    const int width = std::fprintf(stderr, "%.1f of %.1f MiB (%.0f MiB/s)", done_ / mib,
                                   total_ / mib, seconds > 0 ? done_ / mib / seconds : 0.0);
    // A shorter line than the last leaves the end of the last one behind.
    if (width < width_) std::fprintf(stderr, "%*s", width_ - width, "");
    width_ = width > width_ ? width : width_;
    drawn = this;
    std::fflush(stderr);
}

}  // namespace upkg
