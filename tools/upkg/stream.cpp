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

// One stream's chunks: `Fill` reads chunk k into its buffer, `Drain` passes it on. Writing
// costs the most, so with an output the reading side also folds; without one, folding is
// the draining side's whole work. Either way the chunks are folded in order.
struct Chunks {
    CFileDX& in;
    CFileDX* out;
    uint64_t length;
    uint8_t* buffers;
    Progress& progress;
    uint8_t state[8] = {};

    uint64_t Count() const { return (length + StreamChunkSize - 1) / StreamChunkSize; }
    uint8_t* BufferOf(uint64_t k) const { return buffers + k % Buffers * StreamChunkSize; }
    uint32_t SizeOf(uint64_t k) const {
        return static_cast<uint32_t>(
            std::min<uint64_t>(length - k * StreamChunkSize, StreamChunkSize));
    }
    bool Fill(uint64_t k) {
        if (in.Read(BufferOf(k), SizeOf(k)) != SizeOf(k)) return false;
        if (out != nullptr) AddToChecksum(state, BufferOf(k), SizeOf(k));
        return true;
    }
    bool Drain(uint64_t k) {
        if (out == nullptr) AddToChecksum(state, BufferOf(k), SizeOf(k));
        if (out != nullptr && !WriteInPieces(*out, BufferOf(k), SizeOf(k))) return false;
        progress.Add(SizeOf(k));
        return true;
    }
};

StreamResult Serially(Chunks& chunks) {
    for (uint64_t k = 0; k < chunks.Count(); ++k) {
        if (!chunks.Fill(k)) return StreamResult::ReadShort;
        if (!chunks.Drain(k)) return StreamResult::WriteFailed;
    }
    return StreamResult::Done;
}

// The hand-over between the reading thread and this one.
struct Handover {
    std::mutex mutex;
    std::condition_variable changed;
    uint64_t filled = 0;   // chunks read in full
    uint64_t drained = 0;  // chunks whose buffers may be filled again
    bool readShort = false;
    bool stop = false;
};

void ReadAhead(Chunks& chunks, Handover& handover) {
    for (uint64_t k = 0; k < chunks.Count(); ++k) {
        {
            std::unique_lock<std::mutex> lock(handover.mutex);
            handover.changed.wait(lock,
                                  [&] { return handover.stop || k - handover.drained < Buffers; });
            if (handover.stop) return;
        }
        const bool full = chunks.Fill(k);
        {
            std::lock_guard<std::mutex> lock(handover.mutex);
            if (full)
                ++handover.filled;
            else
                handover.readShort = true;
        }
        handover.changed.notify_one();
        if (!full) return;
    }
}

// Drains the chunks as the reading thread fills them; results come in the order of the
// chunks, as if one thread did everything.
StreamResult DrainInOrder(Chunks& chunks, Handover& handover) {
    for (uint64_t k = 0; k < chunks.Count(); ++k) {
        {
            std::unique_lock<std::mutex> lock(handover.mutex);
            handover.changed.wait(lock, [&] { return handover.filled > k || handover.readShort; });
            if (handover.filled == k) return StreamResult::ReadShort;
        }
        if (!chunks.Drain(k)) return StreamResult::WriteFailed;
        {
            std::lock_guard<std::mutex> lock(handover.mutex);
            handover.drained = k + 1;
        }
        handover.changed.notify_one();
    }
    return StreamResult::Done;
}

StreamResult WithReadAhead(Chunks& chunks) {
    Handover handover;
    std::thread reader;
    try {
        reader = std::thread(ReadAhead, std::ref(chunks), std::ref(handover));
    } catch (const std::system_error&) {
        return Serially(chunks);
    }
    const StreamResult result = DrainInOrder(chunks, handover);
    {
        std::lock_guard<std::mutex> lock(handover.mutex);
        handover.stop = true;
    }
    handover.changed.notify_one();
    reader.join();
    return result;
}

}  // namespace

StreamResult StreamWithChecksum(CFileDX& in, uint64_t length, CFileDX* out, uint64_t& checksum,
                                Progress& progress) {
    static thread_local std::unique_ptr<uint8_t[]> memory(new uint8_t[Buffers * StreamChunkSize]);
    Chunks chunks{in, out, length, memory.get(), progress};
    // A single chunk gains nothing from a second thread.
    const StreamResult result = chunks.Count() <= 1 ? Serially(chunks) : WithReadAhead(chunks);
    if (result == StreamResult::Done) std::memcpy(&checksum, chunks.state, sizeof chunks.state);
    return result;
}
