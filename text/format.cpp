#include "text/format.h"

#include <climits>

namespace text {

namespace {

// Walks the format once; with `destination` null it only counts. Returns the length
// without the terminator, or -1 for a conversion other than %s and %%, a missing or null
// argument, an unused argument or a length beyond int.
template <typename Unit>
long long Expand(Unit* destination, const Unit* format,
                 std::initializer_list<const Unit*> arguments) {
    auto next = arguments.begin();
    long long length = 0;
    auto put = [&](Unit unit) {
        if (destination != nullptr) destination[length] = unit;
        ++length;
    };
    for (const Unit* p = format; *p != 0; ++p) {
        if (*p != '%') {
            put(*p);
        } else if (p[1] == '%') {
            put('%');
            ++p;
        } else if (p[1] == 's') {
            if (next == arguments.end() || *next == nullptr) return -1;
            for (const Unit* s = *next; *s != 0; ++s) put(*s);
            ++next;
            ++p;
        } else {
            return -1;
        }
        if (length > INT_MAX) return -1;
    }
    return next == arguments.end() ? length : -1;
}

template <typename Unit>
int Format(Unit* destination, size_t capacity, const Unit* format,
           std::initializer_list<const Unit*> arguments) {
    if (destination == nullptr || format == nullptr) return -1;
    const long long length = Expand<Unit>(nullptr, format, arguments);
    if (length < 0 || static_cast<unsigned long long>(length) >= capacity) return -1;
    Expand(destination, format, arguments);
    destination[length] = 0;
    return static_cast<int>(length);
}

}  // namespace

int FormatWide(char16_t* destination, size_t capacity, const char16_t* format,
               std::initializer_list<const char16_t*> arguments) {
    return Format(destination, capacity, format, arguments);
}

int FormatNarrow(char* destination, size_t capacity, const char* format,
                 std::initializer_list<const char*> arguments) {
    return Format(destination, capacity, format, arguments);
}

}  // namespace text
