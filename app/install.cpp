#include "app/install.h"

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "app/commit.h"
#include "app/journal.h"
#include "app/message_pump.h"
#include "app/messages.h"
#include "app/resource.h"
#include "app/updater_state.h"
#include "package/checksum.h"
#include "package/file.h"
#include "package/hash_list.h"
#include "package/package_plan.h"
#include "package/uninstall_list.h"
#include "text/convert.h"
#include "text/encoding.h"
#include "text/format.h"

namespace {

constexpr uint32_t ChunkSize = 0x100000;
constexpr uint32_t EntryBarRange = 65535;

// The dialog's controls; any may be missing, and a missing one is left alone.
struct Controls {
    HWND status = nullptr;
    HWND entryBar = nullptr;
    HWND packageBar = nullptr;

    static Controls Take() {
        return {GetDlgItem(ProgressDialogWindow, IDC_STATUS),
                GetDlgItem(ProgressDialogWindow, IDC_ENTRY_BAR),
                GetDlgItem(ProgressDialogWindow, IDC_PACKAGE_BAR)};
    }
    static void Send(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
        if (control != nullptr) SendMessageW(control, message, wParam, lParam);
    }
    void SetEntryPosition(uint32_t position) const { Send(entryBar, PBM_SETPOS, position, 0); }
    void SetPackagePosition(size_t position) const { Send(packageBar, PBM_SETPOS, position, 0); }
    void SetRanges(size_t entries) const {
        Send(entryBar, PBM_SETRANGE32, 0, EntryBarRange);
        SetEntryPosition(0);
        Send(packageBar, PBM_SETRANGE32, 0, static_cast<LPARAM>(entries));
        SetPackagePosition(0);
    }
    void ShowInstalling(const std::wstring& name) const {
        if (status == nullptr) return;
        wchar_t text[PathBufferLength];
        // A name too long for the line leaves the line as it was; the copy goes on.
        if (FormatWide(AsUtf16(text), PathBufferLength, AsUtf16(GetMessageText(MessageInstalling)),
                       {AsUtf16(name.c_str())}) >= 0)
            SetWindowTextW(status, text);
    }
};

// Where one planned entry goes on this machine.
struct EntryPaths {
    std::wstring destination;  // relative to the installation folder, as the status line shows it
    std::wstring temporary;
};

// Everything one installation works with.
struct Installation {
    const wchar_t* folder;
    CFileDX program;
    PackagePlan plan;
    std::vector<EntryPaths> paths;
    Update update;
    bool journaled = false;  // the journal was written and not yet dealt with
};

std::optional<std::wstring> ToWide(const std::string& utf8) {
    wchar_t wide[PathBufferLength];
    if (!NarrowToWide(AsUtf16(wide), PathBufferLength, utf8.c_str())) return std::nullopt;
    return std::wstring(wide);
}

std::optional<std::wstring> FolderPath(const wchar_t* folder, const std::wstring& name,
                                       const char16_t* format) {
    wchar_t path[PathBufferLength];
    if (FormatWide(AsUtf16(path), PathBufferLength, format,
                   {AsUtf16(folder), AsUtf16(name.c_str())}) < 0)
        return std::nullopt;
    return std::wstring(path);
}

// The temporary and final path of every installed entry; false when one does not fit a
// path buffer, which makes the package damaged before anything is written.
bool PlanPaths(Installation& installation) {
    for (const PlannedEntry& entry : installation.plan.entries) {
        EntryPaths paths;
        std::optional<std::wstring> wide = ToWide(entry.destination);
        if (entry.installed) {
            if (!wide) return false;
            std::optional<std::wstring> temporary =
                FolderPath(installation.folder, *wide, u"%s\\%s.tmp");
            std::optional<std::wstring> final = FolderPath(installation.folder, *wide, u"%s\\%s");
            if (!temporary || !final) return false;
            paths.temporary = std::move(*temporary);
        }
        paths.destination = wide.value_or(L"");
        installation.paths.push_back(std::move(paths));
    }
    return true;
}

// Reads the package's plan and checks it whole: the package comes from outside, so a place
// that would leave the installation folder makes it damaged before anything is written.
ResultCode OpenAndPlan(const wchar_t* programPath, Installation& installation) {
    installation.program.OpenForRead(AsUtf16(programPath));
    if (installation.program.GetSize() < ArchiveOffset) return PackageDamaged;
    if (!ReadPackagePlan(installation.program, installation.plan)) return PackageIndexUnreadable;
    if (CheckPackagePlan(installation.plan) != PlanProblem::None || !PlanPaths(installation))
        return PackageDamaged;
    return Ok;
}

// Holds the folders the update works in, checks the room and writes the journal naming
// every file the update will move.
ResultCode Prepare(Installation& installation) {
    std::vector<std::wstring> destinations;
    uint64_t bytes = 0;
    for (size_t i = 0; i < installation.paths.size(); ++i) {
        if (!installation.plan.entries[i].installed) continue;
        destinations.push_back(installation.paths[i].destination);
        bytes += installation.plan.entries[i].size;
    }
    if (!BeginUpdate(installation.folder, destinations, bytes, installation.update))
        return InstallFailed;
    installation.journaled = true;
    return Ok;
}

bool Stopped() {
    return InstallAborted != 0 || CancelRequested != 0;
}

// Sets InstallAborted; the code returned is overridden when the run finishes.
ResultCode Abort() {
    InstallAborted = 1;
    return PackageDamaged;
}

// Copies `size` bytes from the program file to `out` in chunks, folding the checksum and
// pumping messages after each chunk. PackageDamaged when the data is cut short or the run
// was stopped, InstallFailed when a write fell short.
ResultCode CopyEntry(CFileDX& program, CFileDX& out, uint32_t size, uint8_t* buffer,
                     const Controls& controls, uint64_t& checksum) {
    uint8_t state[8] = {};
    uint32_t written = 0;
    while (written < size) {
        if (Stopped()) return PackageDamaged;
        const uint32_t chunk = std::min(size - written, ChunkSize);
        if (program.Read(buffer, chunk) != chunk) return PackageDamaged;
        AddToChecksum(state, buffer, chunk);
        if (!WriteInPieces(out, buffer, chunk)) return InstallFailed;
        written += chunk;
        controls.SetEntryPosition(static_cast<uint32_t>(uint64_t{written} * EntryBarRange / size));
        if (PumpMessages() != 0) return Abort();
    }
    std::memcpy(&checksum, state, sizeof state);
    return Ok;
}

// Copies entry `i` to its temporary file and compares its checksum with its record.
ResultCode CopyToTemporary(Installation& installation, size_t i, uint8_t* buffer,
                           const Controls& controls) {
    const PlannedEntry& entry = installation.plan.entries[i];
    const EntryPaths& paths = installation.paths[i];
    // Whatever an earlier run or anybody else left at the temporary name goes, a link as a
    // link; the file is then created afresh, never opened through something planted there.
    FileStep();
    CFileDX out;
    if (!RemoveAt(AsUtf16(paths.temporary.c_str())) ||
        !out.OpenForWrite(AsUtf16(paths.temporary.c_str()), CreateNew))
        return InstallFailed;
    uint64_t checksum = 0;
    const ResultCode copied =
        CopyEntry(installation.program, out, entry.size, buffer, controls, checksum);
    if (copied != Ok) return copied;
    // A cancel confirmed while the last chunk's messages were pumped ends the copy here.
    if (Stopped()) return PackageDamaged;
    if (entry.expected && *entry.expected != checksum) return PackageDamaged;
    // On the disk before the next entry, so that no commit can leave a file cut short.
    FileStep();
    return out.Flush() ? Ok : InstallFailed;
}

// Copies and verifies every entry, naming each in the status line and moving the bars.
ResultCode CopyEntries(Installation& installation, const Controls& controls) {
    std::vector<uint8_t> buffer(ChunkSize, 0);
    const std::vector<PlannedEntry>& entries = installation.plan.entries;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (Stopped()) return PackageDamaged;
        if (!installation.program.Seek(static_cast<int64_t>(ArchiveOffset + entries[i].offset)))
            return Abort();
        controls.ShowInstalling(installation.paths[i].destination);
        controls.SetEntryPosition(0);
        if (PumpMessages() != 0) return Abort();
        if (entries[i].installed) {
            const ResultCode copied = CopyToTemporary(installation, i, buffer.data(), controls);
            if (copied != Ok) return copied;
        }
        controls.SetPackagePosition(i + 1);
        if (PumpMessages() != 0) return Abort();
    }
    return Stopped() ? PackageDamaged : Ok;
}

// Puts the verified files in place, records them in both lists and passes the commit
// point; a failure before that point takes everything back.
ResultCode CommitAndRecord(Installation& installation) {
    installation.journaled = false;  // from here on the commit deals with the journal
    Update& update = installation.update;
    if (!MoveFilesIn(installation.folder, update)) return InstallFailed;
    std::vector<std::u16string> installNames;
    for (size_t i = 0; i < installation.plan.entries.size(); ++i)
        installNames.push_back(installation.plan.entries[i].installed
                                   ? AsUtf16(installation.paths[i].destination.c_str())
                                   : u"");
    // A list that could not be copied (another program held it) is not rewritten: the hash
    // list is then skipped, and the uninstall list counts as not updated.
    FileStep();
    if (update.listCopied[0])
        UpdateInstalledHashList(AsUtf16(installation.folder), installation.plan.records);
    FileStep();
    const bool listed =
        update.listCopied[1] && UpdateUninstallList(AsUtf16(installation.folder), installNames);
    if (!MarkCommitted(installation.folder, update)) return InstallFailed;
    return listed ? Ok : UninstallListFailed;
}

ResultCode Finish(ResultCode result) {
    if (InstallAborted) result = Interrupted;
    if (CancelRequested) result = Cancelled;
    return result;
}

}  // namespace

ResultCode InstallUpdate(const wchar_t* installFolder) {
    wchar_t path[PathBufferLength];
    if (!GetProgramPath(AsUtf16(path), PathBufferLength)) return Finish(PackageDamaged);
    return InstallUpdateFrom(path, installFolder);
}

ResultCode InstallUpdateFrom(const wchar_t* programPath, const wchar_t* installFolder) {
    const Controls controls = Controls::Take();
    Installation installation{installFolder, {}, {}, {}, {}, false};
    ResultCode result = OpenAndPlan(programPath, installation);
    if (result != Ok) return Finish(result);

    result = Prepare(installation);
    if (result != Ok) return Finish(result);

    controls.SetRanges(installation.plan.entries.size());
    if (PumpMessages() != 0) InstallAborted = 1;
    result = CopyEntries(installation, controls);
    if (result == Ok) result = CommitAndRecord(installation);

    // An update that never moved a file leaves no temporary file behind, and its journal goes
    // after them; once moving began, the commit or its take-back dealt with both.
    if (installation.journaled) DropJournal(installation.folder, installation.update.journal);
    return Finish(result);
}
