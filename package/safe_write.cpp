#include "package/safe_write.h"

#include <new>

#include "package/file.h"

namespace package {

namespace {

void Step(const SafeWrite& how) {
    if (how.step != nullptr) how.step();
}

}  // namespace

bool WriteFileSafely(const char16_t* path, const void* bytes, size_t size, SafeWrite how) {
    const std::u16string temporary = std::u16string(path) + u".tmp";
    if (size > 0xFFFFFFFF) return false;
    // Whatever stands at the temporary name goes first, a link as a link, so that the new
    // bytes never go through something planted there.
    Step(how);
    CFileDX file;
    if (!RemoveAt(temporary.c_str()) || !file.OpenForWrite(temporary.c_str(), CreateNew))
        return false;
    // On the disk before the move, so that a power cut cannot leave an empty file behind.
    const bool written = WriteInPieces(file, bytes, static_cast<uint32_t>(size)) && file.Flush();
    file.Close();
    Step(how);
    if (written && (how.replace ? MoveFileOver(temporary.c_str(), path)
                                : MoveToNewName(temporary.c_str(), path)))
        return true;
    RemoveAt(temporary.c_str());
    return false;
}

bool ReadWholeFile(const char16_t* path, std::string& bytes, uint64_t limit) {
    CFileDX file;
    uint64_t size = 0;
    if (!file.OpenForRead(path) || !file.GetFullSize(&size) || size > limit || size > 0xFFFFFFFF)
        return false;
    // A list too large to hold is refused, never a reason to end the process.
    try {
        bytes.assign(size, '\0');
    } catch (const std::bad_alloc&) {
        return false;
    }
    return size == 0 || file.Read(&bytes[0], static_cast<uint32_t>(size)) == size;
}

}  // namespace package
