// What a package asks of an installation: every entry with the place it goes and the
// checksum its bytes must fold to. The updater installs by this plan and the packer lists,
// verifies and extracts by it, so the two cannot disagree about a package.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "package/archive_format.h"
#include "package/hash_list.h"

namespace package {

class CFileDX;

struct PlannedEntry {
    std::string name;  // UTF-8, as the index holds it
    uint64_t offset;   // from the first byte of the archive
    uint32_t size;
    std::string destination;  // UTF-8, relative to the installation folder
    bool installed;           // false for the update's hash list, which is read, never installed
    std::optional<uint64_t> expected;  // the checksum from the entry's record, if it has one
};

struct PackagePlan {
    ArchiveHeader header;
    std::vector<PlannedEntry> entries;
    std::vector<HashListEntry> records;  // the update's hash list; empty when it has none
    size_t hashListEntry = SIZE_MAX;     // the entry that carries it, SIZE_MAX for none
    bool hasHashList = false;            // an entry is named like the hash list, in any case
    bool hashListDamaged = false;        // ... but it cannot be read
};

enum class PlanProblem {
    None,
    TooManyEntries,  // more than MaximumEntries
    UnsafePath,      // an installed entry's destination would leave the installation folder
    ForbiddenName,   // ... or holds a character Windows does not allow in a name
    Collision,       // two entries would write one file, or an entry a file the updater keeps
};

// A path among `destinations` (relative paths of the installed files) that writes a file
// another one writes too, itself or as its temporary file "<path>.tmp", or one of the
// files the updater keeps or writes beside the installation's lists (installation_names.h); names
// compare as Windows compares them, apart from ASCII case and the kind of slash. nullopt when there
// is none.
std::optional<size_t> FindWriteCollision(const std::vector<std::string>& destinations);

// Reads the archive at ArchiveOffset of `file` and plans every entry: the first entry named
// like the hash list is the update's list, and an entry's record there (found by its last
// component) gives its destination and checksum; without one it goes under its own name,
// unverified. False, with `plan` untouched, when the index cannot be read.
bool ReadPackagePlan(CFileDX& file, PackagePlan& plan);

// Why the updater would refuse the plan before writing anything, unsafe paths and names found
// first; `entry` (when given) is set to the offending entry of any problem but TooManyEntries.
// Destinations are compared as Windows compares names: apart from ASCII case and the kind
// of slash. An entry's temporary file ("<destination>.tmp") counts as a file it writes.
PlanProblem CheckPackagePlan(const PackagePlan& plan, size_t* entry = nullptr);

}  // namespace package
