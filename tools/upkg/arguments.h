// The words of one command: options (long forms as "--name=value" or "--name value",
// short ones bundled as "-qc" and with values as "-oFILE" or "-o FILE"), flags and
// positional arguments.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

namespace upkg {

struct KnownOption {
    const char* name;       // "--title"
    const char* shortName;  // "-o", or nullptr
    bool takesValue;
    bool repeatable = false;
};

struct Arguments {
    std::map<std::string, std::vector<std::string>> values;  // by long name, in order given
    std::set<std::string> flags;                             // long names
    std::vector<std::string> positional;

    bool Has(const std::string& name) const { return flags.count(name) || values.count(name); }
    // The value of an option given once; empty when it was not given.
    std::string Value(const std::string& name) const {
        return values.count(name) ? values.at(name).front() : std::string();
    }
    bool Quiet() const { return Has("--quiet"); }
    bool Verbose() const { return Has("--verbose"); }
};

// Reads `words` (what follows the command's name) against `options`; every command also
// knows -h/--help, -q/--quiet and -v/--verbose, and "--" ends the options. False, with
// `error` set, for an unknown or repeated option, a missing value, a value given to a
// flag, --help or -h given as a value, or --quiet with --verbose.
bool ParseArguments(const std::vector<std::string>& words, const std::vector<KnownOption>& options,
                    Arguments& out, std::string& error);

}  // namespace upkg
