// What the checksum's folds share: the constants and power tables, the state one call
// accumulates, the byte loop and the vector helpers each instruction set builds on. The
// mathematics of the fold is stated at the top of checksum.cpp.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "package/checksum_paths.h"

namespace package {

namespace checksum_internal {

// Forced inline so that no vector crosses a call: mingw-w64 passes vectors on
// the stack, which it cannot align to 32 bytes, and a call from AVX code into
// SSE code would run with the upper register halves dirty.
#define CHECKSUM_INLINE __attribute__((always_inline)) inline
#define CHECKSUM_INLINE_AVX2 __attribute__((target("avx2"), always_inline)) inline
#define CHECKSUM_INLINE_AVX512 __attribute__((target("avx512bw"), always_inline)) inline

constexpr uint32_t Multiplier = 233;
constexpr uint32_t PairMultiplier = Multiplier * Multiplier;
constexpr uint16_t MultiplierInverse = 89;        // 233 * 89 = 1 mod 256
constexpr uint32_t MinusTwentyNineInverse = 203;  // -29 * 203 = 1 mod 256
// q goes into pmaddwd less 233 * 128 + 128 = 117 * 256, which centres it on
// zero to fit a signed lane and leaves it unchanged mod 256.
constexpr uint16_t Bias = 233 * 128 + 128;

// Vector loops consume whole units of 16 pairs, the period of 17^g mod 256.
constexpr size_t UnitBytes = 32;
// The power table covers one chunk; shorter chunks use its tail.
constexpr size_t ChunkBytes = 1024;
constexpr size_t ChunkPairs = ChunkBytes / 2;
constexpr size_t UnitsPerChunk = ChunkBytes / UnitBytes;

constexpr uint32_t PowMod256(uint32_t base, uint32_t exponent) {
    uint32_t result = 1;
    while (exponent-- > 0) result = result * base % 256;
    return result;
}

struct Tables {
    // (233^2)^(ChunkPairs - 1 - g) mod 2^32 as lo + 2^16 * hi, both signed so
    // that pmaddwd multiplies them exactly.
    int16_t powersLow[ChunkPairs] = {};
    int16_t powersHigh[ChunkPairs] = {};
    // 17^-(g+1) and 17^(g+1) mod 256, two periods to fill 32 lanes.
    uint16_t scaleIn[32] = {};
    uint16_t scaleOut[32] = {};
    // Word indices of the last lane of the 128-bit block one and two before.
    uint16_t blockEnd1[32] = {};
    uint16_t blockEnd2[32] = {};
    // By number of units in a chunk: (233^2)^(16 k), and the sum of the last
    // 16 k powers times the bias, added back after the dot product.
    uint32_t chunkMultiplier[UnitsPerChunk + 1] = {};
    uint32_t chunkBias[UnitsPerChunk + 1] = {};

    constexpr Tables() {
        uint32_t pow[ChunkPairs] = {};
        uint32_t p = 1;
        for (size_t g = ChunkPairs; g-- > 0;) {
            pow[g] = p;
            powersLow[g] = static_cast<int16_t>(p & 0xFFFF);
            powersHigh[g] = static_cast<int16_t>((p - static_cast<uint32_t>(powersLow[g])) >> 16);
            p *= PairMultiplier;
        }
        const uint32_t inverse17 = 241;  // 17 * 241 = 1 mod 256
        for (uint16_t g = 0; g < 32; ++g) {
            scaleIn[g] = static_cast<uint16_t>(PowMod256(inverse17, g % 16 + 1));
            scaleOut[g] = static_cast<uint16_t>(PowMod256(17, g % 16 + 1));
            blockEnd1[g] = static_cast<uint16_t>((g / 8 * 8 + 31) % 32);
            blockEnd2[g] = static_cast<uint16_t>((g / 8 * 8 + 23) % 32);
        }
        uint32_t mul = 1;
        uint32_t sum = 0;
        for (size_t k = 0; k <= UnitsPerChunk; ++k) {
            chunkMultiplier[k] = mul;
            chunkBias[k] = sum * Bias;
            for (size_t g = 0; g < UnitBytes / 2 && k < UnitsPerChunk; ++g) {
                mul *= PairMultiplier;
                sum += pow[ChunkPairs - 1 - (k * UnitBytes / 2 + g)];
            }
        }
    }
};

inline constexpr Tables FoldTables;

// What a call accumulates besides byte 4, which Store derives.
struct Fold {
    uint32_t r;
    uint32_t sum;  // byte sum of this call
    uint8_t x5;
    uint8_t x7;
};

// The running value r held in bytes 0 to 3 of the state.
uint32_t LoadR(const uint8_t (&state)[8]);

// The byte loop: folds `length` bytes one at a time.
void FoldBytes(Fold& f, const uint8_t* bytes, size_t length);

// Writes what a call folded, starting from r = `r0`, into the state.
void Store(uint8_t (&state)[8], uint32_t r0, const Fold& f);

// Runs `bulk` over as many whole units as it takes, the byte loop on the rest.
template <size_t (*bulk)(Fold&, const uint8_t*, size_t)>
void Run(uint8_t (&state)[8], const uint8_t* bytes, uint32_t length) {
    Fold f{LoadR(state), 0, 0, 0};
    const uint32_t r0 = f.r;
    const size_t done = bulk(f, bytes, length);
    FoldBytes(f, bytes + done, length - done);
    Store(state, r0, f);
}

// Advances r over a chunk of `length` bytes whose q dot products with the low
// and high power halves are summed in the lanes of `lo` and `hi`.
CHECKSUM_INLINE uint32_t AdvanceR(uint32_t r, size_t length, __m128i lo, __m128i hi) {
    __m128i v = _mm_add_epi32(lo, _mm_slli_epi32(hi, 16));
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
    const uint32_t dot = static_cast<uint32_t>(_mm_cvtsi128_si32(v));
    return r * FoldTables.chunkMultiplier[length / UnitBytes] + dot +
           FoldTables.chunkBias[length / UnitBytes];
}

CHECKSUM_INLINE uint16_t XorLanes16(__m128i v) {
    v = _mm_xor_si128(v, _mm_srli_si128(v, 8));
    v = _mm_xor_si128(v, _mm_srli_si128(v, 4));
    v = _mm_xor_si128(v, _mm_srli_si128(v, 2));
    return static_cast<uint16_t>(_mm_cvtsi128_si32(v));
}

// Folds the vector accumulators in: the low byte of each 16-bit lane of `x5`,
// every byte of `x7`, the 64-bit lanes of `sum`.
CHECKSUM_INLINE void Finish(Fold& f, __m128i x5, __m128i x7, __m128i sum) {
    f.x5 ^= static_cast<uint8_t>(XorLanes16(x5));
    const uint16_t x7Pair = XorLanes16(x7);
    f.x7 ^= static_cast<uint8_t>(x7Pair ^ (x7Pair >> 8));
    f.sum += static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_add_epi64(sum, _mm_srli_si128(sum, 8))));
}

CHECKSUM_INLINE __m128i Load128(const void* p) {
    return _mm_loadu_si128(static_cast<const __m128i*>(p));
}

CHECKSUM_INLINE_AVX2 __m256i Load256(const void* p) {
    return _mm256_loadu_si256(static_cast<const __m256i*>(p));
}
CHECKSUM_INLINE_AVX2 __m128i XorHalves(__m256i v) {
    return _mm_xor_si128(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
}
CHECKSUM_INLINE_AVX2 __m128i AddHalves32(__m256i v) {
    return _mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
}
CHECKSUM_INLINE_AVX2 __m128i AddHalves64(__m256i v) {
    return _mm_add_epi64(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
}

// Leaves the upper halves of the vector registers clean for the SSE code after a wide fold,
// which otherwise ran several times slower on this machine. GCC does it on its own only when
// optimising for speed; the shipped build optimises for size.
CHECKSUM_INLINE_AVX2 void CleanUpperHalves() {
    _mm256_zeroupper();
}

// The masked extract: GCC 12 warns about the undefined source of the plain one.
CHECKSUM_INLINE_AVX512 __m256i LowHalf(__m512i v) {
    return _mm512_maskz_extracti64x4_epi64(0xFF, v, 0);
}
CHECKSUM_INLINE_AVX512 __m256i HighHalf(__m512i v) {
    return _mm512_maskz_extracti64x4_epi64(0xFF, v, 1);
}
CHECKSUM_INLINE_AVX512 __m256i XorHalves(__m512i v) {
    return _mm256_xor_si256(LowHalf(v), HighHalf(v));
}
CHECKSUM_INLINE_AVX512 __m256i AddHalves32(__m512i v) {
    return _mm256_add_epi32(LowHalf(v), HighHalf(v));
}
CHECKSUM_INLINE_AVX512 __m256i AddHalves64(__m512i v) {
    return _mm256_add_epi64(LowHalf(v), HighHalf(v));
}

// The AVX-512BW fold over whole vectors, which the VNNI fold runs after its groups.
size_t BulkAvx512(Fold& f, const uint8_t* bytes, size_t length);

}  // namespace checksum_internal

}  // namespace package
