// The commit protocol. F is an entry's final file, T its temporary file "<F>.tmp", A the
// name F's old file is set aside under, C a list's copy, J the journal "update.journal".
// Every move below is made with MoveToNewName, which never replaces what it finds.
//
//   State 0  No J. Nothing to recover; a J.tmp left by a crash while the first J was
//            written is removed.
//   State 1  J planned: written before the first T, after every folder on the way to each F
//            was held and found to be no link. The copy writes and flushes each T. Old files
//            and lists are untouched. Recovery removes each T; J goes last.
//   State 2  J moving: written once every T is verified and flushed, before the first change
//            to anything but a T. Each list that can be read is copied to its C; then for each
//            move in order, F (if any) is set aside to A and T moved to F. Recovery takes back
//            in reverse: where A exists, F (if any) goes and A returns to F with its
//            attributes; where there was no old file and T is gone, F is the new file and
//            goes; T goes. Each list with a C gets it back. J goes last; if any step fails J
//            stays, and the next start takes back again.
//   State 3  Lists rewritten: each list that was copied is written to "<list>.tmp", flushed
//            and renamed over the list. Recovery: as in state 2.
//   State 4  J committed, and the folder flushed so that the mark is on the disk: the commit
//            point. Recovery deletes each A and C (scheduling at restart what cannot be deleted
//            now) and the lists' temporary files; J goes last.
//
// A journal that is damaged, names what no update could have written, or leads through a
// link is refused whole, before anything is touched.
#include "package/commit.h"

#include <algorithm>
#include <string>

#include "package/safe_write.h"

namespace package {

namespace {

bool Exists(const std::u16string& path) {
    return GetAttributesAt(path.c_str()) != NoFileAttributes;
}

// A move that fails when the target exists: nothing is ever replaced by one.
bool MoveNew(const std::u16string& from, const std::u16string& to) {
    FileStep();
    return MoveToNewName(from.c_str(), to.c_str());
}

// Removes a file or a link standing at `path` (states 1, 2 and 4).
bool Remove(const std::u16string& path) {
    if (!Exists(path)) return true;
    FileStep();
    return RemoveAt(path.c_str());
}

// After the commit point: what cannot be deleted now (a running program's image) is
// deleted when Windows next starts, so that no later update is held up by it.
bool Discard(const std::u16string& path) {
    if (Remove(path)) return true;
    FileStep();
    return DeleteAtRestart(path.c_str());
}

bool SetAttributes(const std::u16string& path, uint32_t attributes) {
    FileStep();
    return SetAttributesAt(path.c_str(), attributes);
}

// Gives the file at `path` the attributes an old file had, as far as they are kept.
bool RestoreAttributes(const std::u16string& path, uint32_t recorded) {
    const uint32_t wanted = recorded & KeptAttributes;
    const uint32_t found = GetAttributesAt(path.c_str());
    if (found != NoFileAttributes && !(found & (AttributeDirectory | AttributeReparsePoint)) &&
        (found & KeptAttributes) == wanted)
        return true;
    return SetAttributes(path, wanted == 0 ? AttributeNormal : wanted);
}

std::u16string Folded(std::u16string name) {
    for (char16_t& c : name) {
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
        if (c == u'/') c = u'\\';
    }
    return name;
}

// Claims `name` among the names the update uses, as Windows compares them.
bool Claim(std::vector<std::u16string>& taken, const std::u16string& name) {
    if (std::find(taken.begin(), taken.end(), Folded(name)) != taken.end()) return false;
    taken.push_back(Folded(name));
    return true;
}

// A name beside `name` that no file has and no other file of the update will have, for it and
// for its temporary file.
std::u16string FreeAsideName(const char16_t* folder, const std::u16string& name,
                             std::vector<std::u16string>& taken) {
    for (uint32_t attempt = 0; attempt < 100; ++attempt) {
        const std::u16string candidate = AsideName(name, CurrentProcessId(), attempt);
        if (!Exists(InFolder(folder, candidate)) &&
            !Exists(InFolder(folder, candidate + u".tmp")) && Claim(taken, candidate) &&
            Claim(taken, candidate + u".tmp"))
            return candidate;
    }
    return u"";
}

enum class ListCopy { Copied, Unreadable, Failed };

// Copies a list durably under `to`, through a fresh temporary file. Unreadable, with nothing
// written, when the list cannot be read (another program holds it).
ListCopy CopyList(const std::u16string& from, const std::u16string& to) {
    FileStep();
    std::string bytes;
    if (!ReadWholeFile(from.c_str(), bytes, 0xFFFFFFFF)) return ListCopy::Unreadable;
    // The copy never replaces: its name was free when the journal was written.
    return WriteFileSafely(to.c_str(), bytes.data(), bytes.size(), {false, FileStep})
               ? ListCopy::Copied
               : ListCopy::Failed;
}

// Takes one move back (state 2). After a crash a final name that was free is removed only
// once its temporary file has been moved there; a set-aside file tells that the final file
// is the new one.
bool UndoMove(const char16_t* folder, const JournalMove& move) {
    const std::u16string final = InFolder(folder, move.destination);
    const std::u16string temporary = final + u".tmp";
    const std::u16string aside = InFolder(folder, move.aside);
    bool ok = true;
    if (move.aside.empty()) {
        if (!Exists(temporary)) ok = Remove(final);
    } else if (Exists(aside)) {
        ok = Remove(final) && MoveNew(aside, final);
    }
    if (ok && !move.aside.empty() && Exists(final)) ok = RestoreAttributes(final, move.attributes);
    return Remove(temporary) && ok;
}

// Puts the lists back from their copies and removes what their rewrites may have left.
bool RestoreLists(const char16_t* folder, const Journal& journal) {
    bool ok = true;
    for (int i = 0; i < 2; ++i) {
        const std::u16string list = InFolder(folder, ListNames[i]);
        if (!journal.listCopies[i].empty()) {
            const std::u16string copy = InFolder(folder, journal.listCopies[i]);
            if (Exists(copy)) {
                FileStep();
                ok = MoveFileOver(copy.c_str(), list.c_str()) && ok;
            }
            ok = Remove(copy + u".tmp") && ok;
        }
        ok = Remove(list + u".tmp") && ok;
    }
    return ok;
}

bool RemoveJournal(const char16_t* folder) {
    const std::u16string path = JournalPath(folder);
    // The journal goes last: until then a crash finds it and recovers again.
    return Remove(path + u".tmp") && Remove(path);
}

// Takes the update back in reverse order, the first `moved` moves in full and of the others
// only their temporary files; every step can run again after a crash. The journal stays
// when any step failed.
bool TakeBack(const char16_t* folder, const Journal& journal, size_t moved) {
    bool ok = true;
    for (size_t i = journal.moves.size(); i-- > 0;) {
        const JournalMove& move = journal.moves[i];
        ok = (i < moved ? UndoMove(folder, move)
                        : Remove(InFolder(folder, move.destination) + u".tmp")) &&
             ok;
    }
    return RestoreLists(folder, journal) && ok && RemoveJournal(folder);
}

// After the commit point (state 4): the set-aside files and list copies go, then the journal.
bool CleanUp(const char16_t* folder, const Journal& journal) {
    bool ok = true;
    for (const JournalMove& move : journal.moves)
        if (!move.aside.empty()) ok = Discard(InFolder(folder, move.aside)) && ok;
    for (int i = 0; i < 2; ++i) {
        if (!journal.listCopies[i].empty()) {
            const std::u16string copy = InFolder(folder, journal.listCopies[i]);
            ok = Discard(copy) && Remove(copy + u".tmp") && ok;
        }
        ok = Remove(InFolder(folder, ListNames[i]) + u".tmp") && ok;
    }
    return ok && RemoveJournal(folder);
}

enum class MoveOutcome { Moved, Untouched, Partial };

// Sets one final file aside and moves its temporary file in (state 2). Untouched when it
// failed with both files as they were; Partial when the old file could not be moved back,
// which UndoMove then finishes.
MoveOutcome MoveOne(const char16_t* folder, const JournalMove& move) {
    const std::u16string final = InFolder(folder, move.destination);
    const std::u16string aside = InFolder(folder, move.aside);
    const uint32_t attributes = GetAttributesAt(final.c_str());
    // The folder must be as the journal found it: what was there is set aside, and a name
    // that was free is still free.
    if (move.aside.empty() != (attributes == NoFileAttributes)) return MoveOutcome::Untouched;
    if (!move.aside.empty()) {
        if (attributes & (AttributeDirectory | AttributeReparsePoint))
            return MoveOutcome::Untouched;
        // A read-only file is replaced all the same.
        if (!SetAttributes(final, AttributeNormal)) return MoveOutcome::Untouched;
        // Whatever appeared at the set-aside name stays, and is never taken for the old file.
        if (!MoveNew(final, aside)) {
            RestoreAttributes(final, move.attributes);
            return MoveOutcome::Untouched;
        }
    }
    if (MoveNew(final + u".tmp", final)) return MoveOutcome::Moved;
    if (move.aside.empty()) return MoveOutcome::Untouched;
    if (!MoveNew(aside, final)) return MoveOutcome::Partial;
    RestoreAttributes(final, move.attributes);
    return MoveOutcome::Untouched;
}

// The size of the list at `path` when it can be copied and rewritten: a plain file, not
// read-only, that can be read now.
bool CopyableListSize(const std::u16string& path, uint64_t& size) {
    const uint32_t attributes = GetAttributesAt(path.c_str());
    if (attributes == NoFileAttributes ||
        (attributes & (AttributeReadOnly | AttributeDirectory | AttributeReparsePoint)))
        return false;
    CFileDX list;
    return list.OpenForRead(path.c_str()) && list.GetFullSize(&size);
}

}  // namespace

FoldersOfPath HoldFoldersOf(const char16_t* folder, const std::u16string& relative,
                            HeldFolders& held) {
    for (size_t at = relative.find_first_of(u"\\/"); at != std::u16string::npos;
         at = relative.find_first_of(u"\\/", at + 1)) {
        const std::u16string name = Folded(relative.substr(0, at));
        if (std::find(held.names.begin(), held.names.end(), name) != held.names.end()) continue;
        const std::u16string path = InFolder(folder, relative.substr(0, at));
        const uint32_t attributes = GetAttributesAt(path.c_str());
        if (attributes == NoFileAttributes || !(attributes & AttributeDirectory))
            return FoldersOfPath::Missing;
        HeldFolder hold;
        if (!hold.Open(path.c_str(), HeldFolder::Links::Refuse)) return FoldersOfPath::Link;
        held.names.push_back(name);
        held.below.push_back(std::move(hold));
    }
    return FoldersOfPath::Held;
}

bool BeginUpdate(const char16_t* folder, const std::vector<std::u16string>& destinations,
                 uint64_t entryBytes, Update& update) {
    if (!update.folders.root.Open(folder, HeldFolder::Links::Follow)) return false;
    std::vector<std::u16string> taken;
    for (const std::u16string& destination : destinations) {
        Claim(taken, destination);
        Claim(taken, destination + u".tmp");
    }
    Journal planned;
    uint64_t bytes = entryBytes;
    for (const std::u16string& destination : destinations) {
        // Nothing is written through a link, nor into a folder that is not there.
        if (HoldFoldersOf(folder, destination, update.folders) != FoldersOfPath::Held) return false;
        JournalMove move{destination, u"", 0};
        const uint32_t attributes = GetAttributesAt(InFolder(folder, destination).c_str());
        if (attributes != NoFileAttributes) {
            // Only a plain file is replaced: a folder or a link there stays as it is.
            if (attributes & (AttributeDirectory | AttributeReparsePoint)) return false;
            move.attributes = attributes & KeptAttributes;
            move.aside = FreeAsideName(folder, destination, taken);
            if (move.aside.empty()) return false;
        }
        planned.moves.push_back(std::move(move));
    }
    for (int i = 0; i < 2; ++i) {
        uint64_t size = 0;
        // A list that cannot be copied is never rewritten.
        if (!CopyableListSize(InFolder(folder, ListNames[i]), size)) continue;
        planned.listCopies[i] = FreeAsideName(folder, ListNames[i], taken);
        if (planned.listCopies[i].empty()) return false;
        bytes += size;
    }
    // A full disk is found before anything is written.
    uint64_t available = 0;
    if (GetAvailableBytes(folder, &available) && available < bytes + JournalSize(planned))
        return false;
    if (!WriteJournal(folder, planned)) return false;
    update.journal = std::move(planned);
    return true;
}

bool MoveFilesIn(const char16_t* folder, Update& update) {
    Journal& journal = update.journal;
    journal.stage = JournalStage::Moving;
    bool copied = WriteJournal(folder, journal);
    for (int i = 0; copied && i < 2; ++i) {
        if (journal.listCopies[i].empty()) continue;
        const ListCopy copy =
            CopyList(InFolder(folder, ListNames[i]), InFolder(folder, journal.listCopies[i]));
        update.listCopied[i] = copy == ListCopy::Copied;
        copied = copy != ListCopy::Failed;
    }
    size_t moved = 0;
    MoveOutcome outcome = MoveOutcome::Moved;
    while (copied && moved < journal.moves.size() &&
           (outcome = MoveOne(folder, journal.moves[moved])) == MoveOutcome::Moved)
        ++moved;
    if (copied && moved == journal.moves.size()) return true;
    // A move that half happened is taken back with the others.
    TakeBack(folder, journal, moved + (outcome == MoveOutcome::Partial ? 1 : 0));
    return false;
}

bool MarkCommitted(const char16_t* folder, Update& update) {
    update.journal.stage = JournalStage::Committed;
    if (!WriteJournal(folder, update.journal)) {
        update.journal.stage = JournalStage::Moving;
        TakeBack(folder, update.journal, update.journal.moves.size());
        return false;
    }
    // Nothing the mark makes unneeded is deleted before the mark is on the disk; when the
    // folder cannot be flushed, the next start cleans up.
    if (update.folders.root.Flush()) CleanUp(folder, update.journal);
    return true;
}

bool DropJournal(const char16_t* folder, const Journal& journal) {
    bool ok = true;
    for (const JournalMove& move : journal.moves)
        ok = Remove(InFolder(folder, move.destination) + u".tmp") && ok;
    return ok && RemoveJournal(folder);
}

bool RecoverUpdate(const char16_t* folder) {
    Journal journal;
    HeldFolders held;
    if (!held.root.Open(folder, HeldFolder::Links::Follow))
        return ReadJournal(folder, journal) == JournalState::Absent;
    switch (ReadJournal(folder, journal)) {
        case JournalState::Absent:
            // A crash while the first journal was written leaves only its temporary file.
            return Remove(JournalPath(folder) + u".tmp");
        case JournalState::Unreadable:
            return false;
        case JournalState::Read:
            break;
    }
    // A move whose folder is gone left nothing to act on; one that leads through a link
    // refuses the whole journal.
    Journal reachable = journal;
    reachable.moves.clear();
    for (const JournalMove& move : journal.moves) {
        const FoldersOfPath folders = HoldFoldersOf(folder, move.destination, held);
        if (folders == FoldersOfPath::Link) return false;
        if (folders == FoldersOfPath::Held) reachable.moves.push_back(move);
    }
    switch (reachable.stage) {
        case JournalStage::Planned:
            return DropJournal(folder, reachable);
        case JournalStage::Moving:
            return TakeBack(folder, reachable, reachable.moves.size());
        case JournalStage::Committed:
            break;
    }
    return CleanUp(folder, reachable);
}

}  // namespace package
