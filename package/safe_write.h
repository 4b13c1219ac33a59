// Writing a file that must survive a failure, and reading one whole: the new bytes go to a
// temporary file beside it, which takes the file's name in one step once it is complete, so
// that a failure or an interruption never leaves a partial file under the final name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "package/file.h"

namespace package {

// A new file written under a temporary name in a held folder and moved to its final name only
// when complete. Every way of writing a file safely goes through it.
class StagedFile {
public:
    // The final place is `name` in `folder`, which must stay held while this lives.
    StagedFile(const HeldFolder& folder, std::u16string name)
        : folder_(folder), name_(std::move(name)) {}
    ~StagedFile() { Discard(); }
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // Creates the temporary file `temporary` (one name in the folder) for exclusive writing,
    // where nothing stands; with `clearFirst`, whatever stands there is removed first, a link
    // as a link. False when that fails, the reason recorded in file() when the create failed.
    bool Create(const std::u16string& temporary, bool clearFirst);
    CFileDX& file() { return file_; }
    const CFileDX& file() const { return file_; }
    const HeldFolder& folder() const { return folder_; }
    const std::u16string& name() const { return name_; }

    // Closes the temporary file, made durable first with `flush`, and moves it to the final
    // name: over a file standing there only with `replace`, and then over the file itself,
    // never through a link. False, SystemErrorText() saying why, when the flush or the move
    // fails; the temporary file then stays until Discard.
    bool PutInPlace(bool flush, bool replace);

    // Closes and removes the temporary file unless it was put in place.
    void Discard();

private:
    const HeldFolder& folder_;
    std::u16string name_;
    std::u16string temporary_;  // empty until created
    CFileDX file_;
    bool placed_ = false;
};

// How WriteFileSafely puts the new file in place.
struct SafeWrite {
    bool replace = true;       // over the old file, or only where no file stands
    void (*step)() = nullptr;  // called before each change to the folder; null for none
};

// Writes `size` bytes to a fresh "<path>.tmp" (a name recovery knows; whatever stood there
// removed first, a link as a link), flushes it and moves it to `path`. False when the folder
// cannot be held, a write comes up short or the move fails (the old file is read-only, or
// stands there when it must not); the temporary file is then deleted and the old file stays
// exactly as it was.
bool WriteFileSafely(const char16_t* path, const void* bytes, size_t size, SafeWrite how = {});

// Reads the whole file at `path` into `bytes`; false when it cannot be opened or read in
// full, or holds more than `limit` bytes.
bool ReadWholeFile(const char16_t* path, std::string& bytes, uint64_t limit);

}  // namespace package
