#include "package/checksum.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "package/checksum_paths.h"

using namespace package;

namespace {

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

// A state is 8 bytes.
Bytes Apply(checksum_internal::AddFn add, Bytes state, const uint8_t* bytes, size_t length) {
    add(*reinterpret_cast<uint8_t(*)[8]>(state.data()), bytes, static_cast<uint32_t>(length));
    return state;
}

Bytes RandomBytes(std::mt19937& rng, size_t length) {
    Bytes bytes(length);
    for (auto& b : bytes) b = static_cast<uint8_t>(rng());
    return bytes;
}

const struct {
    const char* name;
    checksum_internal::AddFn add;
    bool available;
} kPaths[] = {
    {"dispatched", AddToChecksum, true},
    {"scalar", checksum_internal::AddToChecksumScalar, true},
    {"SSE2", checksum_internal::AddToChecksumSse2, true},
    {"AVX2", checksum_internal::AddToChecksumAvx2, checksum_internal::CpuHasAvx2()},
    {"AVX-512", checksum_internal::AddToChecksumAvx512, checksum_internal::CpuHasAvx512()},
    {"AVX-512 VNNI", checksum_internal::AddToChecksumAvx512Vnni,
     checksum_internal::CpuHasAvx512Vnni()},
};

// Every path this CPU can run, against the definition: known values; every length up to
// 4200 from random states at shifting misalignments, over random bytes and the edges of the
// lane arithmetic (all 0, all 0xFF, 0xFF only at even or odd places); every split of one
// buffer into two calls; and one long run across many blocks of the wide folds.
TEST(Checksum, EveryPathMatchesTheByteLoop) {
    constexpr size_t kMaxLength = 4200;
    std::mt19937 rng(1);
    Bytes evenFF(kMaxLength), oddFF(kMaxLength);
    for (size_t i = 0; i < kMaxLength; ++i) (i % 2 ? oddFF : evenFF)[i] = 0xFF;
    const Bytes patterns[] = {RandomBytes(rng, kMaxLength), Bytes(kMaxLength, 0),
                              Bytes(kMaxLength, 0xFF), evenFF, oddFF};
    const Bytes split = RandomBytes(rng, 2100), longRun = RandomBytes(rng, (1 << 20) + 333);
    const Bytes known{0x06, 0xB4, 0x50, 0x00, 0x12, 0xCC, 0x26, 0x60};
    Bytes buffer(kMaxLength + 64);
    for (const auto& path : kPaths) {
        if (!path.available) {
            std::printf("this CPU cannot run the %s path\n", path.name);
            continue;
        }
        SCOPED_TRACE(path.name);
        auto add = [&](Bytes state, const uint8_t* bytes, size_t length) {
            return Apply(path.add, state, bytes, length);
        };
        auto reference = [&](Bytes state, const uint8_t* bytes, size_t length) {
            return Apply(ReferenceAdd, state, bytes, length);
        };
        EXPECT_EQ(add(Bytes(8), reinterpret_cast<const uint8_t*>("abc"), 3), known);
        EXPECT_EQ(add(known, nullptr, 0), known);
        for (const Bytes& pattern : patterns) {
            for (size_t length = 0; length <= kMaxLength; ++length) {
                uint8_t* data = buffer.data() + length * 7 % 64;
                std::memcpy(data, pattern.data(), length);
                const Bytes start = RandomBytes(rng, 8);
                ASSERT_EQ(add(start, data, length), reference(start, data, length))
                    << "length " << length << ", pattern " << &pattern - patterns;
            }
        }
        const Bytes start = RandomBytes(rng, 8);
        const Bytes whole = reference(start, split.data(), split.size());
        for (size_t at = 0; at <= split.size(); ++at)
            ASSERT_EQ(add(add(start, split.data(), at), split.data() + at, split.size() - at),
                      whole)
                << "split at " << at;
        EXPECT_EQ(add(start, longRun.data(), longRun.size()),
                  reference(start, longRun.data(), longRun.size()));
    }
}

}  // namespace
