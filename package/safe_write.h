// Writing a file that must survive a failure, and reading one whole: the new bytes go to a
// temporary file beside it ("<path>.tmp", a name recovery knows), flushed, which then takes
// the file's name in one step.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace package {

// How WriteFileSafely puts the new file in place.
struct SafeWrite {
    bool replace = true;       // over the old file, or only where no file stands
    void (*step)() = nullptr;  // called before each change to the folder; null for none
};

// Writes `size` bytes to a fresh "<path>.tmp" (whatever stood there removed first, a link as
// a link), flushes it and moves it to `path`. False when a write comes up short or the move
// fails (the old file is read-only, or stands there when it must not); the temporary file
// is then deleted and the old file stays exactly as it was.
bool WriteFileSafely(const char16_t* path, const void* bytes, size_t size, SafeWrite how = {});

// Reads the whole file at `path` into `bytes`; false when it cannot be opened or read in
// full, or holds more than `limit` bytes.
bool ReadWholeFile(const char16_t* path, std::string& bytes, uint64_t limit);

}  // namespace package
