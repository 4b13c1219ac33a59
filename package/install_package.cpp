#include "package/install_package.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "package/checksum.h"
#include "package/commit.h"
#include "package/file.h"
#include "package/hash_list.h"
#include "package/journal.h"
#include "package/package_plan.h"
#include "package/uninstall_list.h"
#include "text/convert.h"
#include "text/encoding.h"

namespace package {

namespace {

constexpr uint32_t ChunkSize = 0x100000;

// Where one planned entry goes on this machine.
struct EntryPaths {
    std::u16string destination;  // relative to the installation folder, as a status line shows it
    std::u16string temporary;
};

// Everything one installation works with.
struct Installation {
    const char16_t* folder;
    InstallWatcher& watcher;
    CFileDX program;
    PackagePlan plan;
    std::vector<EntryPaths> paths;
    Update update;
    bool journaled = false;  // the journal was written and not yet dealt with
};

// The temporary and final path of every installed entry; false when one does not fit a
// path buffer, which makes the package damaged before anything is written.
bool PlanPaths(Installation& installation) {
    for (const PlannedEntry& entry : installation.plan.entries) {
        EntryPaths paths;
        char16_t name[text::PathBufferLength];
        const bool converted =
            text::NarrowToWide(name, text::PathBufferLength, entry.destination.c_str());
        if (entry.installed) {
            char16_t temporary[text::PathBufferLength];
            if (!converted || !JoinPath(temporary, text::PathBufferLength, installation.folder,
                                        (std::u16string(name) + u".tmp").c_str()))
                return false;
            paths.temporary = temporary;
        }
        paths.destination = converted ? name : u"";
        installation.paths.push_back(std::move(paths));
    }
    return true;
}

// Reads the package's plan and checks it whole: the package comes from outside, so a place
// that would leave the installation folder makes it damaged before anything is written.
ResultCode OpenAndPlan(const char16_t* programPath, Installation& installation) {
    installation.program.OpenForRead(programPath);
    if (installation.program.GetSize() < ArchiveOffset) return ResultCode::PackageDamaged;
    if (!ReadPackagePlan(installation.program, installation.plan))
        return ResultCode::PackageIndexUnreadable;
    if (CheckPackagePlan(installation.plan) != PlanProblem::None || !PlanPaths(installation))
        return ResultCode::PackageDamaged;
    return ResultCode::Ok;
}

// Holds the folders the update works in, checks the room and writes the journal naming
// every file the update will move.
ResultCode Prepare(Installation& installation) {
    std::vector<std::u16string> destinations;
    uint64_t bytes = 0;
    for (size_t i = 0; i < installation.paths.size(); ++i) {
        if (!installation.plan.entries[i].installed) continue;
        destinations.push_back(installation.paths[i].destination);
        bytes += installation.plan.entries[i].size;
    }
    if (!BeginUpdate(installation.folder, destinations, bytes, installation.update))
        return ResultCode::InstallFailed;
    installation.journaled = true;
    return ResultCode::Ok;
}

// Ends the run from here; the code returned is overridden by the one the watcher reports.
ResultCode Abort(InstallWatcher& watcher) {
    watcher.Abort();
    return ResultCode::PackageDamaged;
}

// Copies `size` bytes from the program file to `out` in chunks, folding the checksum and
// letting the player act after each chunk. PackageDamaged when the data is cut short or the
// run was stopped, InstallFailed when a write fell short.
ResultCode CopyEntry(Installation& installation, CFileDX& out, uint32_t size, uint8_t* buffer,
                     uint64_t& checksum) {
    InstallWatcher& watcher = installation.watcher;
    uint8_t state[8] = {};
    uint32_t written = 0;
    while (written < size) {
        if (watcher.Stopped()) return ResultCode::PackageDamaged;
        const uint32_t chunk = std::min(size - written, ChunkSize);
        if (installation.program.Read(buffer, chunk) != chunk) return ResultCode::PackageDamaged;
        AddToChecksum(state, buffer, chunk);
        if (!WriteInPieces(out, buffer, chunk)) return ResultCode::InstallFailed;
        written += chunk;
        watcher.ShowEntryProgress(
            static_cast<uint32_t>(uint64_t{written} * EntryProgressRange / size));
        if (!watcher.Pump()) return Abort(watcher);
    }
    std::memcpy(&checksum, state, sizeof state);
    return ResultCode::Ok;
}

// Copies entry `i` to its temporary file and compares its checksum with its record.
ResultCode CopyToTemporary(Installation& installation, size_t i, uint8_t* buffer) {
    const PlannedEntry& entry = installation.plan.entries[i];
    const char16_t* temporary = installation.paths[i].temporary.c_str();
    // Whatever an earlier run or anybody else left at the temporary name goes, a link as a
    // link; the file is then created afresh, never opened through something planted there.
    FileStep();
    CFileDX out;
    if (!RemoveAt(temporary) || !out.OpenForWrite(temporary, CreateNew))
        return ResultCode::InstallFailed;
    uint64_t checksum = 0;
    const ResultCode copied = CopyEntry(installation, out, entry.size, buffer, checksum);
    if (copied != ResultCode::Ok) return copied;
    // A cancel confirmed while the last chunk's messages were pumped ends the copy here.
    if (installation.watcher.Stopped()) return ResultCode::PackageDamaged;
    if (entry.expected && *entry.expected != checksum) return ResultCode::PackageDamaged;
    // On the disk before the next entry, so that no commit can leave a file cut short.
    FileStep();
    return out.Flush() ? ResultCode::Ok : ResultCode::InstallFailed;
}

// Copies and verifies every entry, showing each and the progress of the whole.
ResultCode CopyEntries(Installation& installation) {
    InstallWatcher& watcher = installation.watcher;
    std::vector<uint8_t> buffer(ChunkSize, 0);
    const std::vector<PlannedEntry>& entries = installation.plan.entries;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (watcher.Stopped()) return ResultCode::PackageDamaged;
        if (!installation.program.Seek(static_cast<int64_t>(ArchiveOffset + entries[i].offset)))
            return Abort(watcher);
        watcher.StartEntry(installation.paths[i].destination);
        if (!watcher.Pump()) return Abort(watcher);
        if (entries[i].installed) {
            const ResultCode copied = CopyToTemporary(installation, i, buffer.data());
            if (copied != ResultCode::Ok) return copied;
        }
        watcher.ShowPackageProgress(i + 1);
        if (!watcher.Pump()) return Abort(watcher);
    }
    return watcher.Stopped() ? ResultCode::PackageDamaged : ResultCode::Ok;
}

// Puts the verified files in place, records them in both lists and passes the commit
// point; a failure before that point takes everything back.
ResultCode CommitAndRecord(Installation& installation) {
    installation.journaled = false;  // from here on the commit deals with the journal
    Update& update = installation.update;
    if (!MoveFilesIn(installation.folder, update)) return ResultCode::InstallFailed;
    std::vector<std::u16string> installNames;
    for (size_t i = 0; i < installation.plan.entries.size(); ++i)
        installNames.push_back(
            installation.plan.entries[i].installed ? installation.paths[i].destination : u"");
    // A list that could not be copied (another program held it) is not rewritten: the hash
    // list is then skipped, and the uninstall list counts as not updated.
    FileStep();
    if (update.listCopied[0])
        UpdateInstalledHashList(installation.folder, installation.plan.records);
    FileStep();
    const bool listed =
        update.listCopied[1] && UpdateUninstallList(installation.folder, installNames);
    if (!MarkCommitted(installation.folder, update)) return ResultCode::InstallFailed;
    return listed ? ResultCode::Ok : ResultCode::UninstallListFailed;
}

}  // namespace

ResultCode InstallPackage(const char16_t* programPath, const char16_t* folder,
                          InstallWatcher& watcher) {
    Installation installation{folder, watcher, {}, {}, {}, {}, false};
    ResultCode result = OpenAndPlan(programPath, installation);
    if (result != ResultCode::Ok) return result;

    result = Prepare(installation);
    if (result != ResultCode::Ok) return result;

    watcher.Begin(installation.plan.entries.size());
    if (!watcher.Pump()) watcher.Abort();
    result = CopyEntries(installation);
    if (result == ResultCode::Ok) result = CommitAndRecord(installation);

    // An update that never moved a file leaves no temporary file behind, and its journal goes
    // after them; once moving began, the commit or its take-back dealt with both.
    if (installation.journaled) DropJournal(installation.folder, installation.update.journal);
    return result;
}

}  // namespace package
