// The journal of an update on disk: every file the commit will move or set aside, kept
// beside the installation's lists from before the first temporary file is written until the
// commit is finished, so that whoever opens the folder after a crash can take the update
// back, or finish it once it passed its commit point.
#pragma once

#include <string>

#include "package/journal_format.h"

namespace package {

// `name` (relative, `\` between folders) in `folder`, in the system's form.
std::u16string InFolder(const char16_t* folder, const std::u16string& name);

// The journal's path in `folder`.
std::u16string JournalPath(const char16_t* folder);

// Writes the journal durably: to a fresh temporary file, flushed, then renamed over the
// journal.
bool WriteJournal(const char16_t* folder, const Journal& journal);

// The size of the journal's bytes as WriteJournal writes them.
uint64_t JournalSize(const Journal& journal);

enum class JournalState { Absent, Read, Unreadable };

// Reads the folder's journal; Unreadable when it is there but damaged, not a file, or names
// what no update could have written (IsJournalSound).
JournalState ReadJournal(const char16_t* folder, Journal& journal);

// Called before every file operation that changes the folder during an update, its commit
// and its recovery; null in the program. A test stops the process in it to play a crash.
extern void (*FileStepHook)();
void FileStep();

}  // namespace package
