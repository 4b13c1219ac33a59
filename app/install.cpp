#include "app/install.h"

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "app/commit.h"
#include "app/message_pump.h"
#include "app/messages.h"
#include "app/updater_state.h"
#include "package/checksum.h"
#include "package/file.h"
#include "package/hash_list.h"
#include "package/install_path.h"
#include "package/uninstall_list.h"
#include "package/update_package.h"
#include "text/convert.h"
#include "text/encoding.h"
#include "text/format.h"

namespace {

constexpr size_t MaximumEntries = 256;
constexpr uint32_t ChunkSize = 0x100000;
// A chunk goes out in quarters: Linux backs one large write with large page-cache blocks,
// which under Wine on a virtual machine made whole-chunk writes up to twice as slow.
constexpr uint32_t WritePiece = ChunkSize / 4;
constexpr uint32_t EntryBarRange = 65535;
constexpr int StatusLineId = 1001;
constexpr int EntryBarId = 1002;
constexpr int PackageBarId = 1003;

// The dialog's controls; any may be missing, and a missing one is left alone.
struct Controls {
    HWND status = nullptr;
    HWND entryBar = nullptr;
    HWND packageBar = nullptr;

    static Controls Take() {
        return {GetDlgItem(ProgressDialogWindow, StatusLineId),
                GetDlgItem(ProgressDialogWindow, EntryBarId),
                GetDlgItem(ProgressDialogWindow, PackageBarId)};
    }
    static void Send(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
        if (control != nullptr) SendMessageW(control, message, wParam, lParam);
    }
    void SetEntryPosition(uint32_t position) const { Send(entryBar, PBM_SETPOS, position, 0); }
    void SetPackagePosition(size_t position) const { Send(packageBar, PBM_SETPOS, position, 0); }
    void ShowInstalling(const std::wstring& name) const {
        if (status == nullptr) return;
        wchar_t text[PathBufferLength];
        // A name too long for the line leaves the line as it was; the copy goes on.
        if (FormatWide(AsUtf16(text), PathBufferLength, AsUtf16(GetMessageText(MessageInstalling)),
                       {AsUtf16(name.c_str())}) >= 0)
            SetWindowTextW(status, text);
    }
};

// Where one archive entry goes, worked out before anything is written.
struct EntryPlan {
    std::wstring destination;  // relative to the installation folder, as the status line shows it
    bool installed = false;    // false for the update's hash list
    std::optional<uint64_t> expected;
    std::wstring temporary;
    std::wstring final;
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

// Plans every entry: its record in the update's hash list gives its place and checksum.
// The package comes from outside, so a place that would leave the installation folder or
// does not fit a path buffer makes the whole package damaged, before anything is written.
bool PlanEntries(const std::vector<ArchiveEntry>& entries, const std::vector<HashListEntry>& list,
                 const wchar_t* folder, std::vector<EntryPlan>& plans) {
    for (const ArchiveEntry& entry : entries) {
        EntryPlan plan;
        std::string destination = entry.name;
        if (const HashListEntry* record = FindRecordForEntry(list, entry.name)) {
            destination = record->path;
            plan.expected = record->value;
        }
        plan.installed = Lowercased(destination) != "zol.hvl";
        std::optional<std::wstring> wide = ToWide(destination);
        if (plan.installed) {
            if (!wide || !IsSafeInstallPath(destination.c_str())) return false;
            std::optional<std::wstring> temporary = FolderPath(folder, *wide, u"%s\\%s.tmp");
            std::optional<std::wstring> final = FolderPath(folder, *wide, u"%s\\%s");
            if (!temporary || !final) return false;
            plan.temporary = std::move(*temporary);
            plan.final = std::move(*final);
        }
        plan.destination = wide.value_or(L"");
        plans.push_back(std::move(plan));
    }
    return true;
}

bool Stopped() {
    return InstallAborted != 0 || CancelRequested != 0;
}

enum class CopyOutcome { Copied, Stopped, ReadShort, WriteShort };

bool WriteInPieces(CFileDX& out, const uint8_t* bytes, uint32_t length) {
    for (uint32_t done = 0; done < length; done += WritePiece) {
        const uint32_t piece = std::min(length - done, WritePiece);
        if (out.Write(bytes + done, piece) != piece) return false;
    }
    return true;
}

// Copies `size` bytes from the program file to `out` in chunks, folding the checksum and
// pumping messages after each chunk.
CopyOutcome CopyEntry(CFileDX& program, CFileDX& out, uint32_t size, uint8_t* buffer,
                      const Controls& controls, uint64_t& checksum) {
    uint8_t state[8] = {};
    uint32_t written = 0;
    while (written < size) {
        if (Stopped()) return CopyOutcome::Stopped;
        const uint32_t chunk = std::min(size - written, ChunkSize);
        if (program.Read(buffer, chunk) != chunk) return CopyOutcome::ReadShort;
        AddToChecksum(state, buffer, chunk);
        if (!WriteInPieces(out, buffer, chunk)) return CopyOutcome::WriteShort;
        written += chunk;
        controls.SetEntryPosition(static_cast<uint32_t>(uint64_t{written} * EntryBarRange / size));
        if (PumpMessages() != 0) {
            InstallAborted = 1;
            return CopyOutcome::Stopped;
        }
    }
    std::memcpy(&checksum, state, sizeof state);
    return CopyOutcome::Copied;
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
    CFileDX program;
    program.OpenForRead(AsUtf16(programPath));
    if (program.GetSize() < ArchiveOffset) return Finish(PackageDamaged);

    ArchiveHeader header;
    std::vector<ArchiveEntry> entries;
    if (!program.Seek(ArchiveOffset) || !ReadArchiveIndex(header, entries, program))
        return Finish(PackageIndexUnreadable);
    if (entries.size() > MaximumEntries) return Finish(PackageDamaged);
    const size_t count = entries.size();

    // The update's hash list; a package without a readable one installs every entry under
    // its own name, unverified.
    HashListHeader listHeader{};
    std::vector<HashListEntry> updateList;
    for (const ArchiveEntry& entry : entries) {
        if (Lowercased(entry.name) != "zol.hvl") continue;
        if (program.Seek(static_cast<int64_t>(ArchiveOffset + entry.offset)))
            ReadHashList(listHeader, updateList, program);
        break;
    }

    std::vector<EntryPlan> plans;
    if (!PlanEntries(entries, updateList, installFolder, plans)) return Finish(PackageDamaged);

    Controls::Send(controls.entryBar, PBM_SETRANGE32, 0, EntryBarRange);
    controls.SetEntryPosition(0);
    Controls::Send(controls.packageBar, PBM_SETRANGE32, 0, static_cast<LPARAM>(count));
    controls.SetPackagePosition(0);
    if (PumpMessages() != 0) InstallAborted = 1;

    ResultCode result = PackageDamaged;
    std::vector<uint8_t> buffer(ChunkSize, 0);
    std::vector<bool> created(count, false);  // temporary files this run wrote
    size_t dealtWith = 0;
    for (size_t i = 0; i < count; ++i) {
        if (Stopped()) break;
        if (!program.Seek(static_cast<int64_t>(ArchiveOffset + entries[i].offset))) {
            InstallAborted = 1;
            break;
        }
        const EntryPlan& plan = plans[i];
        controls.ShowInstalling(plan.destination);
        controls.SetEntryPosition(0);
        if (PumpMessages() != 0) {
            InstallAborted = 1;
            break;
        }
        if (plan.installed) {
            // A temporary file left read-only by an earlier run can so be overwritten.
            SetFileAttributesW(plan.temporary.c_str(), FILE_ATTRIBUTE_NORMAL);
            CFileDX out;
            if (!out.OpenForWrite(AsUtf16(plan.temporary.c_str()), CreateOrTruncate)) {
                result = InstallFailed;
                break;
            }
            created[i] = true;
            uint64_t checksum = 0;
            const CopyOutcome outcome =
                CopyEntry(program, out, entries[i].size, buffer.data(), controls, checksum);
            out.Close();
            if (Stopped()) break;
            if (outcome == CopyOutcome::WriteShort) result = InstallFailed;
            if (outcome != CopyOutcome::Copied) break;
            if (plan.expected && *plan.expected != checksum) break;
        }
        controls.SetPackagePosition(i + 1);
        if (PumpMessages() != 0) {
            InstallAborted = 1;
            break;
        }
        ++dealtWith;
    }

    if (dealtWith == count && !Stopped()) {
        std::vector<FileMove> moves;
        std::vector<std::u16string> installNames;
        for (const EntryPlan& plan : plans) {
            installNames.push_back(plan.installed ? AsUtf16(plan.destination.c_str()) : u"");
            if (plan.installed) moves.push_back({plan.temporary, plan.final});
        }
        if (CommitFiles(moves)) {
            UpdateInstalledHashList(AsUtf16(installFolder), updateList);
            result = UpdateUninstallList(AsUtf16(installFolder), installNames)
                         ? Ok
                         : UninstallListFailed;
        } else {
            result = InstallFailed;
        }
    }

    // Whatever happened, no temporary file of this run stays behind.
    for (size_t i = 0; i < count; ++i)
        if (created[i]) DeleteFileW(plans[i].temporary.c_str());
    return Finish(result);
}
