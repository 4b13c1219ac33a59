#include "package/package_plan.h"

#include "package/file.h"
#include "package/install_path.h"
#include "package/update_package.h"
#include "text/encoding.h"

namespace {

bool IsHashListName(const std::string& name) {
    return Lowercased(name) == HashListName;
}

}  // namespace

bool ReadPackagePlan(CFileDX& file, PackagePlan& plan) {
    PackagePlan read;
    std::vector<ArchiveEntry> entries;
    if (!file.Seek(ArchiveOffset) || !ReadArchiveIndex(read.header, entries, file)) return false;

    // A package without a readable hash list installs every entry under its own name.
    for (const ArchiveEntry& entry : entries) {
        if (!IsHashListName(entry.name)) continue;
        HashListHeader listHeader;
        read.hasHashList = true;
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
        if (!planned.installed || IsSafeInstallPath(planned.destination.c_str())) continue;
        if (entry != nullptr) *entry = i;
        return PlanProblem::UnsafePath;
    }
    return plan.entries.size() > MaximumEntries ? PlanProblem::TooManyEntries : PlanProblem::None;
}
