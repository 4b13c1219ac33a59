// What the POSIX file layer shares between its files: a path or name in the layer's form turned
// into the system's bytes, and the attributes Windows would report.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

namespace package {

// `path` as the system's bytes: UTF-8, with each lone surrogate U+DC80..U+DCFF turned back into
// the byte it stands for. False for an empty path or another lone surrogate.
bool ToNativePath(const char16_t* path, std::string* native);

// `name` as the system's bytes when it is one name inside a folder: not empty, not "." or
// "..", no '/'. False (errno EINVAL) otherwise.
bool ToNativeName(const char16_t* name, std::string* native);

// Windows' read-only attribute, as the owner's missing write bit: it refuses writing and
// replacing even to an administrator, where root would otherwise pass.
inline bool IsReadOnly(const struct stat& info) {
    return !(info.st_mode & S_IWUSR);
}

// The attributes GetAttributesAt reports for what lstat found; `followed` is stat's answer for
// a link.
uint32_t AttributesFromStat(const struct stat& info, const struct stat* followed);

}  // namespace package
