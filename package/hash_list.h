// The hash list: paths relative to the installation folder with the content checksum of
// each file. The update carries one ("ZOL.hvl"); the installation keeps one ("zol.hvl").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "package/installation_names.h"

namespace package {

class CFileDX;

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "file layouts are read in place");

// The list's file name in a package; the installation keeps it as HashListName, and the
// updater knows it in any ASCII case.
constexpr char PackagedHashListName[] = "ZOL.hvl";

constexpr size_t HashListMagicSize = 8;
constexpr char HashListMagicV2[HashListMagicSize + 1] = "ZHV_V2__";
constexpr char HashListMagicV1[HashListMagicSize + 1] = "ZHV_____";

struct HashListHeader {
    char magic[HashListMagicSize];  // no terminator
    uint32_t reserved;              // kept as read
    uint32_t count;                 // number of records
};
static_assert(sizeof(HashListHeader) == 16);

// Records: a zero-terminated path (code page 932 when written) then the 8-byte checksum.
constexpr uint32_t HashRecordSizeV2 = 256;
constexpr uint32_t HashRecordSizeV1 = 64;

struct HashListEntry {
    std::string path;  // UTF-8, backslashes between components
    uint64_t value;    // the checksum's 8 bytes, little-endian
};

// Reads a list from the current position of `file`. False, with both outputs untouched,
// on a short read, an unknown magic, a count whose records cannot fit in the rest of the
// file, or a path without its terminator.
bool ReadHashList(HashListHeader& header, std::vector<HashListEntry>& entries, CFileDX& file);

// ReadHashList on the file at `path`; false also when it cannot be opened.
bool LoadHashList(HashListHeader& header, std::vector<HashListEntry>& entries,
                  const char16_t* path);

// The bytes of a list: `header` and the first header.count entries in the header's
// version. A record whose path does not fit its field is left out, and the count written
// says so. False for an unknown magic or a count beyond the entries.
bool EncodeHashList(const HashListHeader& header, const std::vector<HashListEntry>& entries,
                    std::vector<char>& bytes);

// Writes `header` and the first header.count entries in the header's version, through a
// temporary file renamed over `path`, so that a failure leaves the old list as it was. A
// record whose path does not fit its field is left out, and the count written says so.
// False for an unknown magic, a count beyond the entries, or a failed write or rename.
bool WriteHashList(const HashListHeader& header, const std::vector<HashListEntry>& entries,
                   const char16_t* path);

// Path equality as the installer sees it: ASCII letters folded, nothing else normalised.
bool HashPathsEqual(const std::string& a, const std::string& b);

// The first record whose path's last component equals `entryName` (ASCII letters folded);
// nullptr when none does.
const HashListEntry* FindRecordForEntry(const std::vector<HashListEntry>& list,
                                        const std::string& entryName);

// Gives each record of `update` to the first record of `installed` (as it stood before the
// merge) with an equal path, or appends a copy of it.
void MergeHashLists(std::vector<HashListEntry>& installed,
                    const std::vector<HashListEntry>& update);

// Drops the records whose file is missing below `folder`. A record whose full path cannot
// be formed is kept: it cannot be shown to be gone.
void PruneHashList(std::vector<HashListEntry>& installed, const char16_t* folder);

// Merges `update` into the list "zol.hvl" in `folder` and prunes it, writing the file
// after each step. Nothing is written when the installed list cannot be loaded.
void UpdateInstalledHashList(const char16_t* folder, const std::vector<HashListEntry>& update);

}  // namespace package
