#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <system_error>

#include "package/file.h"
#include "text/codepage.h"

namespace {

// Paths arrive in Windows form: a backslash separates folders, as a slash does.
bool ToNativePath(const char16_t* path, std::string* native) {
    size_t length = std::char_traits<char16_t>::length(path);
    if (length == 0) return false;
    size_t needed = WideToCodePage(CodePageUtf8, path, length, nullptr, 0);
    if (needed == 0) return false;
    native->resize(needed);
    if (WideToCodePage(CodePageUtf8, path, length, native->data(), needed) != needed) return false;
    std::replace(native->begin(), native->end(), '\\', '/');
    return true;
}

// Windows' read-only attribute, as the owner's missing write bit: it refuses writing and
// replacing even to an administrator, where root would otherwise pass.
bool IsReadOnly(const struct stat& info) {
    return !(info.st_mode & S_IWUSR);
}

uint32_t WindowsError(int error) {
    switch (error) {
        case ENOENT:
            return ErrorFileNotFound;
        case ENOTDIR:
            return ErrorPathNotFound;
        case EEXIST:
            return ErrorFileExists;
        default:
            return ErrorAccessDenied;
    }
}

}  // namespace

CFileDX::~CFileDX() {
    Close();
}

void CFileDX::RecordError() {
    systemError_ = static_cast<uint32_t>(errno);
    lastError_ = WindowsError(errno);
}

std::string CFileDX::LastErrorText() const {
    return std::generic_category().message(static_cast<int>(systemError_));
}

std::string SystemErrorText() {
    return std::generic_category().message(errno);
}

bool CFileDX::OpenForRead(const char16_t* path) {
    if (IsOpen()) return false;
    path_ = path;
    std::string native;
    if (!ToNativePath(path, &native)) {
        errno = ENOENT;
        RecordError();
        return false;
    }
    int fd = open(native.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info;
    if (fd >= 0 && (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode))) {
        // Windows refuses to open a folder as a file.
        close(fd);
        fd = -1;
        errno = EISDIR;
    }
    if (fd < 0) {
        RecordError();
        return false;
    }
    handle_ = fd;
    return true;
}

bool CFileDX::OpenForWrite(const char16_t* path, uint32_t mode) {
    if (IsOpen()) return false;
    path_ = path;
    std::string native;
    if (!ToNativePath(path, &native)) {
        errno = ENOENT;
        RecordError();
        return false;
    }
    struct stat info;
    int fd = -1;
    if (stat(native.c_str(), &info) == 0 && (S_ISDIR(info.st_mode) || IsReadOnly(info))) {
        errno = mode == CreateNew ? EEXIST : S_ISDIR(info.st_mode) ? EISDIR : EACCES;
    } else {
        int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (mode == CreateNew ? O_EXCL : O_TRUNC);
        fd = open(native.c_str(), flags, 0644);
    }
    if (fd < 0) {
        RecordError();
        return false;
    }
    handle_ = fd;
    return true;
}

uint32_t CFileDX::GetSize() {
    uint64_t size;
    if (!GetFullSize(&size)) return 0xFFFFFFFF;
    return static_cast<uint32_t>(size);
}

bool CFileDX::GetFullSize(uint64_t* size) {
    struct stat info;
    if (!IsOpen() || fstat(static_cast<int>(handle_), &info) != 0) return false;
    *size = static_cast<uint64_t>(info.st_size);
    return true;
}

bool CFileDX::GetPosition(uint64_t* position) {
    if (!IsOpen()) return false;
    off_t offset = lseek(static_cast<int>(handle_), 0, SEEK_CUR);
    if (offset < 0) return false;
    *position = static_cast<uint64_t>(offset);
    return true;
}

uint32_t CFileDX::Read(void* buffer, uint32_t length) {
    if (!IsOpen()) return 0;
    uint32_t done = 0;
    while (done < length) {
        ssize_t got =
            read(static_cast<int>(handle_), static_cast<char*>(buffer) + done, length - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            RecordError();
            return 0;
        }
        if (got == 0) break;
        done += static_cast<uint32_t>(got);
    }
    return done;
}

uint32_t CFileDX::Write(const void* buffer, uint32_t length) {
    if (!IsOpen()) return 0;
    uint32_t done = 0;
    while (done < length) {
        ssize_t put = write(static_cast<int>(handle_), static_cast<const char*>(buffer) + done,
                            length - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            if (put == 0) errno = ENOSPC;
            RecordError();
            return 0;
        }
        done += static_cast<uint32_t>(put);
    }
    return done;
}

bool CFileDX::Flush() {
    if (!IsOpen() || fsync(static_cast<int>(handle_)) != 0) return false;
    if (FlushHook != nullptr) FlushHook(path_.c_str());
    return true;
}

bool CFileDX::Reserve(uint64_t size) {
    reserved_ =
        IsOpen() && size > 0 &&
        fallocate(static_cast<int>(handle_), FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size)) == 0;
    return reserved_;
}

bool CFileDX::Seek(int64_t position) {
    if (!IsOpen() || position < 0) return false;
    if (lseek(static_cast<int>(handle_), static_cast<off_t>(position), SEEK_SET) >= 0) return true;
    RecordError();
    return false;
}

void CFileDX::Close() {
    reserved_ = false;
    if (!IsOpen()) return;
    close(static_cast<int>(handle_));
    handle_ = InvalidHandle;
}

bool GetProgramPath(char16_t* path, size_t capacity) {
    char native[4096];
    ssize_t length = readlink("/proc/self/exe", native, sizeof native);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof native) return false;
    size_t needed = CodePageToWide(CodePageUtf8, native, static_cast<size_t>(length), nullptr, 0);
    if (needed == 0 || needed >= capacity) return false;
    CodePageToWide(CodePageUtf8, native, static_cast<size_t>(length), path, capacity);
    path[needed] = 0;
    return true;
}

bool MoveFileOver(const char16_t* source, const char16_t* target) {
    std::string from, to;
    if (!ToNativePath(source, &from) || !ToNativePath(target, &to)) return false;
    struct stat info;
    if (stat(to.c_str(), &info) == 0 && (S_ISDIR(info.st_mode) || IsReadOnly(info))) {
        errno = S_ISDIR(info.st_mode) ? EISDIR : EACCES;
        return false;
    }
    return std::rename(from.c_str(), to.c_str()) == 0;
}

uint32_t GetAttributesAt(const char16_t* path) {
    std::string native;
    struct stat info;
    if (!ToNativePath(path, &native) || lstat(native.c_str(), &info) != 0) return NoFileAttributes;
    if (S_ISLNK(info.st_mode))
        return AttributeReparsePoint |
               (stat(native.c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? AttributeDirectory : 0);
    if (S_ISDIR(info.st_mode)) return AttributeDirectory;
    return IsReadOnly(info) ? AttributeReadOnly : AttributeNormal;
}

bool SetAttributesAt(const char16_t* path, uint32_t attributes) {
    std::string native;
    struct stat info;
    if (!ToNativePath(path, &native) || lstat(native.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    // Only the read-only attribute has a counterpart: the owner's write bit.
    const mode_t mode =
        (attributes & AttributeReadOnly) ? (info.st_mode & ~0222) : (info.st_mode | S_IWUSR);
    return chmod(native.c_str(), mode & 07777) == 0;
}

bool MoveToNewName(const char16_t* source, const char16_t* target) {
    std::string from, to;
    if (!ToNativePath(source, &from) || !ToNativePath(target, &to)) return false;
    return renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
}

bool RemoveAt(const char16_t* path) {
    std::string native;
    struct stat info;
    if (!ToNativePath(path, &native)) return false;
    if (lstat(native.c_str(), &info) != 0) return errno == ENOENT || errno == ENOTDIR;
    // unlink removes a link itself.
    return !S_ISDIR(info.st_mode) && unlink(native.c_str()) == 0;
}

bool DeleteAtRestart(const char16_t*) {
    return false;
}

bool GetAvailableBytes(const char16_t* folder, uint64_t* bytes) {
    std::string native;
    struct statvfs info;
    if (!ToNativePath(folder, &native) || statvfs(native.c_str(), &info) != 0) return false;
    *bytes = uint64_t{info.f_bavail} * info.f_frsize;
    return true;
}

bool HeldFolder::Open(const char16_t* path, Links links) {
    Close();
    std::string native;
    if (!ToNativePath(path, &native)) return false;
    const int fd = open(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC |
                                            (links == RefuseLink ? O_NOFOLLOW : 0));
    if (fd < 0) return false;
    handle_ = fd;
    path_ = path;
    return true;
}

bool HeldFolder::Flush() {
    if (!IsOpen() || fsync(static_cast<int>(handle_)) != 0) return false;
    if (FlushHook != nullptr) FlushHook(path_.c_str());
    return true;
}

void HeldFolder::Close() {
    if (!IsOpen()) return;
    close(static_cast<int>(handle_));
    handle_ = -1;
}

bool DeleteFileAt(const char16_t* path) {
    std::string native;
    if (!ToNativePath(path, &native)) return false;
    struct stat info;
    if (stat(native.c_str(), &info) != 0 || S_ISDIR(info.st_mode) || IsReadOnly(info)) return false;
    return unlink(native.c_str()) == 0;
}

bool PathExists(const char16_t* path) {
    std::string native;
    struct stat info;
    return ToNativePath(path, &native) && stat(native.c_str(), &info) == 0;
}
