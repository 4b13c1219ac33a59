#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "package/checksum.h"
#include "package/file.h"
#include "tools/upkg/inspect.h"
#include "tools/upkg/progress.h"
#include "tools/upkg/report.h"
#include "tools/upkg/stream.h"
#include "tools/upkg/subcommands.h"

namespace upkg {

namespace fs = std::filesystem;

namespace {

// A name as sha256sum writes it, and whether it had to be escaped: then its line starts
// with a backslash.
std::string Escaped(const std::string& name, bool& escaped) {
    std::string out;
    escaped = false;
    for (char c : name) {
        const char* replacement = c == '\\' ? "\\\\" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : "";
        escaped = escaped || *replacement != 0;
        if (*replacement != 0)
            out += replacement;
        else
            out += c;
    }
    return out;
}

// "NAME" + `suffix`, escaped as sha256sum -c does, after `prefix`, as one line.
std::string NameLine(const std::string& prefix, const std::string& name, const char* suffix) {
    bool escaped = false;
    const std::string shown = Escaped(name, escaped);
    return (escaped ? "\\" : "") + prefix + shown + suffix + "\n";
}

// The checksum of a file, or of standard input for "-".
struct Folded {
    uint64_t checksum = 0, size = 0;
    bool missing = false;  // no file of that name
    std::string error;     // why it could not be read; empty when it was
};

// Standard input has no size ahead, so it counts for no progress.
Folded FoldStandardInput() {
    Folded folded;
    uint8_t state[8] = {};
    static uint8_t buffer[StreamChunkSize];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;) {
        package::AddToChecksum(state, buffer, static_cast<uint32_t>(got));
        folded.size += got;
    }
    std::memcpy(&folded.checksum, state, sizeof state);
    if (std::ferror(stdin)) folded.error = "cannot read standard input";
    return folded;
}

Folded Fold(const std::string& name, Progress& progress) {
    if (name == "-") return FoldStandardInput();
    Folded folded;
    package::CFileDX file;
    if (!file.OpenForRead(package::FromSystemPath(fs::u8path(name)).c_str()) ||
        !file.GetFullSize(&folded.size)) {
        folded.missing = file.LastError() == package::ErrorFileNotFound ||
                         file.LastError() == package::ErrorPathNotFound;
        folded.error = "cannot open " + Quoted(name) + ": " + file.LastErrorText();
    } else if (StreamWithChecksum(file, folded.size, nullptr, folded.checksum, progress) !=
               StreamResult::Done) {
        folded.error = "cannot read " + Quoted(name) + ": " + ReadProblem(file);
    }
    return folded;
}

// The bytes of all `names` together, as far as they can be known before reading them.
uint64_t TotalSize(const std::vector<std::string>& names) {
    uint64_t total = 0;
    for (const std::string& name : names) {
        std::error_code ec;
        const uintmax_t size = name == "-" ? 0 : fs::file_size(fs::u8path(name), ec);
        if (!ec) total += size;
    }
    return total;
}

// Undoes Escaped; false for an escape sha256sum does not write.
bool Unescape(const std::string& text, std::string& name) {
    name.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            name += text[i];
            continue;
        }
        const char next = i + 1 < text.size() ? text[++i] : 0;
        if (next != '\\' && next != 'n' && next != 'r') return false;
        name += next == 'n' ? '\n' : next == 'r' ? '\r' : '\\';
    }
    return true;
}

// "HEX  NAME" or "HEX *NAME", with a leading backslash when NAME is escaped.
bool ParseLine(std::string line, std::string& hex, std::string& name) {
    const bool escaped = !line.empty() && line[0] == '\\';
    if (escaped) line.erase(0, 1);
    if (line.size() < 19 || line[16] != ' ' || (line[17] != ' ' && line[17] != '*')) return false;
    hex = line.substr(0, 16);
    for (char& c : hex) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    name = line.substr(18);
    return !escaped || Unescape(line.substr(18), name);
}

bool ReadList(const std::string& name, std::string& text, std::string& error) {
    char buffer[65536];
    if (name == "-") {
        for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;)
            text.append(buffer, got);
        if (!std::ferror(stdin)) return true;
        error = "cannot read standard input";
        return false;
    }
    package::CFileDX file;
    if (!file.OpenForRead(package::FromSystemPath(fs::u8path(name)).c_str())) {
        error = "cannot open " + Quoted(name) + ": " + file.LastErrorText();
        return false;
    }
    for (uint32_t got; (got = file.Read(buffer, sizeof buffer)) > 0;) text.append(buffer, got);
    if (file.LastError() == 0) return true;
    error = "cannot read " + Quoted(name) + ": " + file.LastErrorText();
    return false;
}

struct Listed {
    std::string hex, name;
};

// The well-formed lines of one list, and how many were not.
struct List {
    std::string shown;  // its name in messages
    std::vector<Listed> lines;
    size_t malformed = 0;
};

// Reads `name` ("-" for standard input) into `list`; with --warn, names each malformed line.
bool ReadLines(const Arguments& args, const std::string& name, List& list) {
    std::string text, error;
    list.shown = name == "-" ? "standard input" : Shown(name);
    if (!ReadList(name, text, error)) {
        Fail(ExitDamaged, error);
        return false;
    }
    size_t number = 0;
    for (size_t start = 0, end; start < text.size(); start = end + 1) {
        end = std::min(text.find('\n', start), text.size());
        std::string line = text.substr(start, end - start);
        ++number;
        // Lists written on Windows end their lines in CR LF; a name's own CR is escaped.
        if (!line.empty() && line.back() == '\r') line.pop_back();
        Listed listed;
        if (ParseLine(line, listed.hex, listed.name)) {
            list.lines.push_back(std::move(listed));
        } else if (!line.empty()) {
            ++list.malformed;
            if (args.Has("--warn"))
                Fail(ExitDamaged, list.shown + ": " + std::to_string(number) +
                                      ": improperly formatted checksum line");
        }
    }
    return true;
}

struct Tally {
    size_t malformed = 0, unreadable = 0, mismatched = 0, files = 0;
    uint64_t bytes = 0;
};

// Checks one listed file and says so unless --status; false when it is missing and
// --ignore-missing leaves it out.
bool CheckListed(const Arguments& args, const Listed& listed, Progress& progress, Tally& tally) {
    const Folded folded = Fold(listed.name, progress);
    if (folded.missing && args.Has("--ignore-missing")) return false;
    ++tally.files;
    tally.bytes += folded.size;
    const bool silent = args.Has("--status");
    if (!folded.error.empty()) {
        ++tally.unreadable;
        Fail(ExitDamaged, folded.error);
        if (!silent) progress.Print(NameLine("", listed.name, ": FAILED open or read"));
    } else if (ChecksumHex(folded.checksum) != listed.hex) {
        ++tally.mismatched;
        if (!silent) progress.Print(NameLine("", listed.name, ": FAILED"));
    } else if (!silent && !args.Quiet()) {
        progress.Print(NameLine("", listed.name, ": OK"));
    }
    return true;
}

void PrintTally(const Arguments& args, const Tally& tally) {
    std::fflush(stdout);
    if (tally.malformed != 0 && !args.Has("--status"))
        std::fprintf(stderr, "upkg: WARNING: %zu lines are improperly formatted\n",
                     tally.malformed);
    if (tally.unreadable != 0 && !args.Has("--status"))
        std::fprintf(stderr, "upkg: WARNING: %zu listed files could not be read\n",
                     tally.unreadable);
    if (tally.mismatched != 0 && !args.Has("--status"))
        std::fprintf(stderr, "upkg: WARNING: %zu computed checksums did NOT match\n",
                     tally.mismatched);
    if (args.Verbose())
        std::fprintf(stderr, "upkg: %zu files, %llu bytes read\n", tally.files,
                     static_cast<unsigned long long>(tally.bytes));
}

int CheckLists(const Arguments& args) {
    bool failed = false;
    std::vector<List> lists;
    std::vector<std::string> names;
    for (const std::string& name :
         args.positional.empty() ? std::vector<std::string>{"-"} : args.positional) {
        List list;
        if (!ReadLines(args, name, list)) {
            failed = true;
            continue;
        }
        for (const Listed& listed : list.lines) names.push_back(listed.name);
        lists.push_back(std::move(list));
    }
    Progress progress(TotalSize(names), args.Quiet() || args.Verbose() || args.Has("--status"));
    Tally tally;
    for (const List& list : lists) {
        size_t verified = 0;
        for (const Listed& listed : list.lines)
            verified += CheckListed(args, listed, progress, tally);
        tally.malformed += list.malformed;
        if (list.lines.empty())
            failed = Fail(ExitDamaged, list.shown + ": no properly formatted checksum lines found");
        else if (verified == 0 && !list.lines.empty())
            failed = Fail(ExitDamaged, list.shown + ": no file was verified");
    }
    progress.Clear();
    PrintTally(args, tally);
    failed = failed || tally.unreadable != 0 || tally.mismatched != 0 ||
             (args.Has("--strict") && tally.malformed != 0);
    return failed ? ExitDamaged : ExitOk;
}

}  // namespace

int RunChecksum(const Arguments& args) {
    for (const char* option : {"--status", "--strict", "--warn", "--ignore-missing"})
        if (args.Has(option) && !args.Has("--check"))
            return UsageError("checksum", std::string(option) + " is meaningful only with -c");
    if (args.Has("--check")) return CheckLists(args);
    const std::vector<std::string> names =
        args.positional.empty() ? std::vector<std::string>{"-"} : args.positional;
    Progress progress(TotalSize(names), args.Quiet() || args.Verbose());
    Tally tally;
    int status = ExitOk;
    for (const std::string& name : names) {
        const Folded folded = Fold(name, progress);
        if (!folded.error.empty()) {
            status = Fail(ExitDamaged, folded.error);
            continue;
        }
        progress.Print(NameLine(ChecksumHex(folded.checksum) + "  ", name, ""));
        ++tally.files;
        tally.bytes += folded.size;
    }
    progress.Clear();
    PrintTally(args, tally);
    return status;
}

}  // namespace upkg
