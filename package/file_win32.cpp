#include "package/file.h"

#include "platform/win32.h"
#include "text/convert.h"

namespace package {

namespace {
// FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_ARCHIVE
constexpr DWORD OpenFlags = 0x08000020;

HANDLE AsHandle(intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

std::string ErrorText(DWORD code) {
    wchar_t text[512];
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, text, 512, nullptr);
    // The system's messages end in a line break.
    while (length > 0 && (text[length - 1] == L'\r' || text[length - 1] == L'\n' ||
                          text[length - 1] == L' ' || text[length - 1] == L'.'))
        --length;
    text[length] = 0;
    std::optional<std::string> narrow =
        text::WideToNarrow(AsUtf16(text), text::ConversionMode::ToUtf8);
    if (length == 0 || !narrow) return "error " + std::to_string(code);
    return *narrow;
}
}  // namespace

CFileDX::~CFileDX() {
    Close();
}

void CFileDX::RecordError() {
    lastError_ = systemError_ = GetLastError();
}

std::string CFileDX::LastErrorText() const {
    return ErrorText(systemError_);
}

std::string SystemErrorText() {
    return ErrorText(GetLastError());
}

bool CFileDX::OpenForRead(const char16_t* path, HeldFolder::Links links) {
    if (IsOpen()) return false;
    path_ = path;
    const bool refuse = links == HeldFolder::Links::Refuse;
    HANDLE handle = CreateFileW(AsWide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                OpenFlags | (refuse ? FILE_FLAG_OPEN_REPARSE_POINT : 0), nullptr);
    handle_ = reinterpret_cast<intptr_t>(handle);
    BY_HANDLE_FILE_INFORMATION info;
    if (handle != INVALID_HANDLE_VALUE && refuse &&
        (!GetFileInformationByHandle(handle, &info) ||
         (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))) {
        Close();
        SetLastError(ERROR_CANT_ACCESS_FILE);
    }
    if (!IsOpen()) {
        RecordError();
        return false;
    }
    return true;
}

bool CFileDX::OpenForWrite(const char16_t* path, uint32_t mode) {
    if (IsOpen()) return false;
    path_ = path;
    DWORD disposition = mode == CreateNew ? CREATE_NEW : CREATE_ALWAYS;
    HANDLE handle =
        CreateFileW(AsWide(path), GENERIC_WRITE, 0, nullptr, disposition, OpenFlags, nullptr);
    handle_ = reinterpret_cast<intptr_t>(handle);
    if (handle == INVALID_HANDLE_VALUE) RecordError();
    return handle != INVALID_HANDLE_VALUE;
}

bool CFileDX::GetIdentity(FileIdentity* identity) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!IsOpen() || !GetFileInformationByHandle(AsHandle(handle_), &info)) return false;
    *identity = {info.dwVolumeSerialNumber,
                 uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow,
                 uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow};
    return true;
}

uint32_t CFileDX::GetSize() {
    if (!IsOpen()) return 0xFFFFFFFF;
    return GetFileSize(AsHandle(handle_), nullptr);
}

bool CFileDX::GetFullSize(uint64_t* size) {
    LARGE_INTEGER value;
    if (!IsOpen() || !GetFileSizeEx(AsHandle(handle_), &value)) return false;
    *size = static_cast<uint64_t>(value.QuadPart);
    return true;
}

bool CFileDX::GetPosition(uint64_t* position) {
    LARGE_INTEGER zero{}, value;
    if (!IsOpen() || !SetFilePointerEx(AsHandle(handle_), zero, &value, FILE_CURRENT)) return false;
    *position = static_cast<uint64_t>(value.QuadPart);
    return true;
}

uint32_t CFileDX::Read(void* buffer, uint32_t length) {
    DWORD done = 0;
    if (!IsOpen()) return 0;
    if (ReadFile(AsHandle(handle_), buffer, length, &done, nullptr)) return done;
    RecordError();
    return 0;
}

uint32_t CFileDX::Write(const void* buffer, uint32_t length) {
    DWORD done = 0;
    if (!IsOpen()) return 0;
    if (WriteFile(AsHandle(handle_), buffer, length, &done, nullptr)) return done;
    RecordError();
    return 0;
}

bool CFileDX::Flush() {
    if (!IsOpen() || !FlushFileBuffers(AsHandle(handle_))) return false;
    if (FlushHook != nullptr) FlushHook(path_.c_str());
    return true;
}

std::u16string FromSystemPath(const std::filesystem::path& path) {
    return AsUtf16(path.c_str());
}

extern const char16_t FolderSeparator = u'\\';

bool CFileDX::Reserve(uint64_t size) {
    // Windows allocates; Wine 8 answers that it cannot.
    FILE_ALLOCATION_INFO info;
    info.AllocationSize.QuadPart = static_cast<LONGLONG>(size);
    reserved_ =
        IsOpen() && size > 0 &&
        SetFileInformationByHandle(AsHandle(handle_), FileAllocationInfo, &info, sizeof info);
    return reserved_;
}

bool CFileDX::Seek(int64_t position) {
    if (!IsOpen()) return false;
    LONG high = static_cast<LONG>(position >> 32);
    SetLastError(0);
    DWORD low = SetFilePointer(AsHandle(handle_), static_cast<LONG>(position & 0xFFFFFFFF), &high,
                               FILE_BEGIN);
    // A position whose low 32 bits are all ones also returns 0xFFFFFFFF.
    if (low != INVALID_SET_FILE_POINTER || GetLastError() == NO_ERROR) return true;
    RecordError();
    return false;
}

void CFileDX::Close() {
    reserved_ = false;
    if (!IsOpen()) return;
    CloseHandle(AsHandle(handle_));
    handle_ = InvalidHandle;
}

bool GetProgramPath(char16_t* path, size_t capacity) {
    if (capacity == 0 || capacity > 0xFFFFFFFF) return false;
    DWORD length = GetModuleFileNameW(nullptr, AsWide(path), static_cast<DWORD>(capacity));
    // A path that does not fit comes back cut to the capacity.
    return length != 0 && length < capacity;
}

uint32_t CurrentProcessId() {
    return GetCurrentProcessId();
}

bool MoveFileOver(const char16_t* source, const char16_t* target) {
    // Windows refuses to replace a read-only file; Wine would replace it, so ask first.
    DWORD attributes = GetFileAttributesW(AsWide(target));
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return MoveFileExW(AsWide(source), AsWide(target),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool PathExists(const char16_t* path) {
    return GetFileAttributesW(AsWide(path)) != INVALID_FILE_ATTRIBUTES;
}

bool GetNodeKind(const char16_t* path, NodeKind& kind) {
    const DWORD attributes = GetFileAttributesW(AsWide(path));
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = GetLastError();
        kind = NodeKind::Missing;
        return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
    }
    kind = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? NodeKind::Link
           : (attributes & FILE_ATTRIBUTE_DIRECTORY)   ? NodeKind::Folder
                                                       : NodeKind::File;
    return true;
}

uint32_t GetAttributesAt(const char16_t* path) {
    // GetFileAttributesW reports a link itself, with FILE_ATTRIBUTE_REPARSE_POINT.
    return GetFileAttributesW(AsWide(path));
}

bool SetAttributesAt(const char16_t* path, uint32_t attributes) {
    const DWORD found = GetFileAttributesW(AsWide(path));
    if (found == INVALID_FILE_ATTRIBUTES ||
        (found & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
        return false;
    return SetFileAttributesW(AsWide(path), attributes) != 0;
}

bool MoveToNewName(const char16_t* source, const char16_t* target) {
    // Without MOVEFILE_REPLACE_EXISTING the move fails when anything stands at the target.
    return MoveFileExW(AsWide(source), AsWide(target), MOVEFILE_WRITE_THROUGH) != 0;
}

bool RemoveAt(const char16_t* path) {
    const DWORD found = GetFileAttributesW(AsWide(path));
    if (found == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    // Both calls remove a link or junction itself, never what it points to.
    if (found & FILE_ATTRIBUTE_REPARSE_POINT)
        return (found & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryW(AsWide(path)) != 0
                                                  : DeleteFileW(AsWide(path)) != 0;
    if (found & FILE_ATTRIBUTE_DIRECTORY) return false;
    // Windows refuses to delete a read-only file.
    if ((found & FILE_ATTRIBUTE_READONLY) &&
        !SetFileAttributesW(AsWide(path), found & ~FILE_ATTRIBUTE_READONLY))
        return false;
    if (DeleteFileW(AsWide(path))) return true;
    if (found & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(AsWide(path), found);
    return false;
}

bool DeleteAtRestart(const char16_t* path) {
    return MoveFileExW(AsWide(path), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
}

bool GetAvailableBytes(const char16_t* folder, uint64_t* bytes) {
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(AsWide(folder), &available, nullptr, nullptr)) return false;
    *bytes = available.QuadPart;
    return true;
}

}  // namespace package
