// Progress of long work on stderr: bytes done of the total and the rate, redrawn in place.
// Silent unless stderr is a terminal and the user did not ask for quiet.
#pragma once

#include <chrono>
#include <cstdint>

class Progress {
public:
    Progress(uint64_t total, bool quiet);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void Add(uint64_t bytes);

private:
    void Draw();

    bool shown_;
    uint64_t total_;
    uint64_t done_ = 0;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDrawn_;
};
