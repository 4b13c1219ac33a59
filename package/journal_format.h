// The journal of an update as bytes, and the rules a journal must keep before recovery acts
// on it. The journal lies in a folder that others may write, so what is read back is checked
// to name only what this program could have written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "package/installation_names.h"

namespace package {

// How far the update had come when the journal was last written.
enum class JournalStage : uint32_t {
    Planned = 0,    // temporary files may exist; nothing else was touched
    Moving = 1,     // lists may be copied and files set aside or moved in
    Committed = 2,  // every move made and both lists updated: the update is installed
};

struct JournalMove {
    std::u16string destination;  // relative to the installation folder; its temporary file
                                 // is the same name with ".tmp"
    std::u16string aside;        // where the file found there is set aside; empty for none
    uint32_t attributes = 0;     // of the file found there (KeptAttributes), restored with it
};

struct Journal {
    JournalStage stage = JournalStage::Planned;
    std::vector<JournalMove> moves;
    std::u16string listCopies[2];  // copies of zol.hvl and uninst.lst as they were; empty for none
};

// The installation's two lists, in the order of Journal::listCopies.
extern const std::u16string ListNames[2];

// The attributes a set-aside file keeps: read-only, hidden, system, archive and not indexed.
constexpr uint32_t KeptAttributes = 0x1 | 0x2 | 0x4 | 0x20 | 0x2000;

// The largest journal read: far above what 256 moves with the longest names take.
constexpr uint32_t MaximumJournalBytes = 1 << 22;

// The name a file `name` is set aside under by process `process`, the `attempt`-th tried:
// "<name>.<process>.old", then "<name>.<process>.<attempt>.old".
std::u16string AsideName(const std::u16string& name, uint32_t process, uint32_t attempt);

// The journal's bytes, checksum included.
std::string EncodeJournal(const Journal& journal);

// Reads bytes written by EncodeJournal, or by the earlier format that knew no Planned stage
// (read as Moving or Committed). False, with `journal` untouched, when they are damaged.
bool DecodeJournal(const std::string& bytes, Journal& journal);

// True when the journal names only what an update could have written: every destination an
// installable path, no file named twice or reserved, each set-aside name and list copy its
// own file's AsideName, and attributes within KeptAttributes (or FILE_ATTRIBUTE_NORMAL).
bool IsJournalSound(const Journal& journal);

}  // namespace package
