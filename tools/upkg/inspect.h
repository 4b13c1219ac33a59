// Reading an update program as the updater will: its title, its archive, and where each
// entry is installed with the checksum it must have.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "package/file.h"
#include "package/hash_list.h"

struct PackageEntry {
    std::string name;  // UTF-8
    uint64_t offset;   // from the first byte of the archive
    uint32_t size;
    std::string installPath;           // UTF-8, relative to the installation folder
    bool installed;                    // false for the hash list, which is read and never installed
    std::optional<uint64_t> checksum;  // what the copied bytes must fold to
};

struct Package {
    std::string title;   // UTF-8
    std::string format;  // "ARC20" or "PackFile"
    std::vector<PackageEntry> entries;
    bool hasHashList = false;      // an entry named zol.hvl in any case is there
    bool hashListDamaged = false;  // ... but cannot be read
};

// Opens the update program at `path` (UTF-8) and reads its package into `package`, keeping
// `file` open for reading the data. False with `error` set when the header or index is
// unreadable.
bool OpenPackage(const std::string& path, CFileDX& file, Package& package, std::string& error);

// The 8 checksum bytes in file order as 16 lowercase hex digits.
std::string ChecksumHex(uint64_t value);
