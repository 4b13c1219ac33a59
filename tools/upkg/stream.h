// The packer's one copy loop: read a chunk, fold it into the checksum, pass it on.
#pragma once

#include <cstdint>

namespace package {
class CFileDX;
}

namespace upkg {

class Progress;

enum class StreamResult { Done, ReadShort, WriteFailed };

constexpr uint32_t StreamChunkSize = 0x100000;

// Reads `length` bytes from the current position of `in` in chunks of StreamChunkSize,
// folding them into `checksum` (the 8 bytes as one little-endian value) and writing them to
// `out` when it is given. A chunk that cannot be read in full is neither folded nor
// written; after Done, `in` stands right after the `length` bytes. Longer streams are read
// ahead on a second thread; `progress` is only called from this one.
StreamResult StreamWithChecksum(package::CFileDX& in, uint64_t length, package::CFileDX* out,
                                uint64_t& checksum, Progress& progress);

// Called after each file that build packs or extract writes, before the next; null in the
// program. Tests change the file system there, as another program might meanwhile.
extern void (*BetweenFilesHook)();

}  // namespace upkg
