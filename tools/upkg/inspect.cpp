#include "tools/upkg/inspect.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "package/update_package.h"
#include "text/convert.h"
#include "tools/upkg/report.h"
#include "tools/upkg/subcommands.h"

namespace upkg {

bool OpenPackage(const std::string& path, package::CFileDX& file, Package& package,
                 std::string& error) {
    const std::u16string widePath = package::FromSystemPath(std::filesystem::u8path(path));
    if (!file.OpenForRead(widePath.c_str())) {
        error = "cannot open " + Quoted(path) + ": " + file.LastErrorText();
        return false;
    }
    char16_t title[package::TitleCapacity];
    uint64_t size = 0;
    if (!file.GetFullSize(&size) || size < package::ArchiveOffset ||
        !package::ReadPackageTitle(widePath.c_str(), title)) {
        error = Quoted(path) + " holds no update package";
        return false;
    }
    Package read;
    if (!package::ReadPackagePlan(file, read.plan)) {
        error = "the archive index of " + Quoted(path) + " cannot be read";
        return false;
    }
    read.title = text::WideToNarrow(title, text::ConversionMode::ToUtf8).value_or("");
    read.format =
        std::memcmp(read.plan.header.magic, package::Arc20Magic, package::ArchiveMagicSize) == 0
            ? "ARC20"
            : "PackFile";
    package = std::move(read);
    return true;
}

bool OpenNamedPackage(const Arguments& args, package::CFileDX& file, Package& package) {
    std::string error;
    if (OpenPackage(args.positional[0], file, package, error)) return true;
    Fail(ExitDamaged, error);
    return false;
}

uint64_t DataSize(const Package& package) {
    uint64_t total = 0;
    for (const package::PlannedEntry& entry : package.plan.entries) total += entry.size;
    return total;
}

uint64_t ArchiveEnd(const Package& package) {
    const package::IndexLayout& layout =
        package.format == "ARC20" ? package::Arc20Layout : package::PackFileLayout;
    uint64_t end =
        sizeof(package::ArchiveHeader) + uint64_t{package.plan.header.count} * layout.entrySize;
    for (const package::PlannedEntry& entry : package.plan.entries)
        end = std::max(end, entry.offset + entry.size);
    return package::ArchiveOffset + end;
}

std::string ChecksumHex(uint64_t value) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (int i = 0; i < 8; ++i) {
        const unsigned byte = (value >> (8 * i)) & 0xFF;
        hex += digits[byte >> 4];
        hex += digits[byte & 15];
    }
    return hex;
}

namespace {

void ListJson(const Package& package) {
    std::printf("{\"title\": %s, \"format\": %s, \"entries\": [", JsonString(package.title).c_str(),
                JsonString(package.format).c_str());
    const char* separator = "";
    for (const package::PlannedEntry& entry : package.plan.entries) {
        std::printf(
            "%s\n  {\"name\": %s, \"offset\": %llu, \"size\": %u, \"path\": %s, "
            "\"checksum\": %s}",
            separator, JsonString(entry.name).c_str(),
            static_cast<unsigned long long>(entry.offset), entry.size,
            JsonString(entry.destination).c_str(),
            entry.expected ? JsonString(ChecksumHex(*entry.expected)).c_str() : "null");
        separator = ",";
    }
    std::printf("%s]}\n", package.plan.entries.empty() ? "" : "\n");
}

void ListHeader(const Package& package, bool verbose) {
    std::printf("title:   %s\nformat:  %s\nentries: %zu\n", Shown(package.title).c_str(),
                package.format.c_str(), package.plan.entries.size());
    if (verbose && package.plan.hashListDamaged) {
        std::printf("hash list: unreadable\n");
    } else if (verbose && package.plan.hasHashList) {
        std::printf("hash list: %zu records\n", package.plan.records.size());
        for (const package::HashListEntry& record : package.plan.records)
            std::printf("  %s  %s\n", ChecksumHex(record.value).c_str(),
                        Shown(record.path).c_str());
    }
    std::printf("\n%12s %12s  %-16s  %s\n", "offset", "size", "checksum", "name -> install path");
}

}  // namespace

int RunList(const Arguments& args) {
    if (args.positional.size() != 1) return UsageError("list", "name one PACKAGE.exe");
    package::CFileDX file;
    Package package;
    if (!OpenNamedPackage(args, file, package)) return ExitDamaged;
    if (args.Has("--json")) {
        ListJson(package);
        return ExitOk;
    }
    if (!args.Quiet()) ListHeader(package, args.Verbose());
    for (const package::PlannedEntry& entry : package.plan.entries) {
        std::printf("%12llu %12u  %-16s  %s", static_cast<unsigned long long>(entry.offset),
                    entry.size, entry.expected ? ChecksumHex(*entry.expected).c_str() : "none",
                    Shown(entry.name).c_str());
        if (!entry.installed)
            std::printf("  (hash list%s)", package.plan.hashListDamaged ? ", unreadable" : "");
        else
            std::printf(" -> %s", Shown(entry.destination).c_str());
        std::printf("\n");
    }
    return ExitOk;
}

}  // namespace upkg
