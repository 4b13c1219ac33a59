// The journal of an update: every file the commit will move or set aside, kept beside the
// installation's lists from before the first temporary file is written until the commit is
// finished, so that whoever opens the folder after a crash can take the update back, or
// finish it once it passed its commit point.
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"

struct JournalMove {
    std::wstring destination;  // relative to the installation folder; its temporary file
                               // is the same name with ".tmp"
    std::wstring aside;        // where the file found there is set aside; empty for none
    DWORD attributes = 0;      // of the file found there, restored when it is put back
};

struct Journal {
    bool committed = false;  // every move made and both lists updated
    std::vector<JournalMove> moves;
    std::wstring listCopies[2];  // copies of zol.hvl and uninst.lst as they were; empty for none
};

// The installation's two lists, in the order of Journal::listCopies.
extern const wchar_t* const ListNames[2];

// `name` (relative) in `folder`.
std::wstring InFolder(const wchar_t* folder, const std::wstring& name);

// Writes the journal durably: to a temporary file, flushed, then renamed over the journal.
bool WriteJournal(const wchar_t* folder, const Journal& journal);

enum class JournalState { Absent, Read, Unreadable };

// Reads the folder's journal; Unreadable when it is there but damaged.
JournalState ReadJournal(const wchar_t* folder, Journal& journal);

// Called before every file operation that changes the folder during an update, its commit
// and its recovery; null in the program. A test stops the process in it to play a crash.
extern void (*FileStepHook)();
void FileStep();
