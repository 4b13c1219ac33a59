#include "tools/upkg/arguments.h"

namespace upkg {

namespace {

const KnownOption CommonOptions[] = {
    {"--help", "-h", false}, {"--quiet", "-q", false}, {"--verbose", "-v", false}};

const KnownOption* FindOption(const std::vector<KnownOption>& options, const std::string& word) {
    for (const KnownOption& option : options)
        if (word == option.name || (option.shortName != nullptr && word == option.shortName))
            return &option;
    return nullptr;
}

// Records `option` with `value` (or as a flag when it takes none); false, with `error` set,
// when it is repeated.
bool Record(const KnownOption& option, const std::string* value, Arguments& out,
            std::string& error) {
    const std::string name = option.name;
    if (!option.repeatable && out.Has(name)) {
        error = name + " is given more than once";
        return false;
    }
    if (value == nullptr)
        out.flags.insert(name);
    else
        out.values[name].push_back(*value);
    return true;
}

// The value of `given` in words[i + 1]; false when there is none, or when it asks for help:
// "--title --help" is a forgotten value far more often than a title.
bool NextValue(const std::vector<std::string>& words, size_t& i, const std::string& given,
               std::string& value, std::string& error) {
    if (i + 1 == words.size()) {
        error = given + " needs a value";
        return false;
    }
    value = words[++i];
    if (value != "--help" && value != "-h") return true;
    error = given + " needs a value, not " + value;
    return false;
}

// "--name", "--name=value" or "--name value" at words[i].
bool TakeLongOption(const std::vector<std::string>& words, size_t& i,
                    const std::vector<KnownOption>& options, Arguments& out, std::string& error) {
    const std::string& word = words[i];
    const size_t equals = word.find('=');
    const std::string given = word.substr(0, equals);
    const KnownOption* option = FindOption(options, given);
    if (option == nullptr) {
        error = "unknown option " + given;
        return false;
    }
    if (!option->takesValue && equals != std::string::npos) {
        error = given + " takes no value";
        return false;
    }
    std::string value;
    if (!option->takesValue) return Record(*option, nullptr, out, error);
    if (equals != std::string::npos)
        value = word.substr(equals + 1);
    else if (!NextValue(words, i, given, value, error))
        return false;
    return Record(*option, &value, out, error);
}

// Short options at words[i], bundled as getopt bundles them: "-qc" is -q -c, and in "-oFILE"
// or "-qo FILE" an option that takes a value takes the rest of the word or the next word.
bool TakeShortOptions(const std::vector<std::string>& words, size_t& i,
                      const std::vector<KnownOption>& options, Arguments& out, std::string& error) {
    const std::string word = words[i];
    for (size_t at = 1; at < word.size(); ++at) {
        const std::string given = {'-', word[at]};
        const KnownOption* option = FindOption(options, given);
        if (option == nullptr) {
            error = "unknown option " + given;
            return false;
        }
        if (!option->takesValue) {
            if (!Record(*option, nullptr, out, error)) return false;
            continue;
        }
        std::string value = word.substr(at + 1);
        if (value.empty() && !NextValue(words, i, given, value, error)) return false;
        return Record(*option, &value, out, error);
    }
    return true;
}

}  // namespace

bool ParseArguments(const std::vector<std::string>& words, const std::vector<KnownOption>& options,
                    Arguments& out, std::string& error) {
    std::vector<KnownOption> known(options);
    known.insert(known.end(), std::begin(CommonOptions), std::end(CommonOptions));
    Arguments read;
    bool optionsEnded = false;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (optionsEnded || word.size() < 2 || word[0] != '-')
            read.positional.push_back(word);
        else if (word == "--")
            optionsEnded = true;
        else if (word[1] == '-' ? !TakeLongOption(words, i, known, read, error)
                                : !TakeShortOptions(words, i, known, read, error))
            return false;
    }
    if (read.Quiet() && read.Verbose()) {
        error = "--quiet and --verbose exclude each other";
        return false;
    }
    out = std::move(read);
    return true;
}

}  // namespace upkg
