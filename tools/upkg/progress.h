// Progress of long work on stderr: bytes done of the total and the rate, redrawn in place
// on one line. Silent unless stderr is a terminal and the user did not ask for quiet; the
// line is cleared before anything else is printed and when the work ends, so it never
// stays among the output.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace upkg {

// Blanks the line of the Progress on the terminal now, if any: a message comes next.
void ClearProgressLine();

class Progress {
public:
    Progress(uint64_t total, bool quiet);
    ~Progress();  // clears the line
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void Add(uint64_t bytes);
    // Prints `line` (with its line break; nothing when empty) on stdout, clearing the line
    // first when stdout is the same terminal.
    void Print(const std::string& line);
    // Blanks the line, so that a line printed next starts on an empty one; the next Add
    // draws it again.
    void Clear();

private:
    void Draw();

    bool shown_;
    bool sharesTerminal_;  // stdout goes to the terminal the line is drawn on
    uint64_t total_;
    uint64_t done_ = 0;
    int width_ = 0;  // of the line on the terminal; 0 when it is blank
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDrawn_;
};

}  // namespace upkg
