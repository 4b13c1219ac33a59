// Splitting a path into drive, folder, name and extension.
#pragma once

#include <cstddef>

namespace text {

// Limits of the parts, in UTF-16 units with the terminator.
constexpr size_t DriveLimit = 3;
constexpr size_t FolderLimit = 256;
constexpr size_t NameLimit = 256;
constexpr size_t ExtensionLimit = 256;

// Splits a byte-string path. Each output is optional (nullptr) and, when given, holds at
// least its limit above. The folder keeps its final separator (\ or /); the extension
// starts at the last '.' of the final component. When a requested part exceeds its limit,
// or the path does not fit PathBufferLength units, every requested part comes back empty.
void SplitPathWide(const char* path, char16_t* drive, char16_t* folder, char16_t* name,
                   char16_t* extension);

// The same, each requested part written in UTF-8 to a buffer of PathBufferLength bytes.
void SplitPathUtf8(char* drive, char* folder, char* name, char* extension, const char* path);

}  // namespace text
