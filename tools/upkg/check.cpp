#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>

#include "package/file.h"
#include "package/hash_list.h"
#include "package/install_path.h"
#include "text/encoding.h"
#include "tools/upkg/inspect.h"
#include "tools/upkg/progress.h"
#include "tools/upkg/report.h"
#include "tools/upkg/stream.h"
#include "tools/upkg/subcommands.h"

namespace fs = std::filesystem;

namespace {

enum class FileStatus { Ok, Damaged, Missing };

// The entry of `folder` named `name` as Windows finds it, ASCII case ignored.
std::optional<fs::path> FindEntry(const fs::path& folder, const std::string& name) {
    std::error_code ec;
    const fs::path exact = folder / fs::u8path(name);
    if (fs::exists(exact, ec)) return exact;
    const std::string wanted = Lowercased(name);
    fs::directory_iterator it(folder, ec), end;
    for (; !ec && it != end; it.increment(ec))
        if (Lowercased(Shown(it->path().filename())) == wanted) return it->path();
    return std::nullopt;
}

// The file a record's path names below `folder`: '\' or '/' between components.
std::optional<fs::path> FindRecordedFile(const fs::path& folder, const std::string& recorded) {
    fs::path at = folder;
    size_t start = 0;
    while (start <= recorded.size()) {
        const size_t end = std::min(recorded.find_first_of("\\/", start), recorded.size());
        std::optional<fs::path> next = FindEntry(at, recorded.substr(start, end - start));
        if (!next) return std::nullopt;
        at = *next;
        start = end + 1;
    }
    return at;
}

FileStatus CheckRecord(const fs::path& folder, const HashListEntry& record, Progress& progress,
                       std::string& problem) {
    switch (CheckInstallPath(record.path.c_str())) {
        case InstallPathProblem::None:
            break;
        case InstallPathProblem::LeavesFolder:
            problem = "the path leaves the folder";
            return FileStatus::Damaged;
        case InstallPathProblem::ForbiddenCharacter:
            problem = "the path holds a character Windows does not allow in a name";
            return FileStatus::Damaged;
    }
    const std::optional<fs::path> path = FindRecordedFile(folder, record.path);
    if (!path) return FileStatus::Missing;
    CFileDX file;
    uint64_t size = 0, checksum = 0;
    if (!file.OpenForRead(FromSystemPath(*path).c_str()) || !file.GetFullSize(&size) ||
        StreamWithChecksum(file, size, nullptr, checksum, progress) != StreamResult::Done) {
        problem = "cannot be read: " + ReadProblem(file);
        return FileStatus::Damaged;
    }
    if (checksum == record.value) return FileStatus::Ok;
    problem = "checksum " + ChecksumHex(checksum) + ", expected " + ChecksumHex(record.value);
    return FileStatus::Damaged;
}

bool LoadList(const fs::path& folder, HashListHeader& header, std::vector<HashListEntry>& records,
              std::string& error) {
    const fs::path path = FindEntry(folder, HashListName).value_or(folder / HashListName);
    CFileDX file;
    if (!file.OpenForRead(FromSystemPath(path).c_str())) {
        error = "cannot open " + Quoted(path) + ": " + file.LastErrorText();
        return false;
    }
    if (ReadHashList(header, records, file)) return true;
    error = Quoted(path) + " is not a readable hash list";
    return false;
}

void PrintLine(const Arguments& args, const HashListEntry& record, FileStatus status,
               const std::string& problem) {
    if (status == FileStatus::Missing)
        std::printf("MISSING %s\n", record.path.c_str());
    else if (status == FileStatus::Damaged)
        std::printf("DAMAGED %s: %s\n", record.path.c_str(), problem.c_str());
    else if (args.Verbose())
        std::printf("ok %s\n", record.path.c_str());
}

}  // namespace

int RunCheck(const Arguments& args) {
    if (args.positional.size() != 1) return UsageError("check", "name one FOLDER");
    const fs::path folder = fs::u8path(args.positional[0]);
    HashListHeader header;
    std::vector<HashListEntry> records;
    std::string error;
    if (!LoadList(folder, header, records, error)) return Fail(ExitDamaged, error);

    const bool json = args.Has("--json");
    const bool v2 = std::memcmp(header.magic, HashListMagicV2, HashListMagicSize) == 0;
    if (json)
        std::printf("{\"folder\": %s, \"list\": \"%s\", \"files\": [",
                    JsonString(args.positional[0]).c_str(), v2 ? "v2" : "v1");
    size_t counts[3] = {};
    // Sizes are known only file by file, so there is no whole to show progress against.
    Progress progress(0, true);
    for (size_t i = 0; i < records.size(); ++i) {
        std::string problem;
        const FileStatus status = CheckRecord(folder, records[i], progress, problem);
        ++counts[static_cast<int>(status)];
        if (!json) PrintLine(args, records[i], status, problem);
        static const char* const names[] = {"ok", "damaged", "missing"};
        if (json)
            std::printf("%s\n  {\"path\": %s, \"status\": \"%s\"}", i ? "," : "",
                        JsonString(records[i].path).c_str(), names[static_cast<int>(status)]);
    }
    const bool sound = counts[0] == records.size();
    if (json)
        std::printf("%s]}\n", records.empty() ? "" : "\n");
    else if (!args.Quiet())
        std::printf("%zu files: %zu ok, %zu damaged, %zu missing; %s\n", records.size(), counts[0],
                    counts[1], counts[2], sound ? "OK" : "DAMAGED");
    return sound ? ExitOk : ExitDamaged;
}
