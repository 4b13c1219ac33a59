#include <cstdio>
#include <filesystem>
#include <optional>
#include <vector>

#include "text/convert.h"
#include "tools/upkg/progress.h"
#include "tools/upkg/report.h"
#include "tools/upkg/stream.h"
#include "tools/upkg/subcommands.h"
#include "tools/upkg/temporary_file.h"
#include "tools/upkg/verify.h"

namespace upkg {

namespace fs = std::filesystem;

namespace {

struct Extraction {
    package::CFileDX& package;
    package::HeldFolder folder;  // DIR, held from before the first check to the end
    const std::string shownFolder;
    const bool overwrite;
    std::string error;
};

// The names along an entry's install path, which holds '\\' between folders; none when the
// path is not text.
std::vector<std::u16string> NamesOf(const package::PlannedEntry& entry) {
    const std::optional<std::u16string> path = text::NarrowToWide(entry.destination.c_str());
    if (!path) return {};
    std::vector<std::u16string> names(1);
    for (char16_t c : *path) {
        if (c == u'\\')
            names.emplace_back();
        else
            names.back() += c;
    }
    return names;
}

// The first `count` names of the install path below DIR, for messages.
std::string ShownBelow(const Extraction& run, const package::PlannedEntry& entry, size_t count) {
    std::string path = run.shownFolder;
    size_t start = 0;
    for (size_t i = 0; i < count; ++i) {
        const size_t end = entry.destination.find('\\', start);
        path += "/" + entry.destination.substr(start, end - start);
        start = end + 1;
    }
    return path;
}

// What stands at one place on the way to a target: ExitOk when it may be used, else the
// exit code with the reason in `error`.
int CheckPlace(uint32_t attributes, bool isTarget, const std::string& shown, Extraction& run) {
    if (attributes == package::NoFileAttributes) return ExitOk;
    const bool folder = (attributes & package::AttributeDirectory) != 0;
    if (attributes & package::AttributeReparsePoint)
        run.error = shown + " is a symbolic link; extract never follows one";
    else if (folder == isTarget)
        run.error = shown + " is in the way: a " + (isTarget ? "file" : "folder") + " goes there";
    else if (isTarget && !run.overwrite)
        run.error = shown + " exists; --overwrite replaces it";
    else
        return ExitOk;
    return ExitUsage;
}

// Every folder below DIR on the way to each target, and the target itself, before anything
// is written: nothing there may be a link, and a file to be replaced must be replaceable.
int CheckTargets(const Package& package, Extraction& run) {
    for (const package::PlannedEntry& entry : package.plan.entries) {
        if (!entry.installed) continue;
        const std::vector<std::u16string> names = NamesOf(entry);
        if (names.empty()) {
            run.error = "entry " + Quoted(entry.name) + ": its install path is not text";
            return ExitDamaged;
        }
        package::HeldFolder below;  // not open: DIR itself
        for (size_t i = 0; i < names.size(); ++i) {
            const package::HeldFolder& at = below.IsOpen() ? below : run.folder;
            const bool isTarget = i + 1 == names.size();
            const uint32_t attributes = at.AttributesOf(names[i].c_str());
            const std::string shown = Quoted(ShownBelow(run, entry, i + 1));
            if (const int code = CheckPlace(attributes, isTarget, shown, run); code != ExitOk)
                return code;
            if (attributes == package::NoFileAttributes) break;  // made when written
            if (isTarget && !at.CanReplace(names[i].c_str())) {
                run.error = shown + " cannot be replaced: " + package::SystemErrorText();
                return ExitDamaged;
            }
            package::HeldFolder next;
            if (!isTarget && !next.OpenIn(at, names[i].c_str(), false)) {
                run.error = "cannot open " + shown + ": " + package::SystemErrorText();
                return ExitDamaged;
            }
            below = std::move(next);
        }
    }
    return ExitOk;
}

// Holds in `below` the folder that receives the entry, each folder on the way below DIR made
// when missing and never a link; `below` stays closed for an entry in DIR itself.
bool HoldWay(Extraction& run, const package::PlannedEntry& entry,
             const std::vector<std::u16string>& names, package::HeldFolder& below) {
    for (size_t i = 0; i + 1 < names.size(); ++i) {
        package::HeldFolder next;
        if (!next.OpenIn(below.IsOpen() ? below : run.folder, names[i].c_str(), true)) {
            run.error =
                "cannot create " + Quoted(ShownBelow(run, entry, i + 1)) +
                " (a folder goes there, never through a link): " + package::SystemErrorText();
            return false;
        }
        below = std::move(next);
    }
    return true;
}

bool WriteEntry(const package::PlannedEntry& entry, const EntryCheck& checked, Progress& progress,
                Extraction& run) {
    const std::vector<std::u16string> names = NamesOf(entry);
    package::HeldFolder below;
    if (!HoldWay(run, entry, names, below)) return false;
    const package::HeldFolder& folder = below.IsOpen() ? below : run.folder;
    const std::u16string& name = names.back();
    TemporaryFile out(folder, name, ShownBelow(run, entry, names.size()));
    if (!out.Create(run.error)) return false;
    out.file().Reserve(entry.size);
    uint64_t checksum = 0;
    const StreamResult result =
        run.package.Seek(static_cast<int64_t>(package::ArchiveOffset + entry.offset))
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
    const uint32_t attributes = folder.AttributesOf(name.c_str());
    const bool readOnly =
        run.overwrite && attributes != package::NoFileAttributes &&
        (attributes & package::AttributeReadOnly) &&
        !(attributes & (package::AttributeDirectory | package::AttributeReparsePoint));
    if (readOnly) folder.SetAttributesOf(name.c_str(), package::AttributeNormal);
    if (out.PutInPlace(run.overwrite, run.error)) return true;
    if (readOnly) folder.SetAttributesOf(name.c_str(), attributes);
    return false;
}

// Names each damaged entry and why, as verify does, then refuses the whole package.
int Refuse(const std::string& package, const package::PackagePlan& plan,
           const PackageCheck& check) {
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
    package::CFileDX file;
    Package package;
    if (!OpenNamedPackage(args, file, package)) return ExitDamaged;
    Extraction run{file, {}, args.positional[1], args.Has("--overwrite"), {}};
    // One line for the whole work: every entry is read to check it, then again to write it.
    Progress progress(2 * DataSize(package), args.Quiet() || args.Verbose());
    const PackageCheck check = CheckPackage(file, package, progress);
    if (check.damaged) {
        progress.Clear();
        return Refuse(args.positional[0], package.plan, check);
    }
    // DIR itself is the publisher's to choose, a link included.
    const fs::path folder = fs::u8path(args.positional[1]);
    std::error_code ec;
    if (fs::exists(folder, ec) && !fs::is_directory(folder, ec))
        return Fail(ExitUsage, Quoted(folder) + " is not a folder");
    fs::create_directories(folder, ec);
    if (!run.folder.Open(package::FromSystemPath(folder).c_str(),
                         package::HeldFolder::Links::Follow))
        return Fail(ExitDamaged,
                    "cannot create " + Quoted(folder) + ": " + package::SystemErrorText());
    if (const int code = CheckTargets(package, run); code != ExitOk) return Fail(code, run.error);

    size_t written = 0;
    for (size_t i = 0; i < package.plan.entries.size(); ++i) {
        const package::PlannedEntry& entry = package.plan.entries[i];
        if (!entry.installed) continue;
        if (args.Verbose()) std::printf("%s\n", Shown(entry.destination).c_str());
        if (!WriteEntry(entry, check.entries[i], progress, run))
            return Fail(ExitDamaged, run.error);
        ++written;
        if (BetweenFilesHook != nullptr) BetweenFilesHook();
    }
    progress.Clear();
    if (!args.Quiet())
        std::printf("%zu files extracted to %s\n", written, Shown(args.positional[1]).c_str());
    return ExitOk;
}

}  // namespace upkg
