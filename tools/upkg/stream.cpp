#include "tools/upkg/stream.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "package/checksum.h"
#include "package/file.h"
#include "tools/upkg/progress.h"

namespace {
constexpr uint32_t ChunkSize = 0x100000;
}

StreamResult StreamWithChecksum(CFileDX& in, uint64_t length, CFileDX* out, uint64_t& checksum,
                                Progress& progress) {
    static thread_local std::unique_ptr<uint8_t[]> buffer(new uint8_t[ChunkSize]);
    uint8_t state[8] = {};
    for (uint64_t left = length; left != 0;) {
        const uint32_t chunk = static_cast<uint32_t>(std::min<uint64_t>(left, ChunkSize));
        if (in.Read(buffer.get(), chunk) != chunk) return StreamResult::ReadShort;
        AddToChecksum(state, buffer.get(), chunk);
        if (out != nullptr && out->Write(buffer.get(), chunk) != chunk)
            return StreamResult::WriteFailed;
        left -= chunk;
        progress.Add(chunk);
    }
    std::memcpy(&checksum, state, sizeof state);
    return StreamResult::Done;
}
