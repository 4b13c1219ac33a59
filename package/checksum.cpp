#include "package/checksum.h"

#include <immintrin.h>

#include <algorithm>
#include <cstddef>

#include "package/checksum_paths.h"

// The byte loop is bound by the latency of r = r * 233 + b. The vector paths
// break that chain:
//  - Bytes are taken in pairs: q = 233 * b(2g) + b(2g + 1) fits 16 bits and
//    r(2g + 1) = 233^2 * r(2g - 1) + q, so r at the end of a chunk is a dot
//    product of the q with a table of powers of 233^2, mod 2^32.
//  - Byte 4 follows from r before and after the call and the byte sum (Store).
//  - Byte 5 needs the low byte of every r. Mod 256, 233^2 = 17, whose powers
//    repeat every 16 pairs. With s(g) = r(-1) + sum over h <= g of
//    q(h) * 17^-(h+1), the odd-position values are r(2g + 1) = 17^(g+1) * s(g):
//    s is a plain prefix sum, done in 16-bit lanes of which only the low byte
//    matters. Even positions follow from r(2g + 1) = 233 * r(2g) + b(2g + 1).
//  - Bytes 6 and 7 are a byte sum and an XOR.

namespace checksum_internal {
namespace {

// Forced inline so that no vector crosses a call: mingw-w64 passes vectors on
// the stack, which it cannot align to 32 bytes, and a call from AVX code into
// SSE code would run with the upper register halves dirty.
#define CHECKSUM_INLINE __attribute__((always_inline)) inline
#define CHECKSUM_INLINE_AVX2 __attribute__((target("avx2"), always_inline)) inline
#define CHECKSUM_INLINE_AVX512 __attribute__((target("avx512bw"), always_inline)) inline

constexpr uint32_t kMul = 233;
constexpr uint32_t kPairMul = kMul * kMul;
constexpr uint16_t kMulInverse = 89;             // 233 * 89 = 1 mod 256
constexpr uint32_t kNegTwentyNineInverse = 203;  // -29 * 203 = 1 mod 256
// q goes into pmaddwd less 233 * 128 + 128 = 117 * 256, which centres it on
// zero to fit a signed lane and leaves it unchanged mod 256.
constexpr uint16_t kBias = 233 * 128 + 128;

// Vector loops consume whole units of 16 pairs, the period of 17^g mod 256.
constexpr size_t kUnit = 32;
// The power table covers one chunk; shorter chunks use its tail.
constexpr size_t kChunk = 1024;
constexpr size_t kChunkPairs = kChunk / 2;
constexpr size_t kUnitsPerChunk = kChunk / kUnit;

constexpr uint32_t PowMod256(uint32_t base, uint32_t exponent) {
    uint32_t result = 1;
    while (exponent-- > 0) result = result * base % 256;
    return result;
}

struct Tables {
    // (233^2)^(kChunkPairs - 1 - g) mod 2^32 as lo + 2^16 * hi, both signed so
    // that pmaddwd multiplies them exactly.
    int16_t pow_lo[kChunkPairs] = {};
    int16_t pow_hi[kChunkPairs] = {};
    // 17^-(g+1) and 17^(g+1) mod 256, two periods to fill 32 lanes.
    uint16_t scale_in[32] = {};
    uint16_t scale_out[32] = {};
    // Word indices of the last lane of the 128-bit block one and two before.
    uint16_t block_end1[32] = {};
    uint16_t block_end2[32] = {};
    // By number of units in a chunk: (233^2)^(16 k), and the sum of the last
    // 16 k powers times the bias, added back after the dot product.
    uint32_t chunk_mul[kUnitsPerChunk + 1] = {};
    uint32_t chunk_bias[kUnitsPerChunk + 1] = {};

    constexpr Tables() {
        uint32_t pow[kChunkPairs] = {};
        uint32_t p = 1;
        for (size_t g = kChunkPairs; g-- > 0;) {
            pow[g] = p;
            pow_lo[g] = static_cast<int16_t>(p & 0xFFFF);
            pow_hi[g] = static_cast<int16_t>((p - static_cast<uint32_t>(pow_lo[g])) >> 16);
            p *= kPairMul;
        }
        const uint32_t inverse17 = 241;  // 17 * 241 = 1 mod 256
        for (uint16_t g = 0; g < 32; ++g) {
            scale_in[g] = static_cast<uint16_t>(PowMod256(inverse17, g % 16 + 1));
            scale_out[g] = static_cast<uint16_t>(PowMod256(17, g % 16 + 1));
            block_end1[g] = static_cast<uint16_t>((g / 8 * 8 + 31) % 32);
            block_end2[g] = static_cast<uint16_t>((g / 8 * 8 + 23) % 32);
        }
        uint32_t mul = 1;
        uint32_t sum = 0;
        for (size_t k = 0; k <= kUnitsPerChunk; ++k) {
            chunk_mul[k] = mul;
            chunk_bias[k] = sum * kBias;
            for (size_t g = 0; g < kUnit / 2 && k < kUnitsPerChunk; ++g) {
                mul *= kPairMul;
                sum += pow[kChunkPairs - 1 - (k * kUnit / 2 + g)];
            }
        }
    }
};

constexpr Tables kTables;

// What a call accumulates besides byte 4, which Store derives.
struct Fold {
    uint32_t r;
    uint32_t sum;  // byte sum of this call
    uint8_t x5;
    uint8_t x7;
};

uint32_t LoadR(const uint8_t (&state)[8]) {
    return uint32_t{state[0]} | uint32_t{state[1]} << 8 | uint32_t{state[2]} << 16 |
           uint32_t{state[3]} << 24;
}

void FoldBytes(Fold& f, const uint8_t* bytes, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        f.r = f.r * kMul + bytes[i];
        f.x5 ^= static_cast<uint8_t>(f.r);
        f.sum += bytes[i];
        f.x7 ^= bytes[i];
    }
}

void Store(uint8_t (&state)[8], uint32_t r0, const Fold& f) {
    // Summing r(k) = 233 r(k-1) + b(k) over the call gives
    // -232 * sum r(k) = 233 (r0 - rn) + B (mod 2^32). 232 = 8 * 29, so dividing
    // by 8 leaves -29 * sum r(k) mod 2^29, enough for its low byte.
    const uint32_t low_sum = ((kMul * (r0 - f.r) + f.sum) >> 3) * kNegTwentyNineInverse;
    for (int i = 0; i < 4; ++i) state[i] = static_cast<uint8_t>(f.r >> (8 * i));
    state[4] = static_cast<uint8_t>(state[4] + low_sum);
    state[5] ^= f.x5;
    state[6] = static_cast<uint8_t>(state[6] + f.sum);
    state[7] ^= f.x7;
}

// Runs `bulk` over as many whole units as it takes, the byte loop on the rest.
template <size_t (*bulk)(Fold&, const uint8_t*, size_t)>
void Run(uint8_t (&state)[8], const uint8_t* bytes, uint32_t length) {
    Fold f{LoadR(state), 0, 0, 0};
    const uint32_t r0 = f.r;
    const size_t done = bulk(f, bytes, length);
    FoldBytes(f, bytes + done, length - done);
    Store(state, r0, f);
}

size_t NoBulk(Fold&, const uint8_t*, size_t) {
    return 0;
}

// Advances r over a chunk of `length` bytes whose q dot products with the low
// and high power halves are summed in the lanes of `lo` and `hi`.
CHECKSUM_INLINE uint32_t AdvanceR(uint32_t r, size_t length, __m128i lo, __m128i hi) {
    __m128i v = _mm_add_epi32(lo, _mm_slli_epi32(hi, 16));
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
    const uint32_t dot = static_cast<uint32_t>(_mm_cvtsi128_si32(v));
    return r * kTables.chunk_mul[length / kUnit] + dot + kTables.chunk_bias[length / kUnit];
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
    const uint16_t x7_pair = XorLanes16(x7);
    f.x7 ^= static_cast<uint8_t>(x7_pair ^ (x7_pair >> 8));
    f.sum += static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_add_epi64(sum, _mm_srli_si128(sum, 8))));
}

CHECKSUM_INLINE __m128i Load128(const void* p) {
    return _mm_loadu_si128(static_cast<const __m128i*>(p));
}

size_t BulkSse2(Fold& f, const uint8_t* bytes, size_t length) {
    length -= length % kUnit;
    const __m128i zero = _mm_setzero_si128();
    const __m128i low_byte = _mm_set1_epi16(0xFF);
    const __m128i bias = _mm_set1_epi16(static_cast<int16_t>(-kBias));
    const __m128i mul = _mm_set1_epi16(kMul);
    const __m128i mul_inverse = _mm_set1_epi16(kMulInverse);
    // A unit is two vectors, each with its half of the scale period.
    const __m128i scale_in[2] = {Load128(kTables.scale_in), Load128(kTables.scale_in + 8)};
    const __m128i scale_out[2] = {Load128(kTables.scale_out), Load128(kTables.scale_out + 8)};
    __m128i carry = _mm_set1_epi16(static_cast<int16_t>(f.r & 0xFF));
    __m128i x5 = zero, x7 = zero, sum = zero;
    for (size_t pos = 0; pos < length;) {
        const size_t chunk = std::min(length - pos, kChunk);
        const int16_t* pow_lo = kTables.pow_lo + (kChunk - chunk) / 2;
        const int16_t* pow_hi = kTables.pow_hi + (kChunk - chunk) / 2;
        __m128i dot_lo = zero, dot_hi = zero;
        for (size_t i = 0; i < chunk; i += 16) {
            const __m128i w = Load128(bytes + pos + i);
            const __m128i odd = _mm_add_epi16(_mm_srli_epi16(w, 8), bias);
            const __m128i q = _mm_add_epi16(_mm_mullo_epi16(_mm_and_si128(w, low_byte), mul), odd);
            dot_lo = _mm_add_epi32(dot_lo, _mm_madd_epi16(q, Load128(pow_lo + i / 2)));
            dot_hi = _mm_add_epi32(dot_hi, _mm_madd_epi16(q, Load128(pow_hi + i / 2)));

            const size_t half = i / 16 % 2;
            __m128i s = _mm_mullo_epi16(q, scale_in[half]);
            s = _mm_add_epi16(s, _mm_slli_si128(s, 2));
            s = _mm_add_epi16(s, _mm_slli_si128(s, 4));
            s = _mm_add_epi16(s, _mm_slli_si128(s, 8));
            const __m128i total = _mm_shuffle_epi32(_mm_shufflehi_epi16(s, 0xFF), 0xFF);
            s = _mm_add_epi16(s, carry);
            carry = _mm_add_epi16(carry, total);
            const __m128i r_odd = _mm_mullo_epi16(s, scale_out[half]);
            const __m128i r_even = _mm_mullo_epi16(_mm_sub_epi16(r_odd, odd), mul_inverse);
            x5 = _mm_xor_si128(x5, _mm_xor_si128(r_odd, r_even));
            x7 = _mm_xor_si128(x7, w);
            sum = _mm_add_epi64(sum, _mm_sad_epu8(w, zero));
        }
        f.r = AdvanceR(f.r, chunk, dot_lo, dot_hi);
        pos += chunk;
    }
    Finish(f, x5, x7, sum);
    return length;
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

__attribute__((target("avx2"))) size_t BulkAvx2(Fold& f, const uint8_t* bytes, size_t length) {
    length -= length % kUnit;
    const __m256i zero = _mm256_setzero_si256();
    const __m256i pair_mul = _mm256_set1_epi16(0x100 | kMul);
    const __m256i high_bits = _mm256_set1_epi8(static_cast<char>(0x80));
    const __m256i mul_inverse = _mm256_set1_epi16(kMulInverse);
    const __m256i last_word = _mm256_set1_epi16(0x0F0E);  // pshufb: word 7 of each half
    const __m256i scale_in = Load256(kTables.scale_in);
    const __m256i scale_out = Load256(kTables.scale_out);
    __m256i carry = _mm256_set1_epi16(static_cast<int16_t>(f.r & 0xFF));
    __m256i x5 = zero, x7 = zero, sum = zero;
    for (size_t pos = 0; pos < length;) {
        const size_t chunk = std::min(length - pos, kChunk);
        const int16_t* pow_lo = kTables.pow_lo + (kChunk - chunk) / 2;
        const int16_t* pow_hi = kTables.pow_hi + (kChunk - chunk) / 2;
        __m256i dot_lo = zero, dot_hi = zero;
        for (size_t i = 0; i < chunk; i += 32) {
            const __m256i w = Load256(bytes + pos + i);
            // Bytes less 128 as signed: q - kBias = 233 (b0 - 128) + (b1 - 128).
            const __m256i q = _mm256_maddubs_epi16(pair_mul, _mm256_xor_si256(w, high_bits));
            const __m256i odd = _mm256_srli_epi16(w, 8);
            dot_lo = _mm256_add_epi32(dot_lo, _mm256_madd_epi16(q, Load256(pow_lo + i / 2)));
            dot_hi = _mm256_add_epi32(dot_hi, _mm256_madd_epi16(q, Load256(pow_hi + i / 2)));

            // Byte shifts stay within 128-bit halves, so the high half then
            // takes the low half's total.
            __m256i s = _mm256_mullo_epi16(q, scale_in);
            s = _mm256_add_epi16(s, _mm256_slli_si256(s, 2));
            s = _mm256_add_epi16(s, _mm256_slli_si256(s, 4));
            s = _mm256_add_epi16(s, _mm256_slli_si256(s, 8));
            s = _mm256_add_epi16(
                s, _mm256_permute2x128_si256(_mm256_shuffle_epi8(s, last_word), s, 0x08));
            const __m256i total = _mm256_permute4x64_epi64(_mm256_shuffle_epi8(s, last_word), 0xFF);
            s = _mm256_add_epi16(s, carry);
            carry = _mm256_add_epi16(carry, total);
            const __m256i r_odd = _mm256_mullo_epi16(s, scale_out);
            const __m256i r_even = _mm256_mullo_epi16(_mm256_sub_epi16(r_odd, odd), mul_inverse);
            x5 = _mm256_xor_si256(x5, _mm256_xor_si256(r_odd, r_even));
            x7 = _mm256_xor_si256(x7, w);
            sum = _mm256_add_epi64(sum, _mm256_sad_epu8(w, zero));
        }
        f.r = AdvanceR(f.r, chunk, AddHalves32(dot_lo), AddHalves32(dot_hi));
        pos += chunk;
    }
    Finish(f, XorHalves(x5), XorHalves(x7), AddHalves64(sum));
    CleanUpperHalves();
    return length;
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

__attribute__((target("avx512bw"))) size_t BulkAvx512(Fold& f, const uint8_t* bytes,
                                                      size_t length) {
    constexpr size_t kVector = 64;
    length -= length % kVector;
    const __m512i zero = _mm512_setzero_si512();
    const __m512i pair_mul = _mm512_set1_epi16(0x100 | kMul);
    const __m512i high_bits = _mm512_set1_epi8(static_cast<char>(0x80));
    const __m512i mul_inverse = _mm512_set1_epi16(kMulInverse);
    const __m512i scale_in = _mm512_loadu_si512(kTables.scale_in);
    const __m512i scale_out = _mm512_loadu_si512(kTables.scale_out);
    const __m512i block_end1 = _mm512_loadu_si512(kTables.block_end1);
    const __m512i block_end2 = _mm512_loadu_si512(kTables.block_end2);
    const __m512i last = _mm512_set1_epi16(31);
    __m512i carry = _mm512_set1_epi16(static_cast<int16_t>(f.r & 0xFF));
    __m512i x5 = zero, x7 = zero, sum = zero;
    for (size_t pos = 0; pos < length;) {
        const size_t chunk = std::min(length - pos, kChunk);
        const int16_t* pow_lo = kTables.pow_lo + (kChunk - chunk) / 2;
        const int16_t* pow_hi = kTables.pow_hi + (kChunk - chunk) / 2;
        __m512i dot_lo = zero, dot_hi = zero;
        for (size_t i = 0; i < chunk; i += kVector) {
            const __m512i w = _mm512_loadu_si512(bytes + pos + i);
            const __m512i q = _mm512_maddubs_epi16(pair_mul, _mm512_xor_si512(w, high_bits));
            const __m512i odd = _mm512_srli_epi16(w, 8);
            dot_lo =
                _mm512_add_epi32(dot_lo, _mm512_madd_epi16(q, _mm512_loadu_si512(pow_lo + i / 2)));
            dot_hi =
                _mm512_add_epi32(dot_hi, _mm512_madd_epi16(q, _mm512_loadu_si512(pow_hi + i / 2)));

            // Prefix within each 128-bit block, then block b adds the end of
            // block b-1 (its total) and of b-2 (by then the total of b-2 and b-3).
            __m512i s = _mm512_mullo_epi16(q, scale_in);
            s = _mm512_add_epi16(s, _mm512_bslli_epi128(s, 2));
            s = _mm512_add_epi16(s, _mm512_bslli_epi128(s, 4));
            s = _mm512_add_epi16(s, _mm512_bslli_epi128(s, 8));
            s = _mm512_add_epi16(s, _mm512_maskz_permutexvar_epi16(0xFFFFFF00, block_end1, s));
            s = _mm512_add_epi16(s, _mm512_maskz_permutexvar_epi16(0xFFFF0000, block_end2, s));
            s = _mm512_add_epi16(s, carry);
            carry = _mm512_permutexvar_epi16(last, s);
            const __m512i r_odd = _mm512_mullo_epi16(s, scale_out);
            const __m512i r_even = _mm512_mullo_epi16(_mm512_sub_epi16(r_odd, odd), mul_inverse);
            x5 = _mm512_xor_si512(x5, _mm512_xor_si512(r_odd, r_even));
            x7 = _mm512_xor_si512(x7, w);
            sum = _mm512_add_epi64(sum, _mm512_sad_epu8(w, zero));
        }
        f.r = AdvanceR(f.r, chunk, AddHalves32(AddHalves32(dot_lo)),
                       AddHalves32(AddHalves32(dot_hi)));
        pos += chunk;
    }
    Finish(f, XorHalves(XorHalves(x5)), XorHalves(XorHalves(x7)), AddHalves64(AddHalves64(sum)));
    CleanUpperHalves();
    return length;
}

// The VNNI fold takes 512 bytes at a time, eight vectors whose 16-bit words are
// transposed within each 128-bit lane: word j of lane L of vector u is then pair
// 32 j + 8 L + u of the group. So each of the 32 word positions holds a block of
// 8 consecutive pairs, pair u in vector u, and the serial part of r runs down the
// vectors with plain adds instead of across the lanes with shuffles:
//  - In a block that starts after r = c, the odd bytes take r(u) = 17^(u+1) c +
//    l(u) mod 256, with the local l(u) = 17 l(u - 1) + q(u) from l(-1) = 0, and
//    17^(u+1) = 1 + 16 (u + 1) mod 256, a step of 16 c per pair.
//  - Block k ends at 17^8 c(k) + l(7) = 129 c(k) + l(7). As 129^2 = 1 mod 256,
//    e(k) = 129^k c(k) grows by 129^(k+1) l(7) from block to block: one prefix
//    sum over the 32 blocks of a group finds every block's start.
//  - The even byte of pair u follows the odd byte before it: 233 r(u - 1) + b.
// Values of r live in the high byte of a word, its low byte zero, so that a word
// can carry an even byte below it. The dot products for r, the byte sum and the
// XOR do not care about order; the power table is stored in the transposed order.
#define CHECKSUM_INLINE_VNNI __attribute__((target("avx512bw,avx512vnni"), always_inline)) inline

constexpr size_t kGroup = 512;
constexpr size_t kGroupPairs = kGroup / 2;
constexpr size_t kGroupsPerChunk = kChunk / kGroup;

struct GroupTables {
    int16_t pow_lo[kChunkPairs] = {};
    int16_t pow_hi[kChunkPairs] = {};

    constexpr GroupTables() {
        for (size_t g = 0; g < kChunkPairs; ++g) {
            const size_t group = g / kGroupPairs, u = g % kGroupPairs / 32;
            const size_t lane = g % 32 / 8, word = g % 8;
            const size_t pair = group * kGroupPairs + 32 * word + 8 * lane + u;
            pow_lo[g] = kTables.pow_lo[pair];
            pow_hi[g] = kTables.pow_hi[pair];
        }
    }
};

constexpr GroupTables kGroupTables;

CHECKSUM_INLINE_VNNI void TransposeGroup(const uint8_t* bytes, __m512i (&words)[8]) {
    __m512i pairs[8], quads[8];
#pragma GCC unroll 4
    for (int k = 0; k < 4; ++k) {
        const __m512i a = _mm512_loadu_si512(bytes + 128 * k);
        const __m512i b = _mm512_loadu_si512(bytes + 128 * k + 64);
        pairs[2 * k] = _mm512_maskz_unpacklo_epi16(~0u, a, b);
        pairs[2 * k + 1] = _mm512_maskz_unpackhi_epi16(~0u, a, b);
    }
#pragma GCC unroll 2
    for (int k = 0; k < 2; ++k) {
        const __m512i* p = pairs + 4 * k;
        quads[4 * k] = _mm512_maskz_unpacklo_epi32(0xFFFF, p[0], p[2]);
        quads[4 * k + 1] = _mm512_maskz_unpackhi_epi32(0xFFFF, p[0], p[2]);
        quads[4 * k + 2] = _mm512_maskz_unpacklo_epi32(0xFFFF, p[1], p[3]);
        quads[4 * k + 3] = _mm512_maskz_unpackhi_epi32(0xFFFF, p[1], p[3]);
    }
#pragma GCC unroll 4
    for (int k = 0; k < 4; ++k) {
        words[2 * k] = _mm512_maskz_unpacklo_epi64(0xFF, quads[k], quads[4 + k]);
        words[2 * k + 1] = _mm512_maskz_unpackhi_epi64(0xFF, quads[k], quads[4 + k]);
    }
}

// What the VNNI fold carries from group to group besides Fold.
struct GroupFold {
    __m512i carry;  // r before the group, in every word
    __m512i dot_lo, dot_hi, sum, x5, x7;
};

// Loads and transposes a group and adds it to the dot products, the byte sum and the
// XOR. Leaves in `pairs` each pair's local l(u) above its even byte; returns l(7).
CHECKSUM_INLINE_VNNI __m512i LoadGroup(GroupFold& g, const uint8_t* bytes, const int16_t* pow_lo,
                                       const int16_t* pow_hi, __m512i (&pairs)[8]) {
    const __m512i pair_mul = _mm512_set1_epi16(0x100 | kMul);
    const __m512i high_bits = _mm512_set1_epi8(static_cast<char>(0x80));
    const __m512i ones = _mm512_set1_epi8(1);
    // 233^2 acts on a high byte as 17 does; unlike 17, GCC keeps it one multiply.
    const __m512i seventeen = _mm512_set1_epi16(static_cast<int16_t>(kPairMul & 0xFFFF));
    const __m512i low_byte = _mm512_set1_epi16(0xFF);
    __m512i words[8];
    TransposeGroup(bytes, words);
    __m512i local = _mm512_setzero_si512();
#pragma GCC unroll 8
    for (int u = 0; u < 8; ++u) {
        const __m512i w = words[u];
        const __m512i q = _mm512_maddubs_epi16(pair_mul, _mm512_xor_si512(w, high_bits));
        g.dot_lo = _mm512_dpwssd_epi32(g.dot_lo, q, _mm512_loadu_si512(pow_lo + 32 * u));
        g.dot_hi = _mm512_dpwssd_epi32(g.dot_hi, q, _mm512_loadu_si512(pow_hi + 32 * u));
        g.sum = _mm512_dpbusd_epi32(g.sum, w, ones);
        g.x7 = _mm512_xor_si512(g.x7, w);
        local = _mm512_add_epi16(_mm512_mullo_epi16(local, seventeen), _mm512_slli_epi16(q, 8));
        pairs[u] = _mm512_ternarylogic_epi32(local, w, low_byte, 0xF8);  // local | w & 0xFF
    }
    return local;
}

// The r before each block of the group whose blocks end at the local values `ends`;
// advances the carry past the group. Word j of lane L is block k = 4 j + L, so the
// prefix runs over the lanes first, then over the words.
CHECKSUM_INLINE_VNNI __m512i BlockStarts(GroupFold& g, __m512i ends) {
    const __m512i zero = _mm512_setzero_si512();
    const __m512i even_lanes = _mm512_set_epi64(
        0x0001000100010001, 0x0001000100010001, 0x0081008100810081, 0x0081008100810081,
        0x0001000100010001, 0x0001000100010001, 0x0081008100810081, 0x0081008100810081);
    const __m512i odd_lanes = _mm512_set_epi64(
        0x0081008100810081, 0x0081008100810081, 0x0001000100010001, 0x0001000100010001,
        0x0081008100810081, 0x0081008100810081, 0x0001000100010001, 0x0001000100010001);
    const __m512i grow = _mm512_mullo_epi16(ends, even_lanes);  // 129^(k+1) l(7)
    __m512i lanes = _mm512_add_epi16(grow, _mm512_maskz_alignr_epi64(0xFF, grow, zero, 6));
    lanes = _mm512_add_epi16(lanes, _mm512_maskz_alignr_epi64(0xFF, lanes, zero, 4));
    __m512i words = _mm512_maskz_shuffle_i64x2(0xFF, lanes, lanes, 0xFF);
    words = _mm512_add_epi16(words, _mm512_bslli_epi128(words, 2));
    words = _mm512_add_epi16(words, _mm512_bslli_epi128(words, 4));
    words = _mm512_add_epi16(words, _mm512_bslli_epi128(words, 8));
    const __m512i before = _mm512_add_epi16(_mm512_bslli_epi128(words, 2), g.carry);
    const __m512i starts = _mm512_add_epi16(before, _mm512_sub_epi16(lanes, grow));
    g.carry = _mm512_add_epi16(g.carry, _mm512_shuffle_epi8(words, _mm512_set1_epi16(0x0F0E)));
    return _mm512_mullo_epi16(starts, odd_lanes);  // c(k) = 129^k e(k)
}

// Folds every r of a group into x5, given each block's start: the odd byte's in the
// high byte of a word, the even byte's in the low one.
CHECKSUM_INLINE_VNNI void FinishGroup(GroupFold& g, const __m512i (&pairs)[8], __m512i starts) {
    const __m512i mul = _mm512_set1_epi16(static_cast<int16_t>(kMul << 8));  // maddubs: high byte
    const __m512i step = _mm512_slli_epi16(starts, 4);
    __m512i from_start = starts, odd = starts, both[8];  // from_start: 17^(u+1) c
#pragma GCC unroll 8
    for (int u = 0; u < 8; ++u) {
        from_start = _mm512_add_epi16(from_start, step);
        const __m512i even = _mm512_maddubs_epi16(odd, mul);  // 233 r(u - 1) in the low byte
        odd = _mm512_add_epi16(pairs[u], from_start);
        both[u] = _mm512_mask_add_epi8(odd, 0x5555555555555555, odd, even);  // low bytes
    }
#pragma GCC unroll 4
    for (int u = 0; u < 8; u += 2)
        g.x5 = _mm512_ternarylogic_epi32(g.x5, both[u], both[u + 1], 0x96);
}

CHECKSUM_INLINE_VNNI uint32_t AddLanes32(__m512i v) {
    const __m256i half = AddHalves32(v);
    __m128i quarter =
        _mm_add_epi32(_mm256_castsi256_si128(half), _mm256_extracti128_si256(half, 1));
    quarter = _mm_add_epi32(quarter, _mm_srli_si128(quarter, 8));
    return static_cast<uint32_t>(
        _mm_cvtsi128_si32(_mm_add_epi32(quarter, _mm_srli_si128(quarter, 4))));
}

// Each group's x5 waits for the prefix over its blocks; finishing it only after the
// next group is loaded keeps that wait off the critical path. A chunk is two groups,
// or the last one alone, which takes the tail of the power table.
__attribute__((target("avx512bw,avx512vnni"))) size_t BulkGroups(Fold& f, const uint8_t* bytes,
                                                                 size_t groups) {
    const __m512i zero = _mm512_setzero_si512();
    GroupFold g{
        _mm512_set1_epi16(static_cast<int16_t>((f.r & 0xFF) << 8)), zero, zero, zero, zero, zero};
    __m512i pending[8] = {}, starts = zero;
    for (size_t i = 0; i < groups; ++i) {
        const size_t in_chunk = i % kGroupsPerChunk;
        const size_t chunk = std::min(kGroupsPerChunk, groups - (i - in_chunk));
        const size_t at = (kGroupsPerChunk - chunk + in_chunk) * kGroupPairs;
        __m512i pairs[8];
        const __m512i ends = LoadGroup(g, bytes + i * kGroup, kGroupTables.pow_lo + at,
                                       kGroupTables.pow_hi + at, pairs);
        if (i > 0) FinishGroup(g, pending, starts);
        starts = BlockStarts(g, ends);
        std::copy(pairs, pairs + 8, pending);
        if (in_chunk + 1 < chunk) continue;
        f.r = AdvanceR(f.r, chunk * kGroup, AddHalves32(AddHalves32(g.dot_lo)),
                       AddHalves32(AddHalves32(g.dot_hi)));
        g.dot_lo = g.dot_hi = zero;
    }
    if (groups > 0) FinishGroup(g, pending, starts);
    f.sum += AddLanes32(g.sum);
    // Both bytes of each word of x5 count.
    const __m512i x5 = _mm512_xor_si512(g.x5, _mm512_srli_epi16(g.x5, 8));
    Finish(f, XorHalves(XorHalves(x5)), XorHalves(XorHalves(g.x7)), _mm_setzero_si128());
    CleanUpperHalves();
    return groups * kGroup;
}

// Whole groups first; the AVX-512BW fold takes the vectors after them.
size_t BulkAvx512Vnni(Fold& f, const uint8_t* bytes, size_t length) {
    const size_t done = BulkGroups(f, bytes, length / kGroup);
    return done + BulkAvx512(f, bytes + done, length - done);
}

}  // namespace

void AddToChecksumScalar(uint8_t (&state)[8], const uint8_t* bytes, uint32_t length) {
    Run<NoBulk>(state, bytes, length);
}

void AddToChecksumSse2(uint8_t (&state)[8], const uint8_t* bytes, uint32_t length) {
    Run<BulkSse2>(state, bytes, length);
}

void AddToChecksumAvx2(uint8_t (&state)[8], const uint8_t* bytes, uint32_t length) {
    Run<BulkAvx2>(state, bytes, length);
}

void AddToChecksumAvx512(uint8_t (&state)[8], const uint8_t* bytes, uint32_t length) {
    Run<BulkAvx512>(state, bytes, length);
}

void AddToChecksumAvx512Vnni(uint8_t (&state)[8], const uint8_t* bytes, uint32_t length) {
    Run<BulkAvx512Vnni>(state, bytes, length);
}

// __builtin_cpu_init makes the checks safe even from static initializers.
bool CpuHasAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

bool CpuHasAvx512() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512bw");
}

bool CpuHasAvx512Vnni() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vnni");
}

}  // namespace checksum_internal

namespace {

checksum_internal::AddFn PickPath() {
    using namespace checksum_internal;
    if (CpuHasAvx512Vnni()) return AddToChecksumAvx512Vnni;
    if (CpuHasAvx512()) return AddToChecksumAvx512;
    if (CpuHasAvx2()) return AddToChecksumAvx2;
    return AddToChecksumSse2;
}

}  // namespace

void AddToChecksum(uint8_t (&state)[8], const uint8_t* bytes, uint32_t length) {
    static const checksum_internal::AddFn path = PickPath();
    path(state, bytes, length);
}
