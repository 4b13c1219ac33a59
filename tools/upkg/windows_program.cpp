#include "tools/upkg/windows_program.h"

#include <cstring>

namespace upkg {

namespace {

constexpr uint32_t PeOffsetField = 0x3C;
// After "PE\0\0": the 20-byte file header, then the optional header, whose data directory
// (8 bytes per entry) follows 96 bytes of fields in PE32 and 112 in PE32+.
constexpr uint32_t OptionalHeader = 4 + 20;
constexpr uint16_t Pe32Magic = 0x10B, Pe32PlusMagic = 0x20B;
constexpr uint32_t SecurityEntry = 4;

uint32_t Read32(const uint8_t* at) {
    uint32_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

uint32_t PeOffset(const uint8_t* image) {
    return Read32(image + PeOffsetField);
}

}  // namespace

bool IsWindowsProgram(const uint8_t* image, uint64_t size) {
    if (size < PeOffsetField + 4 || image[0] != 'M' || image[1] != 'Z') return false;
    const uint32_t pe = PeOffset(image);
    return uint64_t{pe} + 4 <= size && std::memcmp(image + pe, "PE\0\0", 4) == 0;
}

std::optional<CertificateTable> FindCertificateTable(const uint8_t* image, uint64_t size) {
    if (!IsWindowsProgram(image, size)) return std::nullopt;
    const uint64_t optional = uint64_t{PeOffset(image)} + OptionalHeader;
    if (optional + 2 > size) return std::nullopt;
    uint16_t magic;
    std::memcpy(&magic, image + optional, sizeof magic);
    if (magic != Pe32Magic && magic != Pe32PlusMagic) return std::nullopt;
    const uint64_t directory = optional + (magic == Pe32Magic ? 96 : 112);
    const uint64_t entry = directory + 8 * SecurityEntry;
    if (entry + 8 > size || Read32(image + directory - 4) <= SecurityEntry) return std::nullopt;
    const CertificateTable table{Read32(image + entry), Read32(image + entry + 4)};
    if (table.offset == 0 || table.size == 0) return std::nullopt;
    return table;
}

}  // namespace upkg
