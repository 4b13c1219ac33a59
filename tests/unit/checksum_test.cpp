#include "package/checksum.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "package/checksum_paths.h"

namespace {

using State = std::array<uint8_t, 8>;
using Bytes = std::vector<uint8_t>;

// The definition, one byte at a time; every path must match it exactly.
void ReferenceAdd(uint8_t (&state)[8], const uint8_t* bytes, uint32_t length) {
    uint32_t r = state[0] | state[1] << 8 | state[2] << 16 | uint32_t{state[3]} << 24;
    for (uint32_t i = 0; i < length; ++i) {
        r = r * 233 + bytes[i];
        state[4] = static_cast<uint8_t>(state[4] + r);
        state[5] ^= static_cast<uint8_t>(r);
        state[6] = static_cast<uint8_t>(state[6] + bytes[i]);
        state[7] ^= bytes[i];
    }
    for (int i = 0; i < 4; ++i) state[i] = static_cast<uint8_t>(r >> (8 * i));
}

State Apply(checksum_internal::AddFn add, State state, const uint8_t* bytes, size_t length) {
    uint8_t raw[8];
    std::copy(state.begin(), state.end(), raw);
    add(raw, bytes, static_cast<uint32_t>(length));
    std::copy(raw, raw + 8, state.begin());
    return state;
}

State Reference(State state, const uint8_t* bytes, size_t length) {
    return Apply(ReferenceAdd, state, bytes, length);
}

State RandomState(std::mt19937& rng) {
    State state;
    for (auto& b : state) b = static_cast<uint8_t>(rng());
    return state;
}

Bytes RandomBytes(std::mt19937& rng, size_t length) {
    Bytes bytes(length);
    for (auto& b : bytes) b = static_cast<uint8_t>(rng());
    return bytes;
}

struct Path {
    const char* name;
    checksum_internal::AddFn add;
    bool (*available)();
};

void PrintTo(const Path& path, std::ostream* os) {
    *os << path.name;
}

bool Always() {
    return true;
}

const Path kPaths[] = {
    {"Dispatched", AddToChecksum, Always},
    {"Scalar", checksum_internal::AddToChecksumScalar, Always},
    {"Sse2", checksum_internal::AddToChecksumSse2, Always},
    {"Avx2", checksum_internal::AddToChecksumAvx2, checksum_internal::CpuHasAvx2},
    {"Avx512", checksum_internal::AddToChecksumAvx512, checksum_internal::CpuHasAvx512},
    {"Avx512Vnni", checksum_internal::AddToChecksumAvx512Vnni, checksum_internal::CpuHasAvx512Vnni},
};

class ChecksumTest : public testing::TestWithParam<Path> {
protected:
    void SetUp() override {
        if (!GetParam().available()) {
            GTEST_SKIP() << "this CPU cannot run the " << GetParam().name << " path";
        }
    }

    State Add(State state, const uint8_t* bytes, size_t length) {
        return Apply(GetParam().add, state, bytes, length);
    }
};

TEST_P(ChecksumTest, KnownValuesAndEmptyInput) {
    const std::string abc = "abc";
    const State expected = {0x06, 0xB4, 0x50, 0x00, 0x12, 0xCC, 0x26, 0x60};
    EXPECT_EQ(Add({}, reinterpret_cast<const uint8_t*>(abc.data()), abc.size()), expected);
    EXPECT_EQ(Add({}, nullptr, 0), State{});
    EXPECT_EQ(Add(expected, nullptr, 0), expected);
}

// Covers every tail length and several chunk boundaries, from random starting
// states, at varying misalignments, with contents at the edges of the lane
// arithmetic (all zero, all 0xFF, 0xFF only at even or odd positions).
TEST_P(ChecksumTest, MatchesReferenceForEveryLength) {
    std::mt19937 rng(1);
    constexpr size_t kMaxLength = 4200;
    const Bytes random = RandomBytes(rng, kMaxLength);
    Bytes even_ff(kMaxLength), odd_ff(kMaxLength);
    for (size_t i = 0; i < kMaxLength; ++i) (i % 2 ? odd_ff : even_ff)[i] = 0xFF;
    const Bytes patterns[] = {random, Bytes(kMaxLength, 0), Bytes(kMaxLength, 0xFF), even_ff,
                              odd_ff};
    Bytes buffer(kMaxLength + 64);
    for (const Bytes& pattern : patterns) {
        for (size_t length = 0; length <= kMaxLength; ++length) {
            uint8_t* data = buffer.data() + length * 7 % 64;
            std::memcpy(data, pattern.data(), length);
            const State start = RandomState(rng);
            ASSERT_EQ(Add(start, data, length), Reference(start, data, length))
                << "length " << length << ", pattern starting " << int{pattern[0]} << ", "
                << int{pattern[1]};
        }
    }
}

TEST_P(ChecksumTest, EverySplitIntoTwoPiecesMatchesOneCall) {
    std::mt19937 rng(2);
    const Bytes data = RandomBytes(rng, 2100);
    const State start = RandomState(rng);
    const State whole = Reference(start, data.data(), data.size());
    for (size_t split = 0; split <= data.size(); ++split) {
        const State first = Add(start, data.data(), split);
        ASSERT_EQ(Add(first, data.data() + split, data.size() - split), whole)
            << "split at " << split;
    }
}

TEST_P(ChecksumTest, ManyPiecesMatchOneCall) {
    std::mt19937 rng(3);
    const Bytes data = RandomBytes(rng, (1 << 20) + 333);
    const State start = RandomState(rng);
    const State whole = Reference(start, data.data(), data.size());
    EXPECT_EQ(Add(start, data.data(), data.size()), whole);
    for (size_t max_piece : {5, 100, 3000, 70000}) {
        State state = start;
        for (size_t pos = 0; pos < data.size();) {
            const size_t piece = std::min(rng() % (max_piece + 1), data.size() - pos);
            state = Add(state, data.data() + pos, piece);
            pos += piece;
        }
        EXPECT_EQ(state, whole) << "pieces of up to " << max_piece << " bytes";
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, ChecksumTest, testing::ValuesIn(kPaths),
                         [](const testing::TestParamInfo<Path>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
