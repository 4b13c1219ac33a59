// Reading an update program as the updater will: its title and its package's plan.
#pragma once

#include <cstdint>
#include <string>

#include "package/file.h"
#include "package/package_plan.h"
#include "tools/upkg/arguments.h"

namespace upkg {

struct Package {
    std::string title;   // UTF-8
    std::string format;  // "ARC20" or "PackFile"
    package::PackagePlan plan;
};

// Opens the update program at `path` (UTF-8) and reads its package into `package`, keeping
// `file` open for reading the data. False with `error` set when the header or index is
// unreadable.
bool OpenPackage(const std::string& path, package::CFileDX& file, Package& package,
                 std::string& error);

// OpenPackage on the first of the command's words; false, once stderr says why, when it fails.
bool OpenNamedPackage(const Arguments& args, package::CFileDX& file, Package& package);

// The bytes of every entry's data together, for the progress of a pass over them.
uint64_t DataSize(const Package& package);

// Where the archive ends in the program file: past its index and every entry's data. What
// stands behind it (a signature, say) the updater never reads.
uint64_t ArchiveEnd(const Package& package);

// The 8 checksum bytes in file order as 16 lowercase hex digits.
std::string ChecksumHex(uint64_t value);

}  // namespace upkg
