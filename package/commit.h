// Putting verified temporary files in place as one step that survives a crash: a journal
// written before the first temporary file names every move, and the journal marked
// committed is the one point after which the update counts as installed. Before it, a
// failure or a crash takes everything back; after it, only clean-up remains. The states and
// what recovery concludes from each are described at the top of commit.cpp.
#pragma once

#include <string>
#include <vector>

#include "package/file.h"
#include "package/journal.h"

namespace package {

// The installation folder and the folders below it that an update works in, each held from
// its check to the end of the run, so that none can be swapped for a link meanwhile.
struct HeldFolders {
    HeldFolder root;                    // the installation folder, which may itself be a link
    std::vector<std::u16string> names;  // held folders below it: relative, ASCII case folded
    std::vector<HeldFolder> below;
};

enum class FoldersOfPath { Held, Missing, Link };

// Holds every folder between `folder` and the file `relative`; Missing when one is not there
// (or is not a folder), Link when one is a link, which is never held or entered.
FoldersOfPath HoldFoldersOf(const char16_t* folder, const std::u16string& relative,
                            HeldFolders& held);

// One update's commit: its journal, the folders it holds, and which lists it copied.
struct Update {
    Journal journal;
    HeldFolders folders;
    bool listCopied[2] = {false, false};  // a list without a copy is not rewritten
};

// Plans the commit of files going to `destinations` (relative to `folder`): holds `folder`
// and every folder below it on the way, gives each existing final file (a plain file) a free
// set-aside name and each list that can be rewritten a copy, checks that the volume has room
// for `entryBytes` and the copies and journal, and writes the journal. False, with nothing
// written, when any of that fails.
bool BeginUpdate(const char16_t* folder, const std::vector<std::u16string>& destinations,
                 uint64_t entryBytes, Update& update);

// Marks the journal as moving, copies the lists that can be read, then sets each existing
// final file aside (never replacing anything) and moves its temporary file in. False, with
// the folder taken back to how it was, when any step fails; the journal stays when a step of
// the take-back failed too, for the next start to finish.
bool MoveFilesIn(const char16_t* folder, Update& update);

// The commit point, once the lists are updated: marks the journal committed and makes that
// durable, then deletes the set-aside files and the journal. False, with everything taken
// back, when the mark cannot be written.
bool MarkCommitted(const char16_t* folder, Update& update);

// Ends an update that never began to move files: its temporary files and the journal go.
bool DropJournal(const char16_t* folder, const Journal& journal);

// Run before anything else touches the folder: finishes an update that passed its commit
// point, or takes back one that did not, as a crash left it. True when the folder holds no
// journal afterwards; false when the journal cannot be read, names what no update could have
// written, leads through a link, or recovery failed (the journal then stays for the next try).
bool RecoverUpdate(const char16_t* folder);

}  // namespace package
