// The installation's uninstall list "uninst.lst": one file a line, kept in lower-case
// UTF-8, each line once. Lines that begin with '$' are kept apart and written last.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

namespace package {

struct UninstallEntry {
    std::string text;  // normalised: UTF-8, ASCII letters in lower case
};

struct UninstallList {
    std::vector<UninstallEntry> fileLines;    // in order of first appearance
    std::vector<UninstallEntry> dollarLines;  // lines beginning with '$', likewise
    std::unordered_set<std::string> seen;     // every text in either list

    // Appends `text` to the list its first byte chooses unless it is there already.
    void Add(std::string text);
    // Appends `text` to fileLines unless fileLines holds it, whatever its first byte.
    void AddFileLine(std::string text);
};

// Splits `text` (up to its terminator) into lines and adds each, normalised, to `lists`.
// A line ends at the first CR or LF; leading blanks and tabs and empty lines are dropped.
void ParseUninstallList(const char* text, UninstallList& lists);

// The list's written form: every line followed by LF, file lines first, then one 0 byte.
std::string FormatUninstallList(const UninstallList& lists);

// Writes the list to `path` through a temporary file, so a failure leaves the old file.
bool WriteUninstallList(const char16_t* path, const UninstallList& lists);

// Reads "uninst.lst" in `folder`, adds the install names that it does not list yet (empty
// names are skipped) and writes it back. False, with the file unchanged, when it is
// missing, cannot be read in full, holds bytes behind an early 0 byte, or cannot be
// written.
bool UpdateUninstallList(const char16_t* folder, const std::vector<std::u16string>& installNames);

}  // namespace package
