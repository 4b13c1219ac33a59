#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "tools/upkg/file_system.h"
#include "tools/upkg/progress.h"
#include "tools/upkg/report.h"
#include "tools/upkg/stream.h"
#include "tools/upkg/subcommands.h"
#include "tools/upkg/temporary_file.h"
#include "tools/upkg/verify.h"

namespace fs = std::filesystem;

namespace {

struct Extraction {
    CFileDX& package;
    const fs::path folder;
    const bool overwrite;
    std::string error;
};

fs::path TargetOf(const fs::path& folder, const PlannedEntry& entry) {
    std::string relative = entry.destination;
    std::replace(relative.begin(), relative.end(), '\\', '/');
    return folder / fs::u8path(relative);
}

// What stands at one place on the way to a target: ExitOk when it may be used, else the
// exit code with the reason in `error`.
int CheckPlace(const fs::path& at, bool isTarget, bool overwrite, std::string& error) {
    NodeKind kind;
    if (!GetNodeKind(at, kind, error)) {
        error = "cannot examine " + Quoted(at.u8string()) + ": " + error;
        return ExitDamaged;
    }
    if (kind == NodeKind::Missing || (kind == NodeKind::Folder && !isTarget) ||
        (kind == NodeKind::File && isTarget && overwrite))
        return ExitOk;
    if (kind == NodeKind::Link)
        error = Quoted(at.u8string()) + " is a symbolic link; extract never follows one";
    else if (kind == NodeKind::File && isTarget)
        error = Quoted(at.u8string()) + " exists; --overwrite replaces it";
    else
        error = Quoted(at.u8string()) + " is in the way: a " + (isTarget ? "file" : "folder") +
                " goes there";
    return ExitUsage;
}

// Every folder below DIR on the way to each target, and the target itself, before
// anything is written.
int CheckTargets(const Package& package, Extraction& run) {
    for (const PlannedEntry& entry : package.plan.entries) {
        if (!entry.installed) continue;
        const fs::path relative = TargetOf(fs::path(), entry);
        fs::path at = run.folder;
        for (auto part = relative.begin(); part != relative.end(); ++part) {
            at /= *part;
            const bool isTarget = std::next(part) == relative.end();
            const int code = CheckPlace(at, isTarget, run.overwrite, run.error);
            if (code != ExitOk) return code;
        }
    }
    return ExitOk;
}

bool WriteEntry(const PlannedEntry& entry, const EntryCheck& checked, Progress& progress,
                Extraction& run) {
    const fs::path target = TargetOf(run.folder, entry);
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    if (ec) {
        run.error =
            "cannot create " + Quoted(target.parent_path().u8string()) + ": " + ec.message();
        return false;
    }
    TemporaryFile out(target);
    if (!out.Create(run.error)) return false;
    out.file().Reserve(entry.size);
    uint64_t checksum = 0;
    const StreamResult result =
        run.package.Seek(static_cast<int64_t>(ArchiveOffset + entry.offset))
            ? StreamWithChecksum(run.package, entry.size, &out.file(), checksum, progress)
            : StreamResult::ReadShort;
    if (result == StreamResult::WriteFailed) {
        run.error = out.WriteError();
        return false;
    }
    // The package was sound when checked; different bytes now mean it changed since.
    if (result != StreamResult::Done || checksum != checked.checksum) {
        run.error = "entry " + Quoted(entry.name) + " changed while it was extracted";
        return false;
    }
    // A read-only file is replaced all the same, as the updater replaces one; it keeps its
    // attribute if the move fails.
    const uint32_t attributes = GetAttributesAt(target.u16string().c_str());
    const bool readOnly = run.overwrite && attributes != NoFileAttributes &&
                          (attributes & AttributeReadOnly) &&
                          !(attributes & (AttributeDirectory | AttributeReparsePoint));
    if (readOnly) SetAttributesAt(target.u16string().c_str(), AttributeNormal);
    if (out.PutInPlace(run.overwrite, run.error)) return true;
    if (readOnly) SetAttributesAt(target.u16string().c_str(), attributes);
    return false;
}

// Names each damaged entry and why, as verify does, then refuses the whole package.
int Refuse(const std::string& package, const PackagePlan& plan, const PackageCheck& check) {
    for (size_t i = 0; i < check.entries.size(); ++i)
        if (check.entries[i].status == EntryStatus::Damaged)
            std::fprintf(stderr, "upkg: entry %s: %s\n", Quoted(plan.entries[i].name).c_str(),
                         check.entries[i].problem.c_str());
    for (const std::string& problem : check.problems)
        std::fprintf(stderr, "upkg: %s\n", problem.c_str());
    return Fail(ExitDamaged, Quoted(package) + " is damaged; nothing was written");
}

}  // namespace

int RunExtract(const Arguments& args) {
    if (args.positional.size() != 2) return UsageError("extract", "name PACKAGE.exe and DIR");
    CFileDX file;
    Package package;
    std::string error;
    if (!OpenPackage(args.positional[0], file, package, error)) return Fail(ExitDamaged, error);
    Extraction run{file, fs::u8path(args.positional[1]), args.Has("--overwrite"), {}};
    PackageCheck check;
    {
        Progress checking(DataSize(package), args.Quiet() || args.Verbose());
        check = CheckPackage(file, package, checking);
    }
    if (check.damaged) return Refuse(args.positional[0], package.plan, check);
    // DIR itself is the publisher's to choose, a link included.
    std::error_code ec;
    if (fs::exists(run.folder, ec) && !fs::is_directory(run.folder, ec))
        return Fail(ExitUsage, Quoted(args.positional[1]) + " is not a folder");
    if (const int code = CheckTargets(package, run); code != ExitOk) return Fail(code, run.error);

    size_t written = 0;
    Progress progress(DataSize(package), args.Quiet() || args.Verbose());
    for (size_t i = 0; i < package.plan.entries.size(); ++i) {
        const PlannedEntry& entry = package.plan.entries[i];
        if (!entry.installed) continue;
        if (args.Verbose()) std::printf("%s\n", entry.destination.c_str());
        if (!WriteEntry(entry, check.entries[i], progress, run))
            return Fail(ExitDamaged, run.error);
        ++written;
    }
    if (!args.Quiet())
        std::printf("%zu files extracted to %s\n", written, args.positional[1].c_str());
    return ExitOk;
}
