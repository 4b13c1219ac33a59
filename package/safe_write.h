// Writing a file that must survive a failure: the new bytes go to a temporary file beside
// it, which then replaces the old file in one step.
#pragma once

#include <cstdint>
#include <initializer_list>

struct ByteRange {
    const void* data;
    uint32_t length;
};

// Writes `pieces` in order to a fresh "<path>.tmp", flushes it and moves it over `path`.
// False when any write comes up short or the move fails (the old file is read-only, say);
// the temporary file is then deleted and the old file stays exactly as it was.
bool WriteFileSafely(const char16_t* path, std::initializer_list<ByteRange> pieces);
