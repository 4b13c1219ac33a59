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
#include "package/native_path.h"
#include "text/codepage.h"
#include "text/encoding.h"

namespace package {

namespace {

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

bool ToNativePath(const char16_t* path, std::string* native) {
    native->clear();
    for (const char16_t* at = path; *at != 0; ++at) {
        uint32_t code = *at;
        if (code >= 0xD800 && code <= 0xDBFF && at[1] >= 0xDC00 && at[1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (*++at - 0xDC00);
        } else if (code >= 0xDC80 && code <= 0xDCFF) {
            *native += static_cast<char>(code - 0xDC00);  // a byte that was not UTF-8
            continue;
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            return false;
        }
        text::AppendUtf8(code, native);
    }
    return !native->empty();
}

std::u16string FromSystemPath(const std::filesystem::path& path) {
    const std::string& bytes = path.native();
    const auto* text = reinterpret_cast<const unsigned char*>(bytes.data());
    std::u16string wide;
    for (size_t at = 0; at < bytes.size();) {
        uint32_t code;
        const uint32_t length =
            text::DecodeUtf8Strictly(bytes.data() + at, bytes.size() - at, &code);
        if (length == 0) {
            wide += static_cast<char16_t>(0xDC00 + text[at++]);
        } else if (code >= 0x10000) {
            wide += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
            wide += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
        } else {
            wide += static_cast<char16_t>(code);
        }
        at += length;
    }
    return wide;
}

extern const char16_t FolderSeparator = u'/';

uint32_t AttributesFromStat(const struct stat& info, const struct stat* followed) {
    if (S_ISLNK(info.st_mode))
        return AttributeReparsePoint |
               (followed != nullptr && S_ISDIR(followed->st_mode) ? AttributeDirectory : 0);
    if (S_ISDIR(info.st_mode)) return AttributeDirectory;
    return IsReadOnly(info) ? AttributeReadOnly : AttributeNormal;
}

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

bool CFileDX::OpenForRead(const char16_t* path, HeldFolder::Links links) {
    if (IsOpen()) return false;
    path_ = path;
    std::string native;
    if (!ToNativePath(path, &native)) {
        errno = ENOENT;
        RecordError();
        return false;
    }
    int fd = open(native.c_str(),
                  O_RDONLY | O_CLOEXEC | (links == HeldFolder::Links::Refuse ? O_NOFOLLOW : 0));
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

bool CFileDX::GetIdentity(FileIdentity* identity) {
    struct stat info;
    if (!IsOpen() || fstat(static_cast<int>(handle_), &info) != 0) return false;
    *identity = {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino),
                 static_cast<uint64_t>(info.st_size)};
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
    size_t needed =
        text::CodePageToWide(text::CodePageUtf8, native, static_cast<size_t>(length), nullptr, 0);
    if (needed == 0 || needed >= capacity) return false;
    text::CodePageToWide(text::CodePageUtf8, native, static_cast<size_t>(length), path, capacity);
    path[needed] = 0;
    return true;
}

uint32_t CurrentProcessId() {
    return static_cast<uint32_t>(getpid());
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

bool GetNodeKind(const char16_t* path, NodeKind& kind) {
    std::string native;
    struct stat info;
    kind = NodeKind::Missing;
    if (!ToNativePath(path, &native)) {
        errno = EINVAL;
        return false;
    }
    if (lstat(native.c_str(), &info) != 0) return errno == ENOENT || errno == ENOTDIR;
    kind = S_ISLNK(info.st_mode)   ? NodeKind::Link
           : S_ISDIR(info.st_mode) ? NodeKind::Folder
           : S_ISREG(info.st_mode) ? NodeKind::File
                                   : NodeKind::Other;
    return true;
}

uint32_t GetAttributesAt(const char16_t* path) {
    std::string native;
    struct stat info;
    if (!ToNativePath(path, &native) || lstat(native.c_str(), &info) != 0) return NoFileAttributes;
    struct stat followed;
    return AttributesFromStat(info, stat(native.c_str(), &followed) == 0 ? &followed : nullptr);
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

bool PathExists(const char16_t* path) {
    std::string native;
    struct stat info;
    return ToNativePath(path, &native) && stat(native.c_str(), &info) == 0;
}

}  // namespace package
