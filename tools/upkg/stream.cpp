#include "tools/upkg/stream.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "package/checksum.h"
#include "package/file.h"
#include "tools/upkg/progress.h"

namespace {
// Chunks the reading thread may hold ahead of the one being written.
constexpr uint64_t Buffers = 3;
// A chunk goes out in quarters: Linux backs one large write with large page-cache blocks,
// which on a virtual machine made whole-chunk writes up to twice as slow.
constexpr uint32_t WritePiece = StreamChunkSize / 4;

bool WriteInPieces(CFileDX& out, const uint8_t* bytes, uint32_t length) {
    for (uint32_t done = 0; done < length; done += WritePiece) {
        const uint32_t piece = std::min(length - done, WritePiece);
        if (out.Write(bytes + done, piece) != piece) return false;
    }
    return true;
}
}  // namespace

StreamResult StreamWithChecksum(CFileDX& in, uint64_t length, CFileDX* out, uint64_t& checksum,
                                Progress& progress) {
    static thread_local std::unique_ptr<uint8_t[]> memory(new uint8_t[Buffers * StreamChunkSize]);
    // Taken here: in the reading thread `memory` would name that thread's own buffers.
    uint8_t* const buffers = memory.get();
    const uint64_t chunks = (length + StreamChunkSize - 1) / StreamChunkSize;
    auto bufferOf = [&](uint64_t k) { return buffers + k % Buffers * StreamChunkSize; };
    auto sizeOf = [&](uint64_t k) {
        return static_cast<uint32_t>(
            std::min<uint64_t>(length - k * StreamChunkSize, StreamChunkSize));
    };

    // Writing costs the most, so with an output the reading thread also folds; without one,
    // folding is the other thread's whole work. Either way the chunks are folded in order.
    const bool foldWhileReading = out != nullptr;
    uint8_t state[8] = {};
    auto fill = [&](uint64_t k) {
        if (in.Read(bufferOf(k), sizeOf(k)) != sizeOf(k)) return false;
        if (foldWhileReading) AddToChecksum(state, bufferOf(k), sizeOf(k));
        return true;
    };
    auto drain = [&](uint64_t k) {
        if (!foldWhileReading) AddToChecksum(state, bufferOf(k), sizeOf(k));
        if (out != nullptr && !WriteInPieces(*out, bufferOf(k), sizeOf(k))) return false;
        progress.Add(sizeOf(k));
        return true;
    };
    auto finish = [&](StreamResult result) {
        if (result == StreamResult::Done) std::memcpy(&checksum, state, sizeof state);
        return result;
    };
    auto serially = [&] {
        for (uint64_t k = 0; k < chunks; ++k) {
            if (!fill(k)) return finish(StreamResult::ReadShort);
            if (!drain(k)) return finish(StreamResult::WriteFailed);
        }
        return finish(StreamResult::Done);
    };
    // A single chunk gains nothing from a second thread.
    if (chunks <= 1) return serially();

    std::mutex mutex;
    std::condition_variable changed;
    uint64_t filled = 0;   // chunks read in full
    uint64_t drained = 0;  // chunks whose buffers may be filled again
    bool readShort = false, stop = false;
    auto readAhead = [&] {
        for (uint64_t k = 0; k < chunks; ++k) {
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return stop || k - drained < Buffers; });
                if (stop) return;
            }
            const bool full = fill(k);
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (full)
                    ++filled;
                else
                    readShort = true;
            }
            changed.notify_one();
            if (!full) return;
        }
    };
    std::thread reader;
    try {
        reader = std::thread(readAhead);
    } catch (const std::system_error&) {
        return serially();
    }

    // Results come in the order of the chunks, as if one thread did everything.
    StreamResult result = StreamResult::Done;
    for (uint64_t k = 0; k < chunks; ++k) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return filled > k || readShort; });
            if (filled == k) {
                result = StreamResult::ReadShort;
                break;
            }
        }
        if (!drain(k)) {
            result = StreamResult::WriteFailed;
            break;
        }
        {
            std::lock_guard<std::mutex> lock(mutex);
            drained = k + 1;
        }
        changed.notify_one();
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        stop = true;
    }
    changed.notify_one();
    reader.join();
    return finish(result);
}
