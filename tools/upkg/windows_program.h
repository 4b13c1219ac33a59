// What the packer reads in a Windows program's headers: that it is one, and where its
// Authenticode signature lies. Signing tools append the signature (the certificate table)
// at the end of the file and name it in the optional header's data directory.
#pragma once

#include <cstdint>
#include <optional>

namespace upkg {

// True when the file's first `size` bytes start with "MZ" and hold at 0x3C the offset of
// a "PE\0\0" signature within them.
bool IsWindowsProgram(const uint8_t* image, uint64_t size);

struct CertificateTable {
    uint32_t offset;  // from the start of the file
    uint32_t size;
};

// The certificate table that the headers among the file's first `size` bytes name;
// nullopt when they name none or are cut short.
std::optional<CertificateTable> FindCertificateTable(const uint8_t* image, uint64_t size);

}  // namespace upkg
