#include <cstdlib>
#include <cstring>

#include "package/checksum.h"
#include "package/journal_format.h"

// The input is a journal without its checksum, which is added here so that the fuzzer
// reaches the fields. What decodes must encode to bytes that decode to the same journal, and
// the soundness check must take whatever decodes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    uint8_t state[8] = {};
    AddToChecksum(state, data, size);
    bytes.append(reinterpret_cast<const char*>(state), sizeof state);
    Journal journal;
    if (!DecodeJournal(bytes, journal)) return 0;
    IsJournalSound(journal);
    const std::string encoded = EncodeJournal(journal);
    Journal again;
    if (!DecodeJournal(encoded, again) || EncodeJournal(again) != encoded) abort();
    return 0;
}
