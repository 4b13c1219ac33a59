#include <algorithm>
#include <utility>

#include "package/file.h"

void (*FlushHook)(const char16_t* path) = nullptr;

namespace {
constexpr uint32_t WritePiece = 0x10000;
constexpr uint32_t ReservedWritePiece = 0x20000;
}  // namespace

bool WriteInPieces(CFileDX& out, const void* bytes, uint32_t length) {
    const uint8_t* next = static_cast<const uint8_t*>(bytes);
    const uint32_t most = out.HasReservedRoom() ? ReservedWritePiece : WritePiece;
    for (uint32_t done = 0; done < length; done += most) {
        const uint32_t piece = std::min(length - done, most);
        if (out.Write(next + done, piece) != piece) return false;
    }
    return true;
}

HeldFolder::~HeldFolder() {
    Close();
}

HeldFolder::HeldFolder(HeldFolder&& other) noexcept
    : handle_(other.handle_), path_(std::move(other.path_)) {
    other.handle_ = -1;
}

HeldFolder& HeldFolder::operator=(HeldFolder&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = other.handle_;
        path_ = std::move(other.path_);
        other.handle_ = -1;
    }
    return *this;
}
