#include "app/commit.h"

#include <algorithm>
#include <string>

#include "package/file.h"
#include "package/package_plan.h"

namespace {

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A move that fails when the target exists: nothing is ever replaced by one.
bool MoveNew(const std::wstring& from, const std::wstring& to) {
    FileStep();
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
}

bool Remove(const std::wstring& path) {
    if (!Exists(path)) return true;
    FileStep();
    return DeleteFileW(path.c_str()) != 0 || !Exists(path);
}

bool SetAttributes(const std::wstring& path, DWORD attributes) {
    FileStep();
    return SetFileAttributesW(path.c_str(), attributes) != 0;
}

// Decimal digits, without the C library's wide formatting that would add to the program.
std::wstring Decimal(uint32_t value) {
    std::wstring digits;
    do {
        digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + value % 10));
        value /= 10;
    } while (value != 0);
    return digits;
}

// Claims `name` among the names the update uses, as Windows compares them.
bool Claim(std::vector<std::wstring>& taken, const std::wstring& name) {
    if (std::find(taken.begin(), taken.end(), name) != taken.end()) return false;
    taken.push_back(name);
    return true;
}

std::wstring Folded(std::wstring name) {
    for (wchar_t& c : name) {
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
        if (c == L'/') c = L'\\';
    }
    return name;
}

// A name beside `name` that no file has and no other file of the update will have.
std::wstring FreeAsideName(const wchar_t* folder, const std::wstring& name,
                           std::vector<std::wstring>& taken) {
    const std::wstring base = name + L"." + Decimal(GetCurrentProcessId());
    for (int n = 0; n < 100; ++n) {
        const std::wstring candidate = base + (n == 0 ? L"" : L"." + Decimal(n)) + L".old";
        if (!Exists(InFolder(folder, candidate)) &&
            !Exists(InFolder(folder, candidate + L".tmp")) && Claim(taken, Folded(candidate)))
            return candidate;
    }
    return L"";
}

// Copies a list durably under `copy`, through a temporary file.
bool CopyList(const std::wstring& from, const std::wstring& to) {
    FileStep();
    CFileDX in, out;
    uint64_t size = 0;
    const std::wstring temporary = to + L".tmp";
    if (!in.OpenForRead(reinterpret_cast<const char16_t*>(from.c_str())) ||
        !in.GetFullSize(&size) || size > 0xFFFFFFFF ||
        !out.OpenForWrite(reinterpret_cast<const char16_t*>(temporary.c_str()), CreateNew))
        return false;
    std::string bytes(size, '\0');
    const bool copied = (size == 0 || in.Read(&bytes[0], static_cast<uint32_t>(size)) == size) &&
                        WriteInPieces(out, bytes.data(), static_cast<uint32_t>(size)) &&
                        out.Flush();
    out.Close();
    if (copied && MoveNew(temporary, to)) return true;
    DeleteFileW(temporary.c_str());
    return false;
}

// Takes one move back: the new file goes, the set-aside file returns with its attributes.
// After a crash a final name that was free is removed only once its temporary file has
// been moved there; a set-aside file tells that the final file is the new one.
bool UndoMove(const wchar_t* folder, const JournalMove& move) {
    const std::wstring final = InFolder(folder, move.destination);
    const std::wstring temporary = final + L".tmp";
    const std::wstring aside = InFolder(folder, move.aside);
    bool ok = true;
    if (move.aside.empty()) {
        if (!Exists(temporary)) ok = Remove(final);
    } else if (Exists(aside)) {
        ok = Remove(final) && MoveNew(aside, final);
    }
    if (ok && !move.aside.empty() && Exists(final) &&
        GetFileAttributesW(final.c_str()) != move.attributes)
        ok = SetAttributes(final, move.attributes);
    return Remove(temporary) && ok;
}

// Puts the lists back from their copies and removes what their rewrites may have left.
bool RestoreLists(const wchar_t* folder, const Journal& journal) {
    bool ok = true;
    for (int i = 0; i < 2; ++i) {
        const std::wstring list = InFolder(folder, ListNames[i]);
        if (!journal.listCopies[i].empty()) {
            const std::wstring copy = InFolder(folder, journal.listCopies[i]);
            if (Exists(copy)) {
                FileStep();
                ok = MoveFileExW(copy.c_str(), list.c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0 &&
                     ok;
            }
            ok = Remove(copy + L".tmp") && ok;
        }
        ok = Remove(list + L".tmp") && ok;
    }
    return ok;
}

bool RemoveJournal(const wchar_t* folder) {
    const std::string name = JournalName;
    const std::wstring path = InFolder(folder, std::wstring(name.begin(), name.end()));
    // The journal goes last: until then a crash finds it and recovers again.
    return Remove(path + L".tmp") && Remove(path);
}

// Takes the update back in reverse order, the first `moved` moves in full and of the others
// only their temporary files; every step can run again after a crash.
bool TakeBack(const wchar_t* folder, const Journal& journal, size_t moved) {
    bool ok = true;
    for (size_t i = journal.moves.size(); i-- > 0;) {
        const JournalMove& move = journal.moves[i];
        ok = (i < moved ? UndoMove(folder, move)
                        : Remove(InFolder(folder, move.destination) + L".tmp")) &&
             ok;
    }
    return RestoreLists(folder, journal) && ok && RemoveJournal(folder);
}

// After the commit point: the set-aside files and list copies go, then the journal.
bool CleanUp(const wchar_t* folder, const Journal& journal) {
    bool ok = true;
    for (const JournalMove& move : journal.moves)
        if (!move.aside.empty()) ok = Remove(InFolder(folder, move.aside)) && ok;
    for (int i = 0; i < 2; ++i) {
        if (journal.listCopies[i].empty()) continue;
        const std::wstring copy = InFolder(folder, journal.listCopies[i]);
        ok = Remove(copy) && Remove(copy + L".tmp") && ok;
        ok = Remove(InFolder(folder, ListNames[i]) + L".tmp") && ok;
    }
    return ok && RemoveJournal(folder);
}

// Sets one final file aside and moves its temporary file in; on failure leaves both as
// they were.
bool MoveOne(const wchar_t* folder, const JournalMove& move) {
    const std::wstring final = InFolder(folder, move.destination);
    const std::wstring aside = InFolder(folder, move.aside);
    const DWORD attributes = GetFileAttributesW(final.c_str());
    // The folder must be as the journal found it: what was there is set aside, and a name
    // that was free is still free.
    if (move.aside.empty() != (attributes == INVALID_FILE_ATTRIBUTES)) return false;
    if (!move.aside.empty()) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) return false;
        // A read-only file is replaced all the same.
        if (!SetAttributes(final, FILE_ATTRIBUTE_NORMAL)) return false;
        if (!MoveNew(final, aside)) {
            SetAttributes(final, attributes);
            return false;
        }
    }
    if (MoveNew(final + L".tmp", final)) return true;
    if (!move.aside.empty() && MoveNew(aside, final)) SetAttributes(final, attributes);
    return false;
}

}  // namespace

bool BeginUpdate(const wchar_t* folder, const std::vector<std::wstring>& destinations,
                 Journal& journal) {
    std::vector<std::wstring> taken;
    for (const std::wstring& destination : destinations) {
        Claim(taken, Folded(destination));
        Claim(taken, Folded(destination + L".tmp"));
    }
    Journal planned;
    for (const std::wstring& destination : destinations) {
        JournalMove move{destination, L"", 0};
        move.attributes = GetFileAttributesW(InFolder(folder, destination).c_str());
        if (move.attributes != INVALID_FILE_ATTRIBUTES) {
            // Only a regular file is replaced: a folder there stays as it is.
            if (move.attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
                return false;
            move.aside = FreeAsideName(folder, destination, taken);
            if (move.aside.empty()) return false;
        }
        planned.moves.push_back(std::move(move));
    }
    for (int i = 0; i < 2; ++i) {
        const DWORD attributes = GetFileAttributesW(InFolder(folder, ListNames[i]).c_str());
        // A read-only list is never rewritten, so it needs no copy.
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY))
            continue;
        planned.listCopies[i] = FreeAsideName(folder, ListNames[i], taken);
        if (planned.listCopies[i].empty()) return false;
    }
    if (!WriteJournal(folder, planned)) return false;
    journal = std::move(planned);
    return true;
}

bool MoveFilesIn(const wchar_t* folder, const Journal& journal) {
    bool copied = true;
    for (int i = 0; copied && i < 2; ++i)
        if (!journal.listCopies[i].empty())
            copied =
                CopyList(InFolder(folder, ListNames[i]), InFolder(folder, journal.listCopies[i]));
    size_t moved = 0;
    while (copied && moved < journal.moves.size() && MoveOne(folder, journal.moves[moved])) ++moved;
    if (moved == journal.moves.size() && copied) return true;
    TakeBack(folder, journal, moved);
    return false;
}

bool MarkCommitted(const wchar_t* folder, Journal& journal) {
    journal.committed = true;
    if (!WriteJournal(folder, journal)) {
        journal.committed = false;
        TakeBack(folder, journal, journal.moves.size());
        return false;
    }
    // What clean-up leaves behind, the next start finishes.
    CleanUp(folder, journal);
    return true;
}

bool DropJournal(const wchar_t* folder) {
    return RemoveJournal(folder);
}

bool RecoverUpdate(const wchar_t* folder) {
    Journal journal;
    switch (ReadJournal(folder, journal)) {
        case JournalState::Absent:
            // A crash while the first journal was written leaves only its temporary file.
            return RemoveJournal(folder);
        case JournalState::Unreadable:
            return false;
        case JournalState::Read:
            break;
    }
    return journal.committed ? CleanUp(folder, journal)
                             : TakeBack(folder, journal, journal.moves.size());
}
