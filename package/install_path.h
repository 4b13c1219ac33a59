// Where an archive entry may be installed: a path relative to the installation folder
// that stays inside it.
#pragma once

// True when `path` (UTF-8, components separated by \ or /) is relative, holds no drive or
// colon, no empty component nor one that ends in a dot or a space ("." and ".." among
// them), and names no reserved device (CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, with any
// extension).
bool IsSafeInstallPath(const char* path);
