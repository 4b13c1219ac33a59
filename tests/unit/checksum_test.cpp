#include "package/checksum.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
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
    std::memcpy(raw, state.data(), 8);
    add(raw, bytes, static_cast<uint32_t>(length));
    std::memcpy(state.data(), raw, 8);
    return state;
}

Bytes RandomBytes(std::mt19937& rng, size_t length) {
    Bytes bytes(length);
    for (auto& b : bytes) b = static_cast<uint8_t>(rng());
    return bytes;
}

State RandomState(std::mt19937& rng) {
    const Bytes bytes = RandomBytes(rng, 8);
    State state;
    std::memcpy(state.data(), bytes.data(), 8);
    return state;
}

struct Path {
    const char* name;
    checksum_internal::AddFn add;
    bool (*available)();
};

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
        if (!GetParam().available()) GTEST_SKIP() << "this CPU cannot run " << GetParam().name;
    }
    State Add(State state, const uint8_t* bytes, size_t length) {
        return Apply(GetParam().add, state, bytes, length);
    }
};

TEST_P(ChecksumTest, KnownValuesAndEmptyInput) {
    const State expected = {0x06, 0xB4, 0x50, 0x00, 0x12, 0xCC, 0x26, 0x60};
    EXPECT_EQ(Add({}, reinterpret_cast<const uint8_t*>("abc"), 3), expected);
    EXPECT_EQ(Add({}, nullptr, 0), State{});
    EXPECT_EQ(Add(expected, nullptr, 0), expected);
}

// Every length up to 4200 from random states at shifting misalignments, over random bytes
// and the edges of the lane arithmetic (all 0, all 0xFF, 0xFF only at even or odd places);
// every split of one buffer into two calls; and one long run.
TEST_P(ChecksumTest, MatchesTheByteLoopForEveryLengthAlignmentAndSplit) {
    std::mt19937 rng(1);
    constexpr size_t kMaxLength = 4200;
    Bytes evenFF(kMaxLength), oddFF(kMaxLength);
    for (size_t i = 0; i < kMaxLength; ++i) (i % 2 ? oddFF : evenFF)[i] = 0xFF;
    const Bytes patterns[] = {RandomBytes(rng, kMaxLength), Bytes(kMaxLength, 0),
                              Bytes(kMaxLength, 0xFF), evenFF, oddFF};
    Bytes buffer(kMaxLength + 64);
    for (const Bytes& pattern : patterns) {
        for (size_t length = 0; length <= kMaxLength; ++length) {
            uint8_t* data = buffer.data() + length * 7 % 64;
            std::memcpy(data, pattern.data(), length);
            const State start = RandomState(rng);
            ASSERT_EQ(Add(start, data, length), Apply(ReferenceAdd, start, data, length))
                << "length " << length << ", pattern " << &pattern - patterns;
        }
    }
    const Bytes data = RandomBytes(rng, 2100);
    const State start = RandomState(rng);
    const State whole = Apply(ReferenceAdd, start, data.data(), data.size());
    for (size_t split = 0; split <= data.size(); ++split) {
        const State first = Add(start, data.data(), split);
        ASSERT_EQ(Add(first, data.data() + split, data.size() - split), whole) << split;
    }
    // And a long run across many blocks of the wide folds.
    const Bytes longRun = RandomBytes(rng, (1 << 20) + 333);
    EXPECT_EQ(Add(start, longRun.data(), longRun.size()),
              Apply(ReferenceAdd, start, longRun.data(), longRun.size()));
}

INSTANTIATE_TEST_SUITE_P(Paths, ChecksumTest, testing::ValuesIn(kPaths),
                         [](const testing::TestParamInfo<Path>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
