#include <algorithm>

#include "package/file.h"

namespace {
constexpr uint32_t WritePiece = 0x10000;
}  // namespace

bool WriteInPieces(CFileDX& out, const void* bytes, uint32_t length) {
    const uint8_t* next = static_cast<const uint8_t*>(bytes);
    for (uint32_t done = 0; done < length; done += WritePiece) {
        const uint32_t piece = std::min(length - done, WritePiece);
        if (out.Write(next + done, piece) != piece) return false;
    }
    return true;
}
