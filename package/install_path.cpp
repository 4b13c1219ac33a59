#include "package/install_path.h"

#include <cstring>
#include <string>

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

}  // namespace

bool IsSafeInstallPath(const char* path) {
    if (*path == 0 || IsSeparator(*path) || std::strchr(path, ':') != nullptr) return false;
    const char* start = path;
    while (true) {
        const char* end = start;
        while (*end != 0 && !IsSeparator(*end)) ++end;
        const std::string component(start, end);
        // Windows strips a trailing dot or space, so "x.arc." would name x.arc ("." and
        // ".." end in a dot too).
        if (component.empty() || component.back() == '.' || component.back() == ' ' ||
            IsReservedDeviceName(component))
            return false;
        if (*end == 0) return true;
        start = end + 1;
    }
}
