#include <cstdlib>

#include "package/checksum.h"
#include "package/journal_format.h"

using namespace package;

// A journal without its checksum, added here so that the fuzzer reaches the fields: what
// decodes is judged, and encodes to bytes that decode to the same journal.
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
