// Hands fuzz input to readers that take an open file: the bytes go to a scratch file in
// memory-backed storage, reopened for each input.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <string>

#include "package/file.h"

inline std::u16string FuzzScratchPath(const char* name) {
    std::string path = "/dev/shm/" + std::string(name) + "-" + std::to_string(getpid());
    return std::u16string(path.begin(), path.end());
}

// Writes `data` to `path` and opens it for reading.
inline bool OpenFuzzInput(package::CFileDX& file, const std::u16string& path, const uint8_t* data,
                          size_t size) {
    package::CFileDX out;
    if (!out.OpenForWrite(path.c_str(), package::CreateOrTruncate)) return false;
    if (size != 0 && out.Write(data, static_cast<uint32_t>(size)) != size) return false;
    out.Close();
    return file.OpenForRead(path.c_str());
}
