// The files an installation keeps beside the game's files, and the one the updater writes
// beside them while it installs. Each is written under a temporary name first (its name and
// TemporarySuffix), which recovery removes; no entry of a package may write any of them.
#pragma once

#include <string>

namespace package {

constexpr char HashListName[] = "zol.hvl";
constexpr char UninstallListName[] = "uninst.lst";
constexpr char JournalName[] = "update.journal";
constexpr char TemporarySuffix[] = ".tmp";

// An ASCII name as the file layer takes names.
inline std::u16string Utf16Name(const std::string& name) {
    return std::u16string(name.begin(), name.end());
}

}  // namespace package
