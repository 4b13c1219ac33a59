#include "package/install_path.h"

#include <cstring>
#include <string>

namespace package {

namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// Windows opens the device whatever extension follows its name, and ignores trailing
// blanks and dots in the name itself.
bool IsReservedDeviceName(std::string component) {
    component = component.substr(0, component.find('.'));
    while (!component.empty() && (component.back() == ' ' || component.back() == '.'))
        component.pop_back();
    for (char& c : component)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (component == "CON" || component == "PRN" || component == "AUX" || component == "NUL")
        return true;
    return component.size() == 4 &&
           (component.compare(0, 3, "COM") == 0 || component.compare(0, 3, "LPT") == 0) &&
           component[3] >= '1' && component[3] <= '9';
}

// Characters Windows refuses in a file name besides the separators and the colon.
bool IsForbiddenCharacter(char c) {
    return (c > 0 && c < 0x20) || std::strchr("<>\"|?*", c) != nullptr;
}

}  // namespace

InstallPathProblem CheckInstallPath(const char* path) {
    if (*path == 0 || IsSeparator(*path) || std::strchr(path, ':') != nullptr)
        return InstallPathProblem::LeavesFolder;
    const char* start = path;
    while (true) {
        const char* end = start;
        while (*end != 0 && !IsSeparator(*end)) ++end;
        const std::string component(start, end);
        // Windows strips a trailing dot or space, so "x.arc." would name x.arc ("." and
        // ".." end in a dot too).
        if (component.empty() || component.back() == '.' || component.back() == ' ' ||
            IsReservedDeviceName(component))
            return InstallPathProblem::LeavesFolder;
        if (*end == 0) break;
        start = end + 1;
    }
    for (const char* at = path; *at != 0; ++at)
        if (IsForbiddenCharacter(*at)) return InstallPathProblem::ForbiddenCharacter;
    return InstallPathProblem::None;
}

bool IsSafeInstallPath(const char* path) {
    return CheckInstallPath(path) == InstallPathProblem::None;
}

}  // namespace package
