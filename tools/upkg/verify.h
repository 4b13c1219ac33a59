// Judging a whole package as the updater would, before anything is installed: verify
// reports it, extract refuses a damaged package with it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/upkg/inspect.h"

namespace upkg {

class Progress;

enum class EntryStatus { Ok, Damaged, Unrecorded };

struct EntryCheck {
    EntryStatus status = EntryStatus::Ok;
    std::string problem;    // why it is damaged
    uint64_t checksum = 0;  // of its data as read
};

struct PackageCheck {
    std::vector<EntryCheck> entries;    // one per entry of the plan
    std::vector<std::string> problems;  // damage that belongs to no entry
    bool damaged = false;               // any entry damaged, or any problem
};

// Reads every entry's data and judges it: damaged when cut short, when its checksum
// differs from its record, when the updater would refuse its path or the hash list cannot
// be read; unrecorded when it has no record and goes under its own name. A record that
// matches no entry, or a plan the updater refuses, is a problem of the whole package.
// `checked` (when given) is called after each entry.
PackageCheck CheckPackage(package::CFileDX& file, const Package& package, Progress& progress,
                          const std::function<void(size_t, const EntryCheck&)>& checked = {});

}  // namespace upkg
