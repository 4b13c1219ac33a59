// Conversions on arbitrary bytes and UTF-16 units, with small and large capacities.
// The first byte picks the capacity of the bounded forms; the rest is the text.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "text/convert.h"
#include "text/encoding.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

// A bounded writer must give the allocating form's result when it fits and otherwise
// fail without touching its exactly sized buffer.
template <typename Unit, typename Write>
void CheckBounded(const std::basic_string<Unit>& expected, size_t capacity, Write write) {
    std::vector<Unit> buffer(capacity, Unit(0x5A));
    const bool written = capacity == 0 ? write(nullptr, 0) : write(buffer.data(), capacity);
    if (expected.size() + 1 <= capacity) {
        Check(written);
        Check(std::basic_string<Unit>(buffer.data()) == expected);
    } else {
        Check(!written);
        for (Unit unit : buffer) Check(unit == Unit(0x5A));
    }
}

template <typename Unit>
bool HasZero(const std::basic_string<Unit>& text) {
    return text.find(Unit(0)) != std::basic_string<Unit>::npos;
}

bool IsWellFormed(const std::u16string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit >= 0xDC00 && unit <= 0xDFFF) return false;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) {
                return false;
            }
            ++i;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t small = data[0] % 16;
    const size_t large = 4 * size + 8;
    std::vector<char> text(data + 1, data + size);
    text.push_back('\0');
    const char* narrow = text.data();

    const std::optional<std::u16string> wide = NarrowToWide(narrow);
    Check(wide.has_value() && !HasZero(*wide));
    for (size_t capacity : {small, large}) {
        CheckBounded<char16_t>(
            *wide, capacity, [&](char16_t* out, size_t c) { return NarrowToWide(out, c, narrow); });
    }

    for (ConversionMode mode : {ToCodePage932, ToUtf8}) {
        const std::optional<std::string> converted = ConvertText(narrow, mode);
        Check(converted.has_value() && !HasZero(*converted));
        if (DetectTextEncoding(narrow) == Ascii) Check(*converted == narrow);
        for (size_t capacity : {small, large}) {
            CheckBounded<char>(*converted, capacity, [&](char* out, size_t c) {
                return ConvertText(out, c, narrow, mode);
            });
        }
    }

    // The same bytes read as UTF-16 units.
    std::u16string units;
    for (size_t i = 1; i + 1 < size; i += 2) {
        const char16_t unit = static_cast<char16_t>(data[i] | data[i + 1] << 8);
        if (unit == 0) break;
        units.push_back(unit);
    }
    for (ConversionMode mode : {ToCodePage932, ToUtf8}) {
        const std::optional<std::string> converted = WideToNarrow(units.c_str(), mode);
        Check(converted.has_value() && !HasZero(*converted));
        for (size_t capacity : {small, large}) {
            CheckBounded<char>(*converted, capacity, [&](char* out, size_t c) {
                return WideToNarrow(out, c, units.c_str(), mode);
            });
        }
        // Well-formed UTF-16 survives a trip through UTF-8 unchanged.
        if (mode == ToUtf8 && IsWellFormed(units)) {
            Check(NarrowToWide(converted->c_str()) == units);
        }
    }
    return 0;
}
