// Where an archive entry may be installed: a path relative to the installation folder
// that stays inside it and names files Windows allows.
#pragma once

namespace package {

enum class InstallPathProblem {
    None,
    LeavesFolder,       // absolute, a drive or stream, an empty, "." or ".." component, a
                        // component ending in a dot or a space, or a reserved device name
    ForbiddenCharacter  // a control character or one of < > " | ? * in a name
};

// Why `path` (UTF-8, components separated by \ or /) may not be installed: it must be
// relative, hold no drive or colon, no empty component nor one that ends in a dot or a space
// ("." and ".." among them), name no reserved device (CON, PRN, AUX, NUL, COM1-COM9,
// LPT1-LPT9, with any extension) and hold no character Windows refuses in a name.
InstallPathProblem CheckInstallPath(const char* path);

// True when CheckInstallPath finds no problem.
bool IsSafeInstallPath(const char* path);

}  // namespace package
