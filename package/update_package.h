// Reading the update package: the title in its header and the archive's index.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "package/archive_format.h"

namespace package {

class CFileDX;

struct ArchiveEntry {
    std::string name;  // UTF-8
    uint64_t offset;   // from the first byte of the archive, header and index included
    uint32_t size;
};

// Reads the title of the running program's package into `title` (TitleCapacity units).
// False, with `title` untouched, when the file is too short or has no terminated title.
bool ReadPackageTitle(char16_t* title);

// The same for the program file at `programPath`.
bool ReadPackageTitle(const char16_t* programPath, char16_t* title);

// Reads an archive's header and index from the current position of `file`, leaving it at
// the data area. False, with both outputs untouched, on a short read, an unknown magic, a
// count whose index cannot fit in the rest of the file, or a name without its terminator.
bool ReadArchiveIndex(ArchiveHeader& header, std::vector<ArchiveEntry>& entries, CFileDX& file);

}  // namespace package
