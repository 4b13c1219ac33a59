#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>

#include "package/file.h"
#include "tools/upkg/inspect.h"
#include "tools/upkg/progress.h"
#include "tools/upkg/report.h"
#include "tools/upkg/stream.h"
#include "tools/upkg/subcommands.h"

namespace fs = std::filesystem;

namespace {

constexpr uint64_t ProgressWorthy = 64 << 20;

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

// Prints "NAME" + `suffix`, escaped as sha256sum -c does, after `prefix`.
void PrintName(const char* prefix, const std::string& name, const char* suffix) {
    bool escaped = false;
    const std::string shown = Escaped(name, escaped);
    std::printf("%s%s%s%s\n", escaped ? "\\" : "", prefix, shown.c_str(), suffix);
}

// The checksum of the whole file; false with `error` naming it and the reason.
bool ChecksumOfFile(const std::string& name, bool quiet, uint64_t& checksum, uint64_t& size,
                    std::string& error) {
    CFileDX file;
    if (!file.OpenForRead(FromSystemPath(fs::u8path(name)).c_str()) || !file.GetFullSize(&size)) {
        error = "cannot open " + Quoted(name) + ": " + file.LastErrorText();
        return false;
    }
    // Only a large file is read long enough for a progress line to help.
    Progress progress(size, quiet || size < ProgressWorthy);
    if (StreamWithChecksum(file, size, nullptr, checksum, progress) == StreamResult::Done)
        return true;
    error = "cannot read " + Quoted(name) + ": " + ReadProblem(file);
    return false;
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
        return true;
    }
    CFileDX file;
    if (!file.OpenForRead(FromSystemPath(fs::u8path(name)).c_str())) {
        error = "cannot open " + Quoted(name) + ": " + file.LastErrorText();
        return false;
    }
    for (uint32_t got; (got = file.Read(buffer, sizeof buffer)) > 0;) text.append(buffer, got);
    if (file.LastError() == 0) return true;
    error = "cannot read " + Quoted(name) + ": " + file.LastErrorText();
    return false;
}

struct Tally {
    size_t malformed = 0, unreadable = 0, mismatched = 0, files = 0;
    uint64_t bytes = 0;
};

void CheckLine(const Arguments& args, const std::string& line, Tally& tally) {
    std::string hex, name, error;
    if (!ParseLine(line, hex, name)) {
        ++tally.malformed;
        return;
    }
    uint64_t checksum = 0, size = 0;
    ++tally.files;
    if (!ChecksumOfFile(name, args.Quiet() || args.Verbose(), checksum, size, error)) {
        ++tally.unreadable;
        Fail(ExitDamaged, error);
        PrintName("", name, ": FAILED open or read");
    } else if (ChecksumHex(checksum) != hex) {
        ++tally.mismatched;
        PrintName("", name, ": FAILED");
    } else if (!args.Quiet()) {
        PrintName("", name, ": OK");
    }
    tally.bytes += size;
}

}  // namespace

namespace {

void PrintTally(const Arguments& args, const Tally& tally) {
    if (tally.malformed != 0)
        std::fprintf(stderr, "upkg: WARNING: %zu lines are improperly formatted\n",
                     tally.malformed);
    if (tally.unreadable != 0)
        std::fprintf(stderr, "upkg: WARNING: %zu listed files could not be read\n",
                     tally.unreadable);
    if (tally.mismatched != 0)
        std::fprintf(stderr, "upkg: WARNING: %zu computed checksums did NOT match\n",
                     tally.mismatched);
    if (args.Verbose())
        std::fprintf(stderr, "upkg: %zu files, %llu bytes read\n", tally.files,
                     static_cast<unsigned long long>(tally.bytes));
}

int CheckLists(const Arguments& args) {
    Tally tally;
    bool failed = false;
    for (const std::string& list : args.positional) {
        std::string text, error;
        if (!ReadList(list, text, error)) {
            failed = Fail(ExitDamaged, error);
            continue;
        }
        const size_t before = tally.files;
        for (size_t start = 0, end; start < text.size(); start = end + 1) {
            end = std::min(text.find('\n', start), text.size());
            std::string line = text.substr(start, end - start);
            // Lists written on Windows end their lines in CR LF; a name's own CR is escaped.
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!line.empty()) CheckLine(args, line, tally);
        }
        if (tally.files == before)
            failed = Fail(ExitDamaged, Quoted(list) + ": no properly formatted checksum lines");
    }
    std::fflush(stdout);
    PrintTally(args, tally);
    failed = failed || tally.unreadable != 0 || tally.mismatched != 0;
    return failed ? ExitDamaged : ExitOk;
}

}  // namespace

int RunChecksum(const Arguments& args) {
    const bool check = args.Has("--check");
    if (args.positional.empty())
        return UsageError("checksum", check ? "name at least one LIST" : "name at least one FILE");
    if (check) return CheckLists(args);
    Tally tally;
    int status = ExitOk;
    for (const std::string& name : args.positional) {
        uint64_t checksum = 0, size = 0;
        std::string error;
        if (!ChecksumOfFile(name, args.Quiet() || args.Verbose(), checksum, size, error)) {
            status = Fail(ExitDamaged, error);
            continue;
        }
        PrintName((ChecksumHex(checksum) + "  ").c_str(), name, "");
        ++tally.files;
        tally.bytes += size;
    }
    std::fflush(stdout);
    PrintTally(args, tally);
    return status;
}
