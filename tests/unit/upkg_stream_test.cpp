#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "fixtures.h"
#include "package/checksum.h"
#include "package/file.h"
#include "tools/upkg/progress.h"
#include "tools/upkg/stream.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#endif

namespace {

constexpr uint64_t Chunk = StreamChunkSize;
constexpr uint64_t Untouched = 0x0123456789ABCDEF;

Bytes RandomBytes(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    Bytes bytes(size);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
    return bytes;
}

uint64_t ChecksumOf(const uint8_t* bytes, size_t size) {
    uint8_t state[8] = {};
    AddToChecksum(state, bytes, static_cast<uint32_t>(size));
    uint64_t value;
    std::memcpy(&value, state, 8);
    return value;
}

class StreamTest : public ::testing::Test {
protected:
    // Writes `bytes` as the source and opens it, standing at `start`.
    void OpenSource(const Bytes& bytes, uint64_t start) {
        WriteFile(root_.File("in.bin"), bytes);
        ASSERT_TRUE(in_.OpenForRead(root_.File("in.bin").c_str()));
        ASSERT_TRUE(in_.Seek(static_cast<int64_t>(start)));
    }
    void OpenOutput() {
        ASSERT_TRUE(out_.OpenForWrite(root_.File("out.bin").c_str(), CreateOrTruncate));
    }
    Bytes Output() {
        out_.Close();
        return ReadFile(root_.File("out.bin"));
    }
    StreamResult Stream(uint64_t length, CFileDX* out) {
        Progress progress(length, true);
        checksum_ = Untouched;
        return StreamWithChecksum(in_, length, out, checksum_, progress);
    }

    ScratchFolder root_;
    CFileDX in_, out_;
    uint64_t checksum_ = 0;
};

// Lengths around chunk edges and past the chunks held ahead, from inside a larger file.
TEST_F(StreamTest, CopiesAndFoldsExactlyTheRequestedBytes) {
    const uint64_t start = 37;
    for (uint64_t length : {uint64_t{0}, uint64_t{1}, Chunk - 1, Chunk, Chunk + 1, 2 * Chunk,
                            3 * Chunk + 5, 4 * Chunk, 7 * Chunk + 123}) {
        SCOPED_TRACE(length);
        const Bytes source = RandomBytes(start + length + 100, static_cast<uint32_t>(length));
        const uint64_t expected = ChecksumOf(source.data() + start, length);
        for (bool writing : {true, false}) {
            SCOPED_TRACE(writing ? "with output" : "without output");
            in_.Close();
            OpenSource(source, start);
            if (writing) OpenOutput();
            ASSERT_EQ(Stream(length, writing ? &out_ : nullptr), StreamResult::Done);
            EXPECT_EQ(checksum_, expected);
            // The build reads on to see whether the file grew, so nothing may be read ahead.
            uint64_t position = 0;
            ASSERT_TRUE(in_.GetPosition(&position));
            EXPECT_EQ(position, start + length);
            if (writing) {
                EXPECT_EQ(Output(), Bytes(source.begin() + start,
                                          source.begin() + static_cast<ptrdiff_t>(start + length)));
            }
        }
    }
}

// The chunk that cannot be read in full is not written, nor is anything after it.
TEST_F(StreamTest, ShortReadKeepsTheWholeChunksBeforeIt) {
    for (uint64_t available : {Chunk / 2, 2 * Chunk + 7, 5 * Chunk}) {
        SCOPED_TRACE(available);
        const Bytes source = RandomBytes(available, 5);
        for (bool writing : {true, false}) {
            in_.Close();
            OpenSource(source, 0);
            if (writing) OpenOutput();
            EXPECT_EQ(Stream(available + Chunk + 1, writing ? &out_ : nullptr),
                      StreamResult::ReadShort);
            EXPECT_EQ(checksum_, Untouched);
            if (writing) {
                const uint64_t kept = available / Chunk * Chunk;
                EXPECT_EQ(Output(),
                          Bytes(source.begin(), source.begin() + static_cast<ptrdiff_t>(kept)));
            }
        }
    }
}

// Failures count in the order of the chunks: a failed write before a short read is a
// failed write, and a short read before any write is a short read.
TEST_F(StreamTest, FirstFailureInChunkOrderDecides) {
    const Bytes source = RandomBytes(6 * Chunk, 9);
    WriteFile(root_.File("out.bin"), {});
    struct Case {
        uint64_t available;
        uint64_t length;
        StreamResult result;
    };
    for (const Case& c : {Case{6 * Chunk, 6 * Chunk, StreamResult::WriteFailed},
                          Case{Chunk + Chunk / 2, 3 * Chunk, StreamResult::WriteFailed},
                          Case{Chunk / 2, 3 * Chunk, StreamResult::ReadShort}}) {
        in_.Close();
        out_.Close();
        OpenSource(Bytes(source.begin(), source.begin() + static_cast<ptrdiff_t>(c.available)), 0);
        // Opened for reading, the output refuses every write.
        ASSERT_TRUE(out_.OpenForRead(root_.File("out.bin").c_str()));
        EXPECT_EQ(Stream(c.length, &out_), c.result);
        EXPECT_EQ(checksum_, Untouched);
    }
}

#ifndef _WIN32
// A write that fails after some chunks went out, with the reader holding chunks ahead.
TEST_F(StreamTest, WriteFailingMidwayStopsTheStream) {
    const Bytes source = RandomBytes(8 * Chunk, 11);
    OpenSource(source, 0);
    OpenOutput();
    rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit limited = saved;
    limited.rlim_cur = 2 * Chunk + 100;
    // Past the limit write() fails with EFBIG instead of killing the process.
    auto* previous = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const StreamResult result = Stream(source.size(), &out_);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previous);
    EXPECT_EQ(result, StreamResult::WriteFailed);
    EXPECT_EQ(checksum_, Untouched);
    const Bytes written = Output();
    ASSERT_GE(written.size(), 2 * Chunk);
    EXPECT_TRUE(std::equal(source.begin(), source.begin() + 2 * Chunk, written.begin()));
}
#endif

}  // namespace
