// Putting verified temporary files in place as one step that survives a crash: a journal
// written before the first temporary file names every move, and the journal marked
// committed is the one point after which the update counts as installed. Before it, a
// failure or a crash takes everything back; after it, only clean-up remains.
#pragma once

#include <string>
#include <vector>

#include "app/journal.h"

// Plans the commit of files going to `destinations` (relative to `folder`) and writes the
// journal. Every existing final file must be a regular file; it gets a set-aside name that
// no file has yet. False, with nothing written, when that fails.
bool BeginUpdate(const wchar_t* folder, const std::vector<std::wstring>& destinations,
                 Journal& journal);

// Sets each existing final file aside (never replacing anything) and moves its temporary
// file in, after copying both lists aside. False, with the folder taken back to how it
// was and the journal gone, when any step fails.
bool MoveFilesIn(const wchar_t* folder, const Journal& journal);

// The commit point, once the lists are updated: marks the journal committed, then deletes
// the set-aside files and the journal. False, with everything taken back, when the mark
// cannot be written.
bool MarkCommitted(const wchar_t* folder, Journal& journal);

// Ends an update that never began to move files: deletes the journal. True when it is gone.
bool DropJournal(const wchar_t* folder);

// Run before anything else touches the folder: finishes an update that passed its commit
// point, or takes back one that did not, as a crash left it. True when the folder holds
// no journal afterwards; false when the journal cannot be read or recovery failed (the
// journal then stays for the next try).
bool RecoverUpdate(const wchar_t* folder);
