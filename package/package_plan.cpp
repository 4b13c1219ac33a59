#include "package/package_plan.h"

#include <algorithm>
#include <utility>

#include "package/file.h"
#include "package/install_path.h"
#include "package/update_package.h"
#include "text/encoding.h"

namespace package {

namespace {

bool IsHashListName(const std::string& name) {
    return text::Lowercased(name) == HashListName;
}

// A destination as Windows tells names apart: ASCII case folded, either slash the same.
std::string DestinationKey(const std::string& destination) {
    std::string key = text::Lowercased(destination);
    for (char& c : key)
        if (c == '/') c = '\\';
    return key;
}

}  // namespace

std::optional<size_t> FindWriteCollision(const std::vector<std::string>& destinations) {
    std::vector<std::pair<std::string, size_t>> written;  // name, and the path writing it
    // The lists' and the journal's temporary names, the uninstall list and the journal; the
    // hash list itself is the package's to update.
    for (const std::string name : {HashListName, UninstallListName, JournalName}) {
        if (name != HashListName) written.push_back({name, SIZE_MAX});
        written.push_back({name + TemporarySuffix, SIZE_MAX});
    }
    for (size_t i = 0; i < destinations.size(); ++i) {
        const std::string key = DestinationKey(destinations[i]);
        written.push_back({key, i});
        written.push_back({key + TemporarySuffix, i});
    }
    // Of two equal names at least one is a path's; a reserved name counts as SIZE_MAX.
    std::sort(written.begin(), written.end());
    for (size_t k = 1; k < written.size(); ++k)
        if (written[k].first == written[k - 1].first)
            return std::min(written[k].second, written[k - 1].second);
    return std::nullopt;
}

namespace {

// An entry that writes a file another entry writes too, or one the updater keeps; the
// only entry skipped as the hash list must be the hash list itself.
std::optional<size_t> FindCollision(const PackagePlan& plan) {
    std::vector<std::string> destinations;
    std::vector<size_t> entries;
    for (size_t i = 0; i < plan.entries.size(); ++i) {
        const PlannedEntry& entry = plan.entries[i];
        if (!entry.installed && i != plan.hashListEntry) return i;
        if (!entry.installed) continue;
        destinations.push_back(entry.destination);
        entries.push_back(i);
    }
    const std::optional<size_t> collision = FindWriteCollision(destinations);
    if (!collision) return std::nullopt;
    return entries[*collision];
}

}  // namespace

bool ReadPackagePlan(CFileDX& file, PackagePlan& plan) {
    PackagePlan read;
    std::vector<ArchiveEntry> entries;
    if (!file.Seek(ArchiveOffset) || !ReadArchiveIndex(read.header, entries, file)) return false;

    // A package without a readable hash list installs every entry under its own name.
    for (size_t i = 0; i < entries.size(); ++i) {
        const ArchiveEntry& entry = entries[i];
        if (!IsHashListName(entry.name)) continue;
        HashListHeader listHeader;
        read.hasHashList = true;
        read.hashListEntry = i;
        read.hashListDamaged = !file.Seek(static_cast<int64_t>(ArchiveOffset + entry.offset)) ||
                               !ReadHashList(listHeader, read.records, file);
        break;
    }

    for (ArchiveEntry& entry : entries) {
        PlannedEntry planned{std::move(entry.name), entry.offset, entry.size, {}, true, {}};
        planned.destination = planned.name;
        if (const HashListEntry* record = FindRecordForEntry(read.records, planned.name)) {
            planned.destination = record->path;
            planned.expected = record->value;
        }
        planned.installed = !IsHashListName(planned.destination);
        read.entries.push_back(std::move(planned));
    }
    plan = std::move(read);
    return true;
}

PlanProblem CheckPackagePlan(const PackagePlan& plan, size_t* entry) {
    // Paths first: the packer extracts packages of any size, never one that escapes.
    for (size_t i = 0; i < plan.entries.size(); ++i) {
        const PlannedEntry& planned = plan.entries[i];
        const InstallPathProblem problem = planned.installed
                                               ? CheckInstallPath(planned.destination.c_str())
                                               : InstallPathProblem::None;
        if (problem == InstallPathProblem::None) continue;
        if (entry != nullptr) *entry = i;
        return problem == InstallPathProblem::LeavesFolder ? PlanProblem::UnsafePath
                                                           : PlanProblem::ForbiddenName;
    }
    if (const std::optional<size_t> collision = FindCollision(plan)) {
        if (entry != nullptr) *entry = *collision;
        return PlanProblem::Collision;
    }
    return plan.entries.size() > MaximumEntries ? PlanProblem::TooManyEntries : PlanProblem::None;
}

}  // namespace package
