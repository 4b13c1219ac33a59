#include "tools/upkg/commands.h"

#include <cstdio>
#include <map>

#include "tools/upkg/build.h"
#include "tools/upkg/report.h"
#include "tools/upkg/subcommands.h"

namespace upkg {

namespace {

constexpr char Version[] = "upkg 2.0.0";

const char* const Usage =
    "usage: upkg COMMAND [OPTIONS]\n"
    "\n"
    "  build     make an update program from updater.exe and a folder of files\n"
    "  list      show an update program's title and entries\n"
    "  verify    check every entry of an update program against its checksum\n"
    "  extract   write an update program's files to a folder\n"
    "  check     check an installed game's files against its zol.hvl\n"
    "  checksum  print or check the content checksum of files\n"
    "\n"
    "upkg COMMAND --help tells more; upkg --version names this version. Every command takes\n"
    "-q/--quiet and -v/--verbose, --name=value for any option with a value, short options\n"
    "bundled (-qc) and with a value attached (-oFILE), and -- to end the options. On a\n"
    "terminal one line on stderr shows the progress of the whole work. Exit codes:\n"
    "0 success, 1 damaged package or failed read or write, 2 wrong arguments or inputs\n"
    "that cannot make a package (nothing is written then).\n";

struct Command {
    int (*run)(const Arguments&);
    std::vector<KnownOption> options;
    const char* help;
};

const std::map<std::string, Command> Commands = {
    {"build",
     {RunBuild,
      {{"--stub", nullptr, true},
       {"--title", nullptr, true},
       {"--output", "-o", true},
       {"--format", nullptr, true},
       {"--hash-list", nullptr, true},
       {"--exclude", nullptr, true, true},
       {"--base", nullptr, true}},
      "usage: upkg build --stub UPDATER.exe --title TEXT -o OUT.exe [--format arc20|packfile]\n"
      "                  [--hash-list v2|v1|none] [--exclude GLOB]... [--base OLD] SOURCE_DIR\n"
      "\n"
      "Pads the stub to 0x50000 bytes and appends the package: the title, then an archive\n"
      "holding a hash list (\"ZOL.hvl\") and every file below SOURCE_DIR, ordered by path.\n"
      "Each file is installed at its path relative to SOURCE_DIR. The output is written\n"
      "under a temporary name beside it and takes its name only when complete.\n"
      "\n"
      "  --stub FILE        the updater: a Windows program of at most 0x50000 bytes\n"
      "  --title TEXT       shown in the updater's windows\n"
      "  -o, --output FILE  the update program to write; neither the stub nor in SOURCE_DIR\n"
      "  --format F         arc20 (the default) or packfile\n"
      "  --hash-list V      v2 (the default), v1, or none (files directly in SOURCE_DIR)\n"
      "  --exclude GLOB     leave out files and folders whose path below SOURCE_DIR, with /\n"
      "                     between folders, or any part of it after a /, matches GLOB\n"
      "                     (* any text, / too; ? one character; [a-z] one of a set)\n"
      "  --base OLD         a small update: OLD is an earlier update program or an\n"
      "                     installation's zol.hvl; only files whose path is new or whose\n"
      "                     checksum differs from OLD's record are packed; the summary\n"
      "                     names what it cannot do (files of OLD not in SOURCE stay\n"
      "                     installed; a v1 zol.hvl cannot record paths over 55 bytes)\n"
      "  -q, --quiet        no progress and no summary\n"
      "  -v, --verbose      name each file as it is packed, and each file or empty folder\n"
      "                     left out\n"
      "\n"
      "Limits of the format: at most 256 entries, the hash list among them; file names\n"
      "unique apart from ASCII case, \"zol.hvl\" kept for the hash list; names and paths\n"
      "written in code page 932, names of at most 95 bytes (arc20) or 15 (packfile), paths\n"
      "of at most 247 bytes (hash list v2) or 55 (v1); names Windows allows; symbolic links\n"
      "refused; the whole program below 4 GiB.\n"}},
    {"list",
     {RunList,
      {{"--json", nullptr, false}},
      "usage: upkg list [--json] [-q | -v] PACKAGE.exe\n"
      "\n"
      "Shows the title, the archive format and per entry its name, offset from the start\n"
      "of the archive, size, install path and expected checksum. --quiet shows only the\n"
      "entries, --verbose adds the hash list's records.\n"}},
    {"verify",
     {RunVerify,
      {{"--json", nullptr, false}},
      "usage: upkg verify [--json] [-q | -v] PACKAGE.exe\n"
      "\n"
      "Reads every entry and compares its checksum with its record in the hash list. An\n"
      "entry without a record is installed unverified under its own name: it is reported,\n"
      "not an error. A record that matches no entry, an unreadable hash list, a path that\n"
      "leaves the installation folder or data cut short is damage. Exit 0 when the package\n"
      "is sound, 1 when it is damaged. --quiet shows only damage, --verbose every entry.\n"
      "Also tells whether the program is signed (its certificate table) and how many bytes\n"
      "stand behind the archive, which the updater never reads.\n"
      "--json: {\"title\", \"format\", \"signature\": null|{\"offset\", \"size\"},\n"
      "\"after_archive\", \"entries\": [{\"name\", \"path\", \"status\":\n"
      "\"ok\"|\"damaged\"|\"unrecorded\"}], \"problems\": [text]}.\n"}},
    {"extract",
     {RunExtract,
      {{"--overwrite", nullptr, false}},
      "usage: upkg extract [--overwrite] [-q | -v] PACKAGE.exe DIR\n"
      "\n"
      "Checks the whole package as verify does, then writes every entry but the hash list\n"
      "to DIR at its install path, each under a temporary name moved into place once its\n"
      "checksum matched. Nothing is written from a damaged package (exit 1). A file that\n"
      "already exists is refused (exit 2) unless --overwrite is given; a symbolic link at a\n"
      "target or at a folder inside DIR is never followed (exit 2).\n"}},
    {"check",
     {RunCheck,
      {{"--json", nullptr, false}},
      "usage: upkg check [--json] [-q | -v] FOLDER\n"
      "\n"
      "Checks an installed game against its zol.hvl: every recorded file is read and its\n"
      "checksum compared. A record names a file as Windows does (ASCII case ignored, \\\n"
      "between folders). A record that leads to two names equal apart from case, which\n"
      "Windows cannot tell apart, is ambiguous on every file system. One line per damaged,\n"
      "missing or ambiguous file, then a summary; exit 0 when all match, 1 when any does\n"
      "not or the list cannot be read.\n"
      "--json: {\"folder\", \"list\": \"v2\"|\"v1\", \"files\": [{\"path\", \"status\":\n"
      "\"ok\"|\"damaged\"|\"missing\"|\"ambiguous\"}]}.\n"}},
    {"checksum",
     {RunChecksum,
      {{"--check", "-c", false},
       {"--status", nullptr, false},
       {"--strict", nullptr, false},
       {"--warn", "-w", false},
       {"--ignore-missing", nullptr, false}},
      "usage: upkg checksum [-q | -v] [FILE]...\n"
      "       upkg checksum -c [-q | -v] [--status] [--strict] [-w] [--ignore-missing]\n"
      "                    [LIST]...\n"
      "\n"
      "Prints the content checksum of each file (standard input when there is none, or for\n"
      "-) as 16 hex digits, two blanks and its name; a name holding \\ or a line break is\n"
      "escaped and its line starts with \\, as sha256sum does. With -c/--check, reads such\n"
      "lines from each LIST (standard input when there is none, or for -) and prints\n"
      "NAME: OK or NAME: FAILED. With --verbose, a last line counts the files and bytes read.\n"
      "\n"
      "  -q, --quiet       leave out the OK lines\n"
      "  --status          print nothing; the exit code tells\n"
      "  --strict          exit 1 for improperly formatted lines too\n"
      "  -w, --warn        name each improperly formatted line\n"
      "  --ignore-missing  leave out listed files that do not exist\n"}},
};

}  // namespace

int UsageError(const std::string& command, const std::string& message) {
    std::fprintf(stderr, "upkg: %s\nTry 'upkg %s%s--help' for more information.\n", message.c_str(),
                 command.c_str(), command.empty() ? "" : " ");
    return ExitUsage;
}

int RunUpkg(const std::vector<std::string>& arguments) {
    if (arguments.empty()) return UsageError("", "name a command");
    const std::string& name = arguments[0];
    if (name == "--help" || name == "-h" || name == "help") {
        std::fputs(Usage, stdout);
        return ExitOk;
    }
    if (name == "--version") {
        std::printf("%s\n", Version);
        return ExitOk;
    }
    auto command = Commands.find(name);
    if (command == Commands.end()) return UsageError("", "unknown command " + name);

    Arguments args;
    std::string error;
    if (!ParseArguments({arguments.begin() + 1, arguments.end()}, command->second.options, args,
                        error))
        return UsageError(name, error);
    if (args.Has("--help")) {
        std::fputs(command->second.help, stdout);
        return ExitOk;
    }
    // A name that the system's path conversion cannot take (not UTF-8 on Linux) throws deep
    // in std::filesystem: the command ends with the reason, and what it was writing is
    // removed on the way out.
    try {
        return command->second.run(args);
    } catch (const std::exception& failure) {
        return Fail(ExitDamaged, name + ": " + failure.what());
    }
}

}  // namespace upkg
