#include "tools/upkg/stream.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "package/checksum.h"
#include "package/file.h"
#include "tools/upkg/progress.h"

namespace upkg {

void (*BetweenFilesHook)() = nullptr;

namespace {

// Chunks the reading thread may hold ahead of the one being written.
constexpr uint64_t Buffers = 3;

// One stream's chunks: `Fill` reads chunk k into its buffer, `Drain` passes it on. Writing
// costs the most, so with an output the reading side also folds; without one, folding is
// the draining side's whole work. Either way the chunks are folded in order.
struct Chunks {
    package::CFileDX& in;
    package::CFileDX* out;
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
        if (out != nullptr) package::AddToChecksum(state, BufferOf(k), SizeOf(k));
        return true;
    }
    bool Drain(uint64_t k) {
        if (out == nullptr) package::AddToChecksum(state, BufferOf(k), SizeOf(k));
        if (out != nullptr && !package::WriteInPieces(*out, BufferOf(k), SizeOf(k))) return false;
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

// How often a thread that waits for the other checks again before it sleeps. A chunk takes
// about a tenth of a millisecond each way; a sleep and a wake-up for every chunk cost upkg
// checksum a quarter of its time on this kind of machine, and a yield gives the processor
// away to whatever else is ready to run.
constexpr int YieldsBeforeSleep = 2000;

// The hand-over between the reading thread and this one. The counts change under the mutex;
// a waiting thread may read them without it.
struct Handover {
    std::mutex mutex;
    std::condition_variable changed;
    std::atomic<uint64_t> filled{0};   // chunks read in full
    std::atomic<uint64_t> drained{0};  // chunks whose buffers may be filled again
    std::atomic<bool> readShort{false};
    std::atomic<bool> stop{false};

    template <typename Ready>
    void WaitFor(Ready ready) {
        for (int i = 0; i < YieldsBeforeSleep && !ready(); ++i) std::this_thread::yield();
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, ready);
    }
    template <typename Change>
    void Publish(Change change) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            change();
        }
        changed.notify_one();
    }
};

void ReadAhead(Chunks& chunks, Handover& handover) {
    for (uint64_t k = 0; k < chunks.Count(); ++k) {
        handover.WaitFor([&] { return handover.stop || k - handover.drained < Buffers; });
        if (handover.stop) return;
        const bool full = chunks.Fill(k);
        handover.Publish([&] {
            if (full)
                ++handover.filled;
            else
                handover.readShort = true;
        });
        if (!full) return;
    }
}

// Drains the chunks as the reading thread fills them; results come in the order of the
// chunks, as if one thread did everything.
StreamResult DrainInOrder(Chunks& chunks, Handover& handover) {
    for (uint64_t k = 0; k < chunks.Count(); ++k) {
        handover.WaitFor([&] { return handover.filled > k || handover.readShort; });
        if (handover.filled == k) return StreamResult::ReadShort;
        if (!chunks.Drain(k)) return StreamResult::WriteFailed;
        handover.Publish([&] { handover.drained = k + 1; });
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
    handover.Publish([&] { handover.stop = true; });
    reader.join();
    return result;
}

}  // namespace

StreamResult StreamWithChecksum(package::CFileDX& in, uint64_t length, package::CFileDX* out,
                                uint64_t& checksum, Progress& progress) {
    static thread_local std::unique_ptr<uint8_t[]> memory(new uint8_t[Buffers * StreamChunkSize]);
    Chunks chunks{in, out, length, memory.get(), progress};
    // A single chunk gains nothing from a second thread.
    const StreamResult result = chunks.Count() <= 1 ? Serially(chunks) : WithReadAhead(chunks);
    if (result == StreamResult::Done) std::memcpy(&checksum, chunks.state, sizeof chunks.state);
    return result;
}

}  // namespace upkg
