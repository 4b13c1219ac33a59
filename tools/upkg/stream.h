// The packer's one copy loop: read a chunk, fold it into the checksum, pass it on.
#pragma once

#include <cstdint>

class CFileDX;
class Progress;

enum class StreamResult { Done, ReadShort, WriteFailed };

// Reads `length` bytes from the current position of `in` in 1 MiB chunks, folding them
// into `checksum` (the 8 bytes as one little-endian value) and writing them to `out` when
// it is given.
StreamResult StreamWithChecksum(CFileDX& in, uint64_t length, CFileDX* out, uint64_t& checksum,
                                Progress& progress);
