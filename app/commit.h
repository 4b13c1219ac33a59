// Putting verified temporary files in place as one step that undoes itself: either every
// file is replaced, or the installation folder is left exactly as it was.
#pragma once

#include <string>
#include <vector>

struct FileMove {
    std::wstring temporary;  // the verified new file
    std::wstring final;      // where it goes; may exist, may be read-only
};

// Moves each temporary file over its final name in order. An existing final file is first
// set aside (its read-only attribute cleared) and deleted only once every move succeeded.
// When a step fails, every step before it is undone in reverse order: the new files go
// back to their temporary names, the set-aside files and their attributes are restored.
bool CommitFiles(const std::vector<FileMove>& moves);
