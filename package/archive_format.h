// On-disk layout of the update package appended to the program file, and of its archive.
// All integers are little-endian, as on every machine the program runs on.
#pragma once

#include <cstddef>
#include <cstdint>

namespace package {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "file layouts are read in place");

// The program image is padded up to PackageOffset; the archive follows the header.
constexpr uint64_t PackageOffset = 0x50000;
constexpr uint32_t PackageHeaderSize = 1024;
constexpr uint64_t ArchiveOffset = PackageOffset + PackageHeaderSize;

// Capacity of the title buffer in UTF-16 units, terminator included.
constexpr size_t TitleCapacity = 1024;

constexpr size_t ArchiveMagicSize = 12;
constexpr char Arc20Magic[ArchiveMagicSize + 1] = "PALVEN ARC20";
constexpr char PackFileMagic[ArchiveMagicSize + 1] = "PackFile    ";

struct ArchiveHeader {
    char magic[ArchiveMagicSize];  // no terminator
    uint32_t count;                // number of index entries
};
static_assert(sizeof(ArchiveHeader) == 16);

struct Arc20IndexEntry {
    char name[96];    // zero-terminated, zero-padded
    uint32_t offset;  // from the start of the data area
    uint32_t size;
    uint8_t unused[24];
};
static_assert(sizeof(Arc20IndexEntry) == 128);
static_assert(offsetof(Arc20IndexEntry, offset) == 96);

struct PackFileIndexEntry {
    char name[16];
    uint32_t offset;
    uint32_t size;
    uint8_t unused[8];
};
static_assert(sizeof(PackFileIndexEntry) == 32);
static_assert(offsetof(PackFileIndexEntry, offset) == 16);

// The updater refuses a package with more entries.
constexpr size_t MaximumEntries = 256;

// The shape of one index entry, shared by the reader and the packer: the name field comes
// first, then the offset and size as two 32-bit values.
struct IndexLayout {
    const char* magic;
    uint32_t entrySize;
    uint32_t nameSize;
    uint32_t offsetField;
};
constexpr IndexLayout Arc20Layout{Arc20Magic, sizeof(Arc20IndexEntry),
                                  sizeof(Arc20IndexEntry::name), offsetof(Arc20IndexEntry, offset)};
constexpr IndexLayout PackFileLayout{PackFileMagic, sizeof(PackFileIndexEntry),
                                     sizeof(PackFileIndexEntry::name),
                                     offsetof(PackFileIndexEntry, offset)};

}  // namespace package
