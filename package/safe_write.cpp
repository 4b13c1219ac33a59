#include "package/safe_write.h"

#include <new>

namespace package {

namespace {

void Step(const SafeWrite& how) {
    if (how.step != nullptr) how.step();
}

}  // namespace

bool StagedFile::Create(const std::u16string& temporary, bool clearFirst) {
    if (!temporary_.empty() || (clearFirst && !folder_.Remove(temporary.c_str())) ||
        !file_.OpenForWriteIn(folder_, temporary.c_str(), CreateNew))
        return false;
    temporary_ = temporary;
    return true;
}

bool StagedFile::PutInPlace(bool flush, bool replace) {
    if (temporary_.empty() || placed_) return false;
    const bool flushed = !flush || file_.Flush();
    file_.Close();
    placed_ = flushed && folder_.Move(temporary_.c_str(), name_.c_str(), replace);
    return placed_;
}

void StagedFile::Discard() {
    file_.Close();
    if (temporary_.empty() || placed_) return;
    folder_.Remove(temporary_.c_str());
    temporary_.clear();
}

bool WriteFileSafely(const char16_t* path, const void* bytes, size_t size, SafeWrite how) {
    HeldFolder folder;
    std::u16string name;
    if (size > 0xFFFFFFFF || !HoldParent(path, folder, name)) return false;
    StagedFile staged(folder, name);
    // The temporary name is cleared first, so that the new bytes never go through something
    // planted there.
    Step(how);
    if (!staged.Create(name + u".tmp", true) ||
        !WriteInPieces(staged.file(), bytes, static_cast<uint32_t>(size)))
        return false;
    Step(how);
    // Windows never replaces a read-only file; a rename elsewhere would.
    const uint32_t old = folder.AttributesOf(name.c_str());
    if (how.replace && old != NoFileAttributes && (old & AttributeReadOnly)) return false;
    // On the disk before the move, so that a power cut cannot leave an empty file behind.
    return staged.PutInPlace(true, how.replace);
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
