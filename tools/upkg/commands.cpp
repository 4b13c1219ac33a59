#include "tools/upkg/commands.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>

#include "package/archive_format.h"
#include "package/file.h"
#include "tools/upkg/build.h"
#include "tools/upkg/inspect.h"
#include "tools/upkg/progress.h"
#include "tools/upkg/stream.h"

namespace fs = std::filesystem;

namespace {

const char* const Usage =
    "usage: upkg COMMAND [OPTIONS]\n"
    "\n"
    "  build     make an update program from updater.exe and a folder of files\n"
    "  list      show an update program's title and entries\n"
    "  verify    check every entry of an update program against its checksum\n"
    "  extract   write an update program's files to a folder\n"
    "  checksum  print the content checksum of files\n"
    "\n"
    "upkg COMMAND --help tells more. Exit codes: 0 success, 1 damaged package or failed\n"
    "read or write, 2 wrong arguments or inputs that cannot make a package.\n";

const std::map<std::string, const char*> CommandHelp = {
    {"build",
     "usage: upkg build --stub UPDATER.exe --title TEXT [--format arc20|packfile]\n"
     "                  [--hash-list v2|v1|none] [--quiet] -o OUT.exe SOURCE_DIR\n"
     "\n"
     "Pads the stub to 0x50000 bytes and appends the package: the title, then an archive\n"
     "holding a hash list (\"ZOL.hvl\") and every file below SOURCE_DIR, ordered by path.\n"
     "Each file is installed at its path relative to SOURCE_DIR. Defaults: arc20, v2.\n"},
    {"list",
     "usage: upkg list [--json] PACKAGE.exe\n"
     "\n"
     "Shows the title, the archive format and per entry its name, offset from the start\n"
     "of the archive, size, install path and expected checksum.\n"},
    {"verify",
     "usage: upkg verify [--quiet] PACKAGE.exe\n"
     "\n"
     "Reads every entry and compares its checksum with the hash list. Exit 0 when all\n"
     "match, 1 when the package is damaged.\n"},
    {"extract",
     "usage: upkg extract [--quiet] PACKAGE.exe DIR\n"
     "\n"
     "Writes every entry but the hash list to DIR at its install path, verifying it.\n"},
    {"checksum",
     "usage: upkg checksum [--quiet] FILE...\n"
     "\n"
     "Prints the content checksum of each file as 16 hex digits and its name.\n"},
};

int Fail(int code, const std::string& message) {
    std::fprintf(stderr, "upkg: %s\n", message.c_str());
    return code;
}

int UsageError(const std::string& command, const std::string& message) {
    std::fprintf(stderr, "upkg: %s\n\n%s", message.c_str(),
                 command.empty() ? Usage : CommandHelp.at(command));
    return ExitUsage;
}

// Options of one command: flags, options with a value, and the positional arguments.
struct Arguments {
    std::map<std::string, std::string> values;
    std::map<std::string, bool> flags;
    std::vector<std::string> positional;
};

bool Parse(const std::vector<std::string>& input, const std::vector<std::string>& valueOptions,
           const std::vector<std::string>& flagOptions, Arguments& out, std::string& error) {
    auto has = [](const std::vector<std::string>& list, const std::string& name) {
        return std::find(list.begin(), list.end(), name) != list.end();
    };
    bool optionsEnded = false;
    for (size_t i = 1; i < input.size(); ++i) {
        const std::string& word = input[i];
        if (optionsEnded || word.size() < 2 || word[0] != '-') {
            out.positional.push_back(word);
        } else if (word == "--") {
            optionsEnded = true;
        } else if (has(flagOptions, word)) {
            out.flags[word] = true;
        } else if (has(valueOptions, word)) {
            if (i + 1 == input.size()) {
                error = word + " needs a value";
                return false;
            }
            out.values[word] = input[++i];
        } else {
            error = "unknown option " + word;
            return false;
        }
    }
    return true;
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

int Build(const Arguments& args) {
    BuildRequest request;
    for (const char* required : {"--stub", "--title", "-o"})
        if (!args.values.count(required))
            return UsageError("build", std::string(required) + " is required");
    if (args.positional.size() != 1) return UsageError("build", "name one SOURCE_DIR");
    request.stub = args.values.at("--stub");
    request.title = args.values.at("--title");
    request.output = args.values.at("-o");
    request.source = args.positional[0];
    request.quiet = args.flags.count("--quiet") != 0;
    if (args.values.count("--format")) {
        const std::string& format = args.values.at("--format");
        if (format == "arc20")
            request.format = ArchiveFormat::Arc20;
        else if (format == "packfile")
            request.format = ArchiveFormat::PackFile;
        else
            return UsageError("build", "--format is arc20 or packfile, not " + format);
    }
    if (args.values.count("--hash-list")) {
        const std::string& version = args.values.at("--hash-list");
        if (version == "v2")
            request.hashList = HashListVersion::V2;
        else if (version == "v1")
            request.hashList = HashListVersion::V1;
        else if (version == "none")
            request.hashList = HashListVersion::None;
        else
            return UsageError("build", "--hash-list is v2, v1 or none, not " + version);
    }
    std::string error;
    switch (BuildPackage(request, error)) {
        case BuildResult::Built:
            return ExitOk;
        case BuildResult::Refused:
            return Fail(ExitUsage, error);
        case BuildResult::WriteFailed:
            break;
    }
    return Fail(ExitDamaged, error);
}

int List(const Arguments& args) {
    if (args.positional.size() != 1) return UsageError("list", "name one PACKAGE.exe");
    CFileDX file;
    Package package;
    std::string error;
    if (!OpenPackage(args.positional[0], file, package, error)) return Fail(ExitDamaged, error);

    if (args.flags.count("--json")) {
        std::printf("{\"title\": %s, \"format\": %s, \"entries\": [",
                    JsonString(package.title).c_str(), JsonString(package.format).c_str());
        const char* separator = "";
        for (const PlannedEntry& entry : package.plan.entries) {
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
        return ExitOk;
    }
    std::printf("title:   %s\nformat:  %s\nentries: %zu\n\n", package.title.c_str(),
                package.format.c_str(), package.plan.entries.size());
    std::printf("%12s %12s  %-16s  %s\n", "offset", "size", "checksum", "name -> install path");
    for (const PlannedEntry& entry : package.plan.entries) {
        std::printf("%12llu %12u  %-16s  %s", static_cast<unsigned long long>(entry.offset),
                    entry.size, entry.expected ? ChecksumHex(*entry.expected).c_str() : "none",
                    entry.name.c_str());
        if (!entry.installed)
            std::printf("  (hash list%s)", package.plan.hashListDamaged ? ", unreadable" : "");
        else
            std::printf(" -> %s", entry.destination.c_str());
        std::printf("\n");
    }
    return ExitOk;
}

uint64_t DataSize(const Package& package) {
    uint64_t total = 0;
    for (const PlannedEntry& entry : package.plan.entries) total += entry.size;
    return total;
}

int Verify(const Arguments& args) {
    if (args.positional.size() != 1) return UsageError("verify", "name one PACKAGE.exe");
    CFileDX file;
    Package package;
    std::string error;
    if (!OpenPackage(args.positional[0], file, package, error)) return Fail(ExitDamaged, error);

    size_t damaged = 0, verified = 0, unrecorded = 0;
    if (package.plan.hashListDamaged) {
        std::printf("FAILED: the hash list cannot be read\n");
        ++damaged;
    }
    Progress progress(DataSize(package), args.flags.count("--quiet") != 0);
    for (const PlannedEntry& entry : package.plan.entries) {
        uint64_t checksum = 0;
        if (!file.Seek(static_cast<int64_t>(ArchiveOffset + entry.offset)) ||
            StreamWithChecksum(file, entry.size, nullptr, checksum, progress) !=
                StreamResult::Done) {
            std::printf("FAILED %s: its data is cut short\n", entry.name.c_str());
            ++damaged;
        } else if (!entry.expected && entry.installed && package.plan.hasHashList) {
            // Every file of a package with a hash list has its record; one without a
            // record would be installed unverified, in the wrong place.
            std::printf("FAILED %s: no record in the hash list\n", entry.name.c_str());
            ++damaged;
        } else if (!entry.expected) {
            ++unrecorded;
        } else if (*entry.expected != checksum) {
            std::printf("FAILED %s: checksum %s, expected %s\n", entry.name.c_str(),
                        ChecksumHex(checksum).c_str(), ChecksumHex(*entry.expected).c_str());
            ++damaged;
        } else {
            ++verified;
        }
    }
    std::printf("%zu entries: %zu verified, %zu without a record; %s\n",
                package.plan.entries.size(), verified, unrecorded, damaged == 0 ? "OK" : "DAMAGED");
    return damaged == 0 ? ExitOk : ExitDamaged;
}

int Extract(const Arguments& args) {
    if (args.positional.size() != 2) return UsageError("extract", "name PACKAGE.exe and DIR");
    CFileDX file;
    Package package;
    std::string error;
    if (!OpenPackage(args.positional[0], file, package, error)) return Fail(ExitDamaged, error);
    size_t unsafe = 0;
    if (CheckPackagePlan(package.plan, &unsafe) == PlanProblem::UnsafePath) {
        const PlannedEntry& entry = package.plan.entries[unsafe];
        return Fail(ExitDamaged, "entry \"" + entry.name + "\" would be installed at \"" +
                                     entry.destination + "\", outside the folder");
    }

    const fs::path folder = fs::u8path(args.positional[1]);
    Progress progress(DataSize(package), args.flags.count("--quiet") != 0);
    for (const PlannedEntry& entry : package.plan.entries) {
        if (!entry.installed) continue;
        std::string relative = entry.destination;
        std::replace(relative.begin(), relative.end(), '\\', '/');
        const fs::path target = folder / fs::u8path(relative);
        std::error_code ec;
        fs::create_directories(target.parent_path(), ec);
        CFileDX out;
        if (ec || !out.OpenForWrite(target.u16string().c_str(), CreateOrTruncate))
            return Fail(ExitDamaged, "cannot create \"" + target.u8string() + "\"");
        out.Reserve(entry.size);
        uint64_t checksum = 0;
        StreamResult result = file.Seek(static_cast<int64_t>(ArchiveOffset + entry.offset))
                                  ? StreamWithChecksum(file, entry.size, &out, checksum, progress)
                                  : StreamResult::ReadShort;
        out.Close();
        if (result == StreamResult::Done && (!entry.expected || *entry.expected == checksum))
            continue;
        DeleteFileAt(target.u16string().c_str());
        if (result == StreamResult::WriteFailed)
            return Fail(ExitDamaged, "cannot write \"" + target.u8string() + "\"");
        return Fail(ExitDamaged, "entry \"" + entry.name + "\" is damaged");
    }
    return ExitOk;
}

int Checksum(const Arguments& args) {
    if (args.positional.empty()) return UsageError("checksum", "name at least one FILE");
    int status = ExitOk;
    for (const std::string& name : args.positional) {
        CFileDX file;
        uint64_t size = 0, checksum = 0;
        Progress progress(0, true);
        if (!file.OpenForRead(fs::u8path(name).u16string().c_str()) || !file.GetFullSize(&size) ||
            StreamWithChecksum(file, size, nullptr, checksum, progress) != StreamResult::Done) {
            std::fprintf(stderr, "upkg: cannot read \"%s\"\n", name.c_str());
            status = ExitDamaged;
            continue;
        }
        std::printf("%s  %s\n", ChecksumHex(checksum).c_str(), name.c_str());
    }
    return status;
}

}  // namespace

int RunUpkg(const std::vector<std::string>& arguments) {
    if (arguments.empty()) return UsageError("", "name a command");
    const std::string& command = arguments[0];
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(Usage, stdout);
        return ExitOk;
    }
    if (!CommandHelp.count(command)) return UsageError("", "unknown command " + command);
    if (std::find(arguments.begin(), arguments.end(), "--help") != arguments.end()) {
        std::fputs(CommandHelp.at(command), stdout);
        return ExitOk;
    }

    Arguments args;
    std::string error;
    bool parsed = false;
    if (command == "build")
        parsed = Parse(arguments, {"--stub", "--title", "--format", "--hash-list", "-o"},
                       {"--quiet"}, args, error);
    else if (command == "list")
        parsed = Parse(arguments, {}, {"--json"}, args, error);
    else
        parsed = Parse(arguments, {}, {"--quiet"}, args, error);
    if (!parsed) return UsageError(command, error);

    if (command == "build") return Build(args);
    if (command == "list") return List(args);
    if (command == "verify") return Verify(args);
    if (command == "extract") return Extract(args);
    return Checksum(args);
}
