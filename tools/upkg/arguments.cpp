#include "tools/upkg/arguments.h"

namespace {

const KnownOption CommonOptions[] = {
    {"--help", "-h", false}, {"--quiet", "-q", false}, {"--verbose", "-v", false}};

const KnownOption* FindOption(const std::vector<KnownOption>& options, const std::string& word) {
    for (const KnownOption& option : options)
        if (word == option.name || (option.shortName != nullptr && word == option.shortName))
            return &option;
    return nullptr;
}

// Takes the option at words[i], and its value when it has one.
bool TakeOption(const std::vector<std::string>& words, size_t& i,
                const std::vector<KnownOption>& options, Arguments& out, std::string& error) {
    const std::string& word = words[i];
    const size_t equals = word.compare(0, 2, "--") == 0 ? word.find('=') : std::string::npos;
    const std::string given = word.substr(0, equals);
    const KnownOption* option = FindOption(options, given);
    if (option == nullptr) {
        error = "unknown option " + given;
        return false;
    }
    const std::string name = option->name;
    if (!option->repeatable && out.Has(name)) {
        error = name + " is given more than once";
        return false;
    }
    if (!option->takesValue) {
        if (equals != std::string::npos) error = name + " takes no value";
        out.flags.insert(name);
        return equals == std::string::npos;
    }
    if (equals == std::string::npos && i + 1 == words.size()) {
        error = given + " needs a value";
        return false;
    }
    const std::string value = equals != std::string::npos ? word.substr(equals + 1) : words[++i];
    // "--title --help" is a forgotten value far more often than a title.
    if (value == "--help" || value == "-h") {
        error = given + " needs a value, not " + value;
        return false;
    }
    out.values[name].push_back(value);
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
        else if (!TakeOption(words, i, known, read, error))
            return false;
    }
    if (read.Quiet() && read.Verbose()) {
        error = "--quiet and --verbose exclude each other";
        return false;
    }
    out = std::move(read);
    return true;
}
