#include "tools/upkg/verify.h"

#include <cstdio>

#include "tools/upkg/progress.h"
#include "tools/upkg/report.h"
#include "tools/upkg/stream.h"
#include "tools/upkg/subcommands.h"

namespace {

const char* StatusName(EntryStatus status) {
    return status == EntryStatus::Ok        ? "ok"
           : status == EntryStatus::Damaged ? "damaged"
                                            : "unrecorded";
}

void MarkDamaged(EntryCheck& entry, const std::string& problem) {
    if (entry.status == EntryStatus::Damaged) return;
    entry.status = EntryStatus::Damaged;
    entry.problem = problem;
}

// The refusals of the shared plan, on the entry they concern when there is one.
void CheckPlan(const PackagePlan& plan, PackageCheck& check) {
    size_t unsafe = 0;
    switch (CheckPackagePlan(plan, &unsafe)) {
        case PlanProblem::None:
            break;
        case PlanProblem::UnsafePath:
            MarkDamaged(check.entries[unsafe], "it would be installed at " +
                                                   Quoted(plan.entries[unsafe].destination) +
                                                   ", outside the installation folder");
            break;
        case PlanProblem::ForbiddenName:
            MarkDamaged(check.entries[unsafe], "it would be installed at " +
                                                   Quoted(plan.entries[unsafe].destination) +
                                                   ", a name Windows does not allow");
            break;
        case PlanProblem::TooManyEntries:
            check.problems.push_back(std::to_string(plan.entries.size()) +
                                     " entries; the updater takes at most " +
                                     std::to_string(MaximumEntries));
            break;
        case PlanProblem::Collision:
            MarkDamaged(check.entries[unsafe], "it would write the file " +
                                                   Quoted(plan.entries[unsafe].destination) +
                                                   " that another entry or the updater writes too");
            break;
    }
}

// One flipped byte in a record's path leaves its file without a record and the record
// without a file: the second is the mark of damage.
void CheckRecordsUsed(const PackagePlan& plan, PackageCheck& check) {
    std::vector<bool> used(plan.records.size(), false);
    for (const PlannedEntry& entry : plan.entries)
        if (const HashListEntry* record = FindRecordForEntry(plan.records, entry.name))
            used[static_cast<size_t>(record - plan.records.data())] = true;
    for (size_t i = 0; i < used.size(); ++i)
        if (!used[i])
            check.problems.push_back("the record " + Quoted(plan.records[i].path) +
                                     " of the hash list matches no entry");
}

void CheckData(CFileDX& file, const PlannedEntry& entry, Progress& progress, EntryCheck& check) {
    if (!file.Seek(static_cast<int64_t>(ArchiveOffset + entry.offset)) ||
        StreamWithChecksum(file, entry.size, nullptr, check.checksum, progress) !=
            StreamResult::Done) {
        MarkDamaged(check, "its data is cut short");
    } else if (entry.expected && *entry.expected != check.checksum) {
        MarkDamaged(check, "checksum " + ChecksumHex(check.checksum) + ", expected " +
                               ChecksumHex(*entry.expected));
    } else if (!entry.expected && entry.installed && check.status == EntryStatus::Ok) {
        check.status = EntryStatus::Unrecorded;
    }
}

}  // namespace

PackageCheck CheckPackage(CFileDX& file, const Package& package, Progress& progress,
                          const std::function<void(size_t, const EntryCheck&)>& checked) {
    const PackagePlan& plan = package.plan;
    PackageCheck check;
    check.entries.resize(plan.entries.size());
    CheckPlan(plan, check);
    CheckRecordsUsed(plan, check);
    for (size_t i = 0; i < plan.entries.size(); ++i) {
        // An unreadable list leaves every entry without a record, the list among them.
        if (plan.hashListDamaged && !plan.entries[i].installed)
            MarkDamaged(check.entries[i], "the hash list cannot be read");
        CheckData(file, plan.entries[i], progress, check.entries[i]);
        if (check.entries[i].status == EntryStatus::Damaged) check.damaged = true;
        if (checked) checked(i, check.entries[i]);
    }
    check.damaged = check.damaged || !check.problems.empty();
    return check;
}

namespace {

void PrintJson(const Package& package, const PackageCheck& check) {
    std::printf("{\"title\": %s, \"format\": %s, \"entries\": [", JsonString(package.title).c_str(),
                JsonString(package.format).c_str());
    for (size_t i = 0; i < check.entries.size(); ++i) {
        const PlannedEntry& entry = package.plan.entries[i];
        std::printf("%s\n  {\"name\": %s, \"path\": %s, \"status\": \"%s\"}", i ? "," : "",
                    JsonString(entry.name).c_str(), JsonString(entry.destination).c_str(),
                    StatusName(check.entries[i].status));
    }
    std::printf("%s], \"problems\": [", check.entries.empty() ? "" : "\n");
    for (size_t i = 0; i < check.problems.size(); ++i)
        std::printf("%s%s", i ? ", " : "", JsonString(check.problems[i]).c_str());
    std::printf("]}\n");
}

// One entry's line as it is checked: damage always, notes unless quiet, all when verbose.
void PrintEntry(const Arguments& args, const PlannedEntry& entry, const EntryCheck& check) {
    if (check.status == EntryStatus::Damaged)
        std::printf("FAILED %s: %s\n", entry.name.c_str(), check.problem.c_str());
    else if (check.status == EntryStatus::Unrecorded && !args.Quiet())
        std::printf("UNRECORDED %s: no record in the hash list; installed unverified as %s\n",
                    entry.name.c_str(), Quoted(entry.destination).c_str());
    else if (check.status == EntryStatus::Ok && args.Verbose())
        std::printf("ok %s -> %s\n", entry.name.c_str(), entry.destination.c_str());
}

}  // namespace

int RunVerify(const Arguments& args) {
    if (args.positional.size() != 1) return UsageError("verify", "name one PACKAGE.exe");
    CFileDX file;
    Package package;
    std::string error;
    if (!OpenPackage(args.positional[0], file, package, error)) return Fail(ExitDamaged, error);
    const bool json = args.Has("--json");
    Progress progress(DataSize(package), args.Quiet() || args.Verbose());
    const PackageCheck check =
        CheckPackage(file, package, progress, [&](size_t i, const EntryCheck& entry) {
            if (!json) PrintEntry(args, package.plan.entries[i], entry);
        });
    if (json) {
        PrintJson(package, check);
        return check.damaged ? ExitDamaged : ExitOk;
    }
    size_t verified = 0, unrecorded = 0;
    for (const EntryCheck& entry : check.entries) {
        verified += entry.status == EntryStatus::Ok;
        unrecorded += entry.status == EntryStatus::Unrecorded;
    }
    for (const std::string& problem : check.problems) std::printf("FAILED: %s\n", problem.c_str());
    if (!args.Quiet())
        std::printf("%zu entries: %zu verified, %zu without a record; %s\n", check.entries.size(),
                    verified, unrecorded, check.damaged ? "DAMAGED" : "OK");
    return check.damaged ? ExitDamaged : ExitOk;
}
