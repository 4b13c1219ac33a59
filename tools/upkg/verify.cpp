#include "tools/upkg/verify.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "tools/upkg/progress.h"
#include "tools/upkg/report.h"
#include "tools/upkg/stream.h"
#include "tools/upkg/subcommands.h"
#include "tools/upkg/windows_program.h"

namespace upkg {

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
void CheckPlan(const package::PackagePlan& plan, PackageCheck& check) {
    size_t unsafe = 0;
    switch (package::CheckPackagePlan(plan, &unsafe)) {
        case package::PlanProblem::None:
            break;
        case package::PlanProblem::UnsafePath:
            MarkDamaged(check.entries[unsafe], "it would be installed at " +
                                                   Quoted(plan.entries[unsafe].destination) +
                                                   ", outside the installation folder");
            break;
        case package::PlanProblem::ForbiddenName:
            MarkDamaged(check.entries[unsafe], "it would be installed at " +
                                                   Quoted(plan.entries[unsafe].destination) +
                                                   ", a name Windows does not allow");
            break;
        case package::PlanProblem::TooManyEntries:
            check.problems.push_back(std::to_string(plan.entries.size()) +
                                     " entries; the updater takes at most " +
                                     std::to_string(package::MaximumEntries));
            break;
        case package::PlanProblem::Collision:
            MarkDamaged(check.entries[unsafe], "it would write the file " +
                                                   Quoted(plan.entries[unsafe].destination) +
                                                   " that another entry or the updater writes too");
            break;
    }
}

// One flipped byte in a record's path leaves its file without a record and the record
// without a file: the second is the mark of damage.
void CheckRecordsUsed(const package::PackagePlan& plan, PackageCheck& check) {
    std::vector<bool> used(plan.records.size(), false);
    for (const package::PlannedEntry& entry : plan.entries)
        if (const package::HashListEntry* record =
                package::FindRecordForEntry(plan.records, entry.name))
            used[static_cast<size_t>(record - plan.records.data())] = true;
    for (size_t i = 0; i < used.size(); ++i)
        if (!used[i])
            check.problems.push_back("the record " + Quoted(plan.records[i].path) +
                                     " of the hash list matches no entry");
}

void CheckData(package::CFileDX& file, const package::PlannedEntry& entry, Progress& progress,
               EntryCheck& check) {
    if (!file.Seek(static_cast<int64_t>(package::ArchiveOffset + entry.offset)) ||
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

PackageCheck CheckPackage(package::CFileDX& file, const Package& package, Progress& progress,
                          const std::function<void(size_t, const EntryCheck&)>& checked) {
    const package::PackagePlan& plan = package.plan;
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

// What stands behind the archive: a signature that signing tools appended, or other bytes.
struct Trailer {
    std::optional<CertificateTable> signature;
    uint64_t bytes = 0;
};

Trailer ReadTrailer(package::CFileDX& file, const Package& package) {
    Trailer trailer;
    uint8_t headers[4096];
    uint64_t size = 0;
    if (!file.GetFullSize(&size) || !file.Seek(0)) return trailer;
    trailer.signature = FindCertificateTable(headers, file.Read(headers, sizeof headers));
    trailer.bytes = size - std::min(size, ArchiveEnd(package));
    return trailer;
}

std::string SignatureJson(const Trailer& trailer) {
    if (!trailer.signature) return "null";
    return "{\"offset\": " + std::to_string(trailer.signature->offset) +
           ", \"size\": " + std::to_string(trailer.signature->size) + "}";
}

void PrintJson(const Package& package, const PackageCheck& check, const Trailer& trailer) {
    std::printf(
        "{\"title\": %s, \"format\": %s, \"signature\": %s, \"after_archive\": %llu, "
        "\"entries\": [",
        JsonString(package.title).c_str(), JsonString(package.format).c_str(),
        SignatureJson(trailer).c_str(), static_cast<unsigned long long>(trailer.bytes));
    for (size_t i = 0; i < check.entries.size(); ++i) {
        const package::PlannedEntry& entry = package.plan.entries[i];
        std::printf("%s\n  {\"name\": %s, \"path\": %s, \"status\": \"%s\"}", i ? "," : "",
                    JsonString(entry.name).c_str(), JsonString(entry.destination).c_str(),
                    StatusName(check.entries[i].status));
    }
    std::printf("%s], \"problems\": [", check.entries.empty() ? "" : "\n");
    for (size_t i = 0; i < check.problems.size(); ++i)
        std::printf("%s%s", i ? ", " : "", JsonString(check.problems[i]).c_str());
    std::printf("]}\n");
}

// One entry's line as it is checked: damage always, notes unless quiet, all when verbose;
// empty when there is none.
std::string EntryLine(const Arguments& args, const package::PlannedEntry& entry,
                      const EntryCheck& check) {
    if (check.status == EntryStatus::Damaged)
        return "FAILED " + Shown(entry.name) + ": " + check.problem + "\n";
    if (check.status == EntryStatus::Unrecorded && !args.Quiet())
        return "UNRECORDED " + Shown(entry.name) +
               ": no record in the hash list; installed unverified as " +
               Quoted(entry.destination) + "\n";
    if (check.status == EntryStatus::Ok && args.Verbose())
        return "ok " + Shown(entry.name) + " -> " + Shown(entry.destination) + "\n";
    return "";
}

}  // namespace

int RunVerify(const Arguments& args) {
    if (args.positional.size() != 1) return UsageError("verify", "name one PACKAGE.exe");
    package::CFileDX file;
    Package package;
    if (!OpenNamedPackage(args, file, package)) return ExitDamaged;
    const bool json = args.Has("--json");
    Progress progress(DataSize(package), args.Quiet() || args.Verbose());
    const PackageCheck check =
        CheckPackage(file, package, progress, [&](size_t i, const EntryCheck& entry) {
            if (!json) progress.Print(EntryLine(args, package.plan.entries[i], entry));
        });
    progress.Clear();
    const Trailer trailer = ReadTrailer(file, package);
    if (json) {
        PrintJson(package, check, trailer);
        return check.damaged ? ExitDamaged : ExitOk;
    }
    size_t verified = 0, unrecorded = 0;
    for (const EntryCheck& entry : check.entries) {
        verified += entry.status == EntryStatus::Ok;
        unrecorded += entry.status == EntryStatus::Unrecorded;
    }
    for (const std::string& problem : check.problems) std::printf("FAILED: %s\n", problem.c_str());
    if (args.Quiet()) return check.damaged ? ExitDamaged : ExitOk;
    if (trailer.signature)
        std::printf("signed: a certificate table of %u bytes at %u\n", trailer.signature->size,
                    trailer.signature->offset);
    else
        std::printf("signed: no\n");
    std::printf("%llu bytes behind the archive\n", static_cast<unsigned long long>(trailer.bytes));
    std::printf("%zu entries: %zu verified, %zu without a record; %s\n", check.entries.size(),
                verified, unrecorded, check.damaged ? "DAMAGED" : "OK");
    return check.damaged ? ExitDamaged : ExitOk;
}

}  // namespace upkg
