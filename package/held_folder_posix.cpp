#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "package/file.h"
#include "package/native_path.h"

namespace package {

namespace {

int Descriptor(const HeldFolder& folder) {
    return static_cast<int>(folder.Handle());
}

}  // namespace

bool ToNativeName(const char16_t* name, std::string* native) {
    if (ToNativePath(name, native) && native->find('/') == std::string::npos && *native != "." &&
        *native != "..")
        return true;
    errno = EINVAL;
    return false;
}

bool CFileDX::OpenForWriteIn(const HeldFolder& folder, const char16_t* name, uint32_t mode) {
    if (IsOpen()) return false;
    path_ = folder.Path() + u"/" + name;
    std::string native;
    int fd = -1;
    if (ToNativeName(name, &native)) {
        const int flags =
            O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | (mode == CreateNew ? O_EXCL : O_TRUNC);
        fd = openat(static_cast<int>(folder.Handle()), native.c_str(), flags, 0644);
    }
    if (fd < 0) {
        RecordError();
        return false;
    }
    handle_ = fd;
    return true;
}

bool HeldFolder::Open(const char16_t* path, Links links) {
    Close();
    std::string native;
    if (!ToNativePath(path, &native)) return false;
    const int fd = open(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC |
                                            (links == Links::Refuse ? O_NOFOLLOW : 0));
    if (fd < 0) return false;
    handle_ = fd;
    path_ = path;
    return true;
}

bool HeldFolder::OpenIn(const HeldFolder& parent, const char16_t* name, bool create) {
    Close();
    std::string native;
    if (!parent.IsOpen() || !ToNativeName(name, &native)) return false;
    if (create && mkdirat(Descriptor(parent), native.c_str(), 0755) != 0 && errno != EEXIST)
        return false;
    // O_NOFOLLOW refuses a link at the name; O_DIRECTORY anything but a folder.
    const int fd =
        openat(Descriptor(parent), native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    handle_ = fd;
    path_ = parent.path_ + u"/" + name;
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

uint32_t HeldFolder::AttributesOf(const char16_t* name) const {
    std::string native;
    struct stat info, followed;
    if (!ToNativeName(name, &native) ||
        fstatat(Descriptor(*this), native.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return NoFileAttributes;
    const bool known = fstatat(Descriptor(*this), native.c_str(), &followed, 0) == 0;
    return AttributesFromStat(info, known ? &followed : nullptr);
}

bool HeldFolder::SetAttributesOf(const char16_t* name, uint32_t attributes) const {
    std::string native;
    struct stat info;
    if (!ToNativeName(name, &native) ||
        fstatat(Descriptor(*this), native.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(info.st_mode))
        return false;
    // Only the read-only attribute has a counterpart: the owner's write bit.
    const mode_t mode =
        (attributes & AttributeReadOnly) ? (info.st_mode & ~0222) : (info.st_mode | S_IWUSR);
    return fchmodat(Descriptor(*this), native.c_str(), mode & 07777, 0) == 0;
}

bool HeldFolder::Move(const char16_t* from, const char16_t* to, bool replace) const {
    std::string source, target;
    if (!ToNativeName(from, &source) || !ToNativeName(to, &target)) return false;
    const int fd = Descriptor(*this);
    // rename replaces a link itself, never what it points to.
    bool moved = replace ? renameat(fd, source.c_str(), fd, target.c_str()) == 0
                         : renameat2(fd, source.c_str(), fd, target.c_str(), RENAME_NOREPLACE) == 0;
    if (!moved && !replace && (errno == EINVAL || errno == ENOSYS)) {
        // File systems without the flag still refuse a hard link onto an existing name.
        moved = linkat(fd, source.c_str(), fd, target.c_str(), 0) == 0;
        if (moved) unlinkat(fd, source.c_str(), 0);
    }
    return moved;
}

bool HeldFolder::Remove(const char16_t* name) const {
    std::string native;
    struct stat info;
    if (!ToNativeName(name, &native)) return false;
    if (fstatat(Descriptor(*this), native.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT;
    return !S_ISDIR(info.st_mode) && unlinkat(Descriptor(*this), native.c_str(), 0) == 0;
}

bool HeldFolder::CanReplace(const char16_t* name) const {
    std::string native;
    struct stat info;
    // Replacing changes the folder's names: it takes write and search access to the folder.
    return ToNativeName(name, &native) &&
           fstatat(Descriptor(*this), native.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
           faccessat(Descriptor(*this), ".", W_OK | X_OK, AT_EACCESS) == 0;
}

}  // namespace package
