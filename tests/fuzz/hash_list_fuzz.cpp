#include <cstdlib>
#include <cstring>

#include "fuzz_file.h"
#include "package/hash_list.h"

using namespace package;

// Whatever reads must also write, and what was written must read back with the same
// header and no more records.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::u16string input = FuzzScratchPath("hash_list_fuzz-in");
    static const std::u16string output = FuzzScratchPath("hash_list_fuzz-out");
    HashListHeader header{};
    std::vector<HashListEntry> entries;
    {
        CFileDX file;
        if (!OpenFuzzInput(file, input, data, size)) abort();
        if (!ReadHashList(header, entries, file)) return 0;
    }
    if (entries.size() != header.count) abort();
    if (!WriteHashList(header, entries, output.c_str())) abort();
    HashListHeader again{};
    std::vector<HashListEntry> reread;
    if (!LoadHashList(again, reread, output.c_str())) abort();
    if (std::memcmp(again.magic, header.magic, 8) != 0 || again.reserved != header.reserved ||
        reread.size() > entries.size())
        abort();
    MergeHashLists(reread, entries);
    if (reread.size() < entries.size()) abort();
    return 0;
}
