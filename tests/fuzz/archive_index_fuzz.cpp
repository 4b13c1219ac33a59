#include <cstdlib>

#include "fuzz_file.h"
#include "package/update_package.h"

using namespace package;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::u16string path = FuzzScratchPath("archive_index_fuzz");
    CFileDX file;
    if (!OpenFuzzInput(file, path, data, size)) abort();
    ArchiveHeader header{};
    std::vector<ArchiveEntry> entries;
    if (!ReadArchiveIndex(header, entries, file)) return 0;
    if (entries.size() != header.count) abort();
    const uint64_t entrySize = header.magic[0] == 'P' && header.magic[1] == 'A' ? 128 : 32;
    const uint64_t dataArea = 16 + entrySize * header.count;
    uint64_t position = 0;
    if (!file.GetPosition(&position) || position != dataArea || dataArea > size) abort();
    for (const ArchiveEntry& entry : entries)
        if (entry.offset < dataArea || entry.offset - dataArea > 0xFFFFFFFF) abort();
    return 0;
}
