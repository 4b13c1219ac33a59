#include <string_view>

#include "package/file.h"
#include "platform/win32.h"

namespace package {

namespace {

// The path of `name` inside the folder, which keeps naming it: a held folder cannot be renamed
// or replaced. Empty unless `name` is one name: not "." or "..", no '\\' or '/'.
std::u16string Inside(const HeldFolder& folder, const char16_t* name) {
    const std::u16string_view one(name);
    if (!folder.IsOpen() || one.empty() || one == u"." || one == u".." ||
        one.find_first_of(u"\\/") != one.npos)
        return {};
    return folder.Path() + u"\\" + name;
}

}  // namespace

bool HeldFolder::Open(const char16_t* path, Links links) {
    Close();
    // Without FILE_SHARE_DELETE nobody can rename or delete the folder while it is held.
    const DWORD flags =
        FILE_FLAG_BACKUP_SEMANTICS | (links == Links::Refuse ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    HANDLE handle =
        CreateFileW(AsWide(path), FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    // Windows reports a link on the handle; Wine only on the name, a Unix link to a folder.
    const DWORD byName = GetFileAttributesW(AsWide(path));
    const DWORD refused = links == Links::Refuse ? FILE_ATTRIBUTE_REPARSE_POINT : 0;
    if (!GetFileInformationByHandle(handle, &info) ||
        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || (info.dwFileAttributes & refused) ||
        byName == INVALID_FILE_ATTRIBUTES || (byName & refused)) {
        CloseHandle(handle);
        return false;
    }
    handle_ = reinterpret_cast<intptr_t>(handle);
    path_ = path;
    return true;
}

bool HeldFolder::Flush() {
    if (!IsOpen()) return false;
    // Flushing a folder takes a handle with write access; the hold pins the name to the folder.
    // On NTFS this writes the folder's entries and the file system's log up to now.
    HANDLE handle = CreateFileW(AsWide(path_.c_str()), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const bool flushed = FlushFileBuffers(handle) != 0;
    CloseHandle(handle);
    if (flushed && FlushHook != nullptr) FlushHook(path_.c_str());
    return flushed;
}

void HeldFolder::Close() {
    if (!IsOpen()) return;
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = -1;
}

bool CFileDX::OpenForWriteIn(const HeldFolder& folder, const char16_t* name, uint32_t mode) {
    // CREATE_NEW fails on anything standing at the name, a link included; an empty path (not one
    // name) fails and is recorded as any failure.
    return OpenForWrite(Inside(folder, name).c_str(), mode);
}

bool HeldFolder::OpenIn(const HeldFolder& parent, const char16_t* name, bool create) {
    Close();
    const std::u16string path = Inside(parent, name);
    if (path.empty()) return false;
    if (create && !CreateDirectoryW(AsWide(path.c_str()), nullptr) &&
        GetLastError() != ERROR_ALREADY_EXISTS)
        return false;
    return Open(path.c_str(), Links::Refuse);
}

uint32_t HeldFolder::AttributesOf(const char16_t* name) const {
    return GetAttributesAt(Inside(*this, name).c_str());
}

bool HeldFolder::SetAttributesOf(const char16_t* name, uint32_t attributes) const {
    return SetAttributesAt(Inside(*this, name).c_str(), attributes);
}

bool HeldFolder::Move(const char16_t* from, const char16_t* to, bool replace) const {
    // MoveFileExW replaces a link itself, never what it points to.
    return MoveFileExW(AsWide(Inside(*this, from).c_str()), AsWide(Inside(*this, to).c_str()),
                       (replace ? MOVEFILE_REPLACE_EXISTING : 0) | MOVEFILE_WRITE_THROUGH) != 0;
}

bool HeldFolder::Remove(const char16_t* name) const {
    const std::u16string path = Inside(*this, name);
    return !path.empty() && RemoveAt(path.c_str());
}

bool HeldFolder::CanReplace(const char16_t* name) const {
    // Replacing takes delete access, which a program holding the file without delete sharing
    // (a running program, an open document) or the file's permissions refuse.
    HANDLE handle = CreateFileW(AsWide(Inside(*this, name).c_str()), DELETE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    CloseHandle(handle);
    return true;
}

}  // namespace package
