#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>

#include "package/file.h"
#include "package/hash_list.h"
#include "package/install_path.h"
#include "text/encoding.h"
#include "tools/upkg/inspect.h"
#include "tools/upkg/progress.h"
#include "tools/upkg/report.h"
#include "tools/upkg/stream.h"
#include "tools/upkg/subcommands.h"

namespace upkg {

namespace fs = std::filesystem;

namespace {

enum class FileStatus { Ok, Damaged, Missing, Ambiguous };
const char* const StatusNames[] = {"ok", "damaged", "missing", "ambiguous"};

// A name as Windows compares it: UTF-16, ASCII case ignored.
std::u16string Folded(std::u16string name) {
    for (char16_t& c : name)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    return name;
}

// The names in each folder read so far, folded, with their paths: a folder is read once
// however many records lead through it.
using Listings = std::map<fs::path, std::vector<std::pair<std::u16string, fs::path>>>;

// Where a record leads: one file, none, or several whose names differ only in case, which
// a file system that tells case apart can hold and Windows cannot tell apart.
struct Found {
    FileStatus status = FileStatus::Ok;
    fs::path path;
    std::string problem;
};

// The entries of `folder` that Windows would take for `name`.
std::vector<fs::path> Matches(const fs::path& folder, const std::string& name, Listings& read) {
    if (!read.count(folder)) {
        auto& names = read[folder];
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
            names.emplace_back(Folded(package::FromSystemPath(it->path().filename())), it->path());
    }
    const std::u16string wanted = Folded(package::FromSystemPath(fs::u8path(name)));
    std::vector<fs::path> found;
    for (const auto& [folded, path] : read[folder])
        if (folded == wanted) found.push_back(path);
    std::sort(found.begin(), found.end());
    return found;
}

// The file a record's path names below `folder`: '\\' or '/' between components.
Found FindRecordedFile(const fs::path& folder, const std::string& recorded, Listings& read) {
    Found found{FileStatus::Ok, folder, {}};
    for (size_t start = 0; start <= recorded.size();) {
        const size_t end = std::min(recorded.find_first_of("\\/", start), recorded.size());
        const std::vector<fs::path> matches =
            Matches(found.path, recorded.substr(start, end - start), read);
        if (matches.empty()) return {FileStatus::Missing, {}, {}};
        if (matches.size() > 1)
            return {FileStatus::Ambiguous,
                    {},
                    Quoted(matches[0]) + " and " + Quoted(matches[1]) +
                        " differ only in case, which Windows does not tell apart"};
        found.path = matches[0];
        start = end + 1;
    }
    return found;
}

// Where the record leads, or why it leads nowhere Windows would go.
Found Locate(const fs::path& folder, const package::HashListEntry& record, Listings& read) {
    switch (package::CheckInstallPath(record.path.c_str())) {
        case package::InstallPathProblem::None:
            return FindRecordedFile(folder, record.path, read);
        case package::InstallPathProblem::LeavesFolder:
            return {FileStatus::Damaged, {}, "the path leaves the folder"};
        case package::InstallPathProblem::ForbiddenCharacter:
            return {FileStatus::Damaged,
                    {},
                    "the path holds a character Windows does not allow in a name"};
    }
    return {};
}

void CheckFile(const package::HashListEntry& record, Progress& progress, Found& found) {
    package::CFileDX file;
    uint64_t size = 0, checksum = 0;
    if (!file.OpenForRead(package::FromSystemPath(found.path).c_str()) ||
        !file.GetFullSize(&size) ||
        StreamWithChecksum(file, size, nullptr, checksum, progress) != StreamResult::Done) {
        found = {FileStatus::Damaged, {}, "cannot be read: " + ReadProblem(file)};
    } else if (checksum != record.value) {
        found = {FileStatus::Damaged,
                 {},
                 "checksum " + ChecksumHex(checksum) + ", expected " + ChecksumHex(record.value)};
    }
}

bool LoadList(const fs::path& folder, Listings& read, package::HashListHeader& header,
              std::vector<package::HashListEntry>& records, std::string& error) {
    const std::vector<fs::path> found = Matches(folder, package::HashListName, read);
    if (found.size() > 1) {
        error = Quoted(found[0]) + " and " + Quoted(found[1]) +
                " differ only in case: which is the hash list is not clear";
        return false;
    }
    const fs::path path = found.empty() ? folder / package::HashListName : found[0];
    package::CFileDX file;
    if (!file.OpenForRead(package::FromSystemPath(path).c_str())) {
        error = "cannot open " + Quoted(path) + ": " + file.LastErrorText();
        return false;
    }
    if (package::ReadHashList(header, records, file)) return true;
    error = Quoted(path) + " is not a readable hash list";
    return false;
}

// The record's line: trouble always, all when verbose; empty when there is none.
std::string RecordLine(const Arguments& args, const package::HashListEntry& record,
                       const Found& found) {
    const std::string path = Shown(record.path);
    switch (found.status) {
        case FileStatus::Ok:
            return args.Verbose() ? "ok " + path + "\n" : "";
        case FileStatus::Missing:
            return "MISSING " + path + "\n";
        case FileStatus::Damaged:
            return "DAMAGED " + path + ": " + found.problem + "\n";
        case FileStatus::Ambiguous:
            return "AMBIGUOUS " + path + ": " + found.problem + "\n";
    }
    return "";
}

}  // namespace

int RunCheck(const Arguments& args) {
    if (args.positional.size() != 1) return UsageError("check", "name one FOLDER");
    const fs::path folder = fs::u8path(args.positional[0]);
    package::HashListHeader header;
    std::vector<package::HashListEntry> records;
    std::string error;
    Listings read;
    if (!LoadList(folder, read, header, records, error)) return Fail(ExitDamaged, error);

    // Every record is found first, so that progress knows the whole.
    std::vector<Found> found;
    uint64_t total = 0;
    for (const package::HashListEntry& record : records) {
        found.push_back(Locate(folder, record, read));
        std::error_code ec;
        const uintmax_t size = fs::file_size(found.back().path, ec);
        if (!ec && found.back().status == FileStatus::Ok) total += size;
    }
    const bool json = args.Has("--json");
    if (json)
        std::printf(
            "{\"folder\": %s, \"list\": \"%s\", \"files\": [",
            JsonString(args.positional[0]).c_str(),
            std::memcmp(header.magic, package::HashListMagicV2, package::HashListMagicSize) == 0
                ? "v2"
                : "v1");
    size_t counts[4] = {};
    Progress progress(total, json || args.Quiet() || args.Verbose());
    for (size_t i = 0; i < records.size(); ++i) {
        if (found[i].status == FileStatus::Ok) CheckFile(records[i], progress, found[i]);
        const int status = static_cast<int>(found[i].status);
        ++counts[status];
        if (!json) progress.Print(RecordLine(args, records[i], found[i]));
        if (json)
            std::printf("%s\n  {\"path\": %s, \"status\": \"%s\"}", i ? "," : "",
                        JsonString(records[i].path).c_str(), StatusNames[status]);
    }
    progress.Clear();
    const bool sound = counts[0] == records.size();
    if (json)
        std::printf("%s]}\n", records.empty() ? "" : "\n");
    else if (!args.Quiet())
        std::printf("%zu files: %zu ok, %zu damaged, %zu missing, %zu ambiguous; %s\n",
                    records.size(), counts[0], counts[1], counts[2], counts[3],
                    sound ? "OK" : "DAMAGED");
    return sound ? ExitOk : ExitDamaged;
}

}  // namespace upkg
