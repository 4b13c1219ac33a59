#include <algorithm>
#include <string>
#include <utility>

#include "package/file.h"

namespace package {

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

// '\\' on Windows, '/' elsewhere.
extern const char16_t FolderSeparator;

bool JoinPath(char16_t* out, size_t capacity, const char16_t* folder, const char16_t* relative) {
    const size_t folderLength = std::char_traits<char16_t>::length(folder);
    const size_t relativeLength = std::char_traits<char16_t>::length(relative);
    if (folderLength + 1 + relativeLength >= capacity) return false;
    std::copy(folder, folder + folderLength, out);
    out[folderLength] = FolderSeparator;
    std::replace_copy(relative, relative + relativeLength, out + folderLength + 1, u'\\',
                      FolderSeparator);
    out[folderLength + 1 + relativeLength] = 0;
    return true;
}

bool HoldParent(const char16_t* path, HeldFolder& folder, std::u16string& name) {
    const std::u16string whole(path);
    const size_t last = whole.find_last_of(std::u16string{u'/', FolderSeparator});
    if (last == std::u16string::npos) {
        name = whole;
        return folder.Open(u".", HeldFolder::Links::Follow);
    }
    // A root ("/", "C:\\") keeps its separator; "C:" alone would name the drive's current folder.
    const bool root = last == 0 || whole[last - 1] == u':';
    name = whole.substr(last + 1);
    return folder.Open(whole.substr(0, root ? last + 1 : last).c_str(), HeldFolder::Links::Follow);
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

}  // namespace package
