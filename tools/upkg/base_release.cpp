#include "tools/upkg/base_release.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "package/file.h"
#include "package/update_package.h"
#include "tools/upkg/inspect.h"
#include "tools/upkg/progress.h"
#include "tools/upkg/report.h"
#include "tools/upkg/stored_text.h"
#include "tools/upkg/stream.h"

namespace upkg {

namespace fs = std::filesystem;

namespace {

bool StartsWith(const char* bytes, const char* magic, size_t size) {
    return std::memcmp(bytes, magic, size) == 0;
}

// True when the file holds an archive where an update program keeps it.
bool HoldsArchive(package::CFileDX& file) {
    char magic[package::ArchiveMagicSize];
    return file.Seek(package::ArchiveOffset) && file.Read(magic, sizeof magic) == sizeof magic &&
           (StartsWith(magic, package::Arc20Magic, package::ArchiveMagicSize) ||
            StartsWith(magic, package::PackFileMagic, package::ArchiveMagicSize));
}

bool FoldFile(SourceFile& file, Progress& progress, std::string& error) {
    package::CFileDX in;
    if (!OpenListed(file, in, error)) return false;
    if (StreamWithChecksum(in, file.size, nullptr, file.checksum, progress) == StreamResult::Done) {
        file.checksumKnown = true;
        return true;
    }
    error = "cannot read " + Quoted(file.path) + ": " + ReadProblem(in);
    return false;
}

// Names, with -v, and counts what a small update leaves as it is: the records of `base` no
// file in the source updates, and, with a v1 list, the packed paths the list cannot hold.
void CountWhatStays(const BuildRequest& request, const BaseRelease& base,
                    const std::vector<SourceFile>& all, const std::vector<SourceFile>& packed,
                    BuildSummary& summary) {
    for (const package::HashListEntry& record : base.records) {
        const bool inSource = std::any_of(all.begin(), all.end(), [&](const SourceFile& file) {
            return package::HashPathsEqual(record.path, file.relative);
        });
        if (inSource) continue;
        ++summary.leftInstalled;
        if (request.verbose)
            std::printf("stays %s (not in the source: the player keeps it, and its record)\n",
                        Shown(record.path).c_str());
    }
    for (const SourceFile& file : packed) {
        const size_t bytes = StoreAsCodePage932(file.relative).value_or(file.relative).size();
        if (!base.v1List || bytes < package::HashRecordSizeV1 - 8) continue;
        ++summary.unrecorded;
        if (request.verbose)
            std::printf(
                "unrecorded %s (%zu bytes: the installed v1 list holds paths of at "
                "most 55, so the updater leaves its record out)\n",
                Shown(file.relative).c_str(), bytes);
    }
}

bool IsUnchanged(const std::vector<package::HashListEntry>& base, const SourceFile& file) {
    // The updater's merge gives a new record to the first one with an equal path.
    for (const package::HashListEntry& record : base)
        if (package::HashPathsEqual(record.path, file.relative))
            return record.value == file.checksum;
    return false;
}

}  // namespace

BuildResult LoadBaseRelease(const std::string& path, BaseRelease& base, std::string& error) {
    package::CFileDX file;
    if (!file.OpenForRead(package::FromSystemPath(fs::u8path(path)).c_str())) {
        error = "cannot open the base " + Quoted(path) + ": " + file.LastErrorText();
        return BuildResult::WriteFailed;
    }
    char magic[package::HashListMagicSize];
    if (file.Read(magic, sizeof magic) == sizeof magic &&
        (StartsWith(magic, package::HashListMagicV2, package::HashListMagicSize) ||
         StartsWith(magic, package::HashListMagicV1, package::HashListMagicSize))) {
        package::HashListHeader header;
        base.v1List = StartsWith(magic, package::HashListMagicV1, package::HashListMagicSize);
        if (file.Seek(0) && package::ReadHashList(header, base.records, file))
            return BuildResult::Ok;
        error = "the hash list " + Quoted(path) + " cannot be read";
        return BuildResult::WriteFailed;
    }
    if (!HoldsArchive(file)) {
        error = "the base " + Quoted(path) + " is neither an update program nor a hash list";
        return BuildResult::Refused;
    }
    file.Close();
    Package package;
    if (!OpenPackage(path, file, package, error)) return BuildResult::WriteFailed;
    if (package.plan.hashListDamaged) {
        error = "the hash list of " + Quoted(path) + " cannot be read";
        return BuildResult::WriteFailed;
    }
    base.records = package.plan.records;
    return BuildResult::Ok;
}

BuildResult LeaveOutUnchanged(const BuildRequest& request, const BaseRelease& base,
                              std::vector<SourceFile>& files, BuildSummary& summary,
                              std::string& error) {
    uint64_t total = 0;
    for (const SourceFile& file : files) total += file.size;
    Progress progress(total, request.quiet || request.verbose);
    std::vector<SourceFile> kept;
    for (SourceFile& file : files) {
        if (!FoldFile(file, progress, error)) return BuildResult::WriteFailed;
        if (!IsUnchanged(base.records, file)) {
            kept.push_back(file);
            continue;
        }
        ++summary.unchanged;
        if (request.verbose) std::printf("unchanged %s\n", Shown(file.relative).c_str());
    }
    progress.Clear();
    CountWhatStays(request, base, files, kept, summary);
    files = std::move(kept);
    if (!files.empty()) return BuildResult::Ok;
    error = "nothing to update: every file below " + Quoted(request.source) +
            " has the checksum that " + Quoted(request.base) + " records";
    return BuildResult::Refused;
}

}  // namespace upkg
