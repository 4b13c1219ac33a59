// The AVX-512 VNNI fold: groups of 512 bytes transposed so that r runs down the vectors
// (see the top of checksum.cpp), then the AVX-512BW fold for the vectors after them.
#include <algorithm>

#include "package/checksum_fold.h"

namespace package {

namespace checksum_internal {

namespace {

#define CHECKSUM_INLINE_VNNI __attribute__((target("avx512bw,avx512vnni"), always_inline)) inline

constexpr size_t GroupBytes = 512;
constexpr size_t GroupPairs = GroupBytes / 2;
constexpr size_t GroupsPerChunk = ChunkBytes / GroupBytes;

struct GroupTables {
    int16_t powersLow[ChunkPairs] = {};
    int16_t powersHigh[ChunkPairs] = {};

    constexpr GroupTables() {
        for (size_t g = 0; g < ChunkPairs; ++g) {
            const size_t group = g / GroupPairs, u = g % GroupPairs / 32;
            const size_t lane = g % 32 / 8, word = g % 8;
            const size_t pair = group * GroupPairs + 32 * word + 8 * lane + u;
            powersLow[g] = FoldTables.powersLow[pair];
            powersHigh[g] = FoldTables.powersHigh[pair];
        }
    }
};

constexpr GroupTables GroupPowers;

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
    __m512i dotLow, dotHigh, sum, x5, x7;
};

// Loads and transposes a group and adds it to the dot products, the byte sum and the
// XOR. Leaves in `pairs` each pair's local l(u) above its even byte; returns l(7).
CHECKSUM_INLINE_VNNI __m512i LoadGroup(GroupFold& g, const uint8_t* bytes, const int16_t* powersLow,
                                       const int16_t* powersHigh, __m512i (&pairs)[8]) {
    const __m512i pairMultiplier = _mm512_set1_epi16(0x100 | Multiplier);
    const __m512i highBits = _mm512_set1_epi8(static_cast<char>(0x80));
    const __m512i ones = _mm512_set1_epi8(1);
    // 233^2 acts on a high byte as 17 does; unlike 17, GCC keeps it one multiply.
    const __m512i seventeen = _mm512_set1_epi16(static_cast<int16_t>(PairMultiplier & 0xFFFF));
    const __m512i lowByte = _mm512_set1_epi16(0xFF);
    __m512i words[8];
    TransposeGroup(bytes, words);
    __m512i local = _mm512_setzero_si512();
#pragma GCC unroll 8
    for (int u = 0; u < 8; ++u) {
        const __m512i w = words[u];
        const __m512i q = _mm512_maddubs_epi16(pairMultiplier, _mm512_xor_si512(w, highBits));
        g.dotLow = _mm512_dpwssd_epi32(g.dotLow, q, _mm512_loadu_si512(powersLow + 32 * u));
        g.dotHigh = _mm512_dpwssd_epi32(g.dotHigh, q, _mm512_loadu_si512(powersHigh + 32 * u));
        g.sum = _mm512_dpbusd_epi32(g.sum, w, ones);
        g.x7 = _mm512_xor_si512(g.x7, w);
        local = _mm512_add_epi16(_mm512_mullo_epi16(local, seventeen), _mm512_slli_epi16(q, 8));
        pairs[u] = _mm512_ternarylogic_epi32(local, w, lowByte, 0xF8);  // local | w & 0xFF
    }
    return local;
}

// The r before each block of the group whose blocks end at the local values `ends`;
// advances the carry past the group. Word j of lane L is block k = 4 j + L, so the
// prefix runs over the lanes first, then over the words.
CHECKSUM_INLINE_VNNI __m512i BlockStarts(GroupFold& g, __m512i ends) {
    const __m512i zero = _mm512_setzero_si512();
    const __m512i evenLanes = _mm512_set_epi64(
        0x0001000100010001, 0x0001000100010001, 0x0081008100810081, 0x0081008100810081,
        0x0001000100010001, 0x0001000100010001, 0x0081008100810081, 0x0081008100810081);
    const __m512i oddLanes = _mm512_set_epi64(
        0x0081008100810081, 0x0081008100810081, 0x0001000100010001, 0x0001000100010001,
        0x0081008100810081, 0x0081008100810081, 0x0001000100010001, 0x0001000100010001);
    const __m512i grow = _mm512_mullo_epi16(ends, evenLanes);  // 129^(k+1) l(7)
    __m512i lanes = _mm512_add_epi16(grow, _mm512_maskz_alignr_epi64(0xFF, grow, zero, 6));
    lanes = _mm512_add_epi16(lanes, _mm512_maskz_alignr_epi64(0xFF, lanes, zero, 4));
    __m512i words = _mm512_maskz_shuffle_i64x2(0xFF, lanes, lanes, 0xFF);
    words = _mm512_add_epi16(words, _mm512_bslli_epi128(words, 2));
    words = _mm512_add_epi16(words, _mm512_bslli_epi128(words, 4));
    words = _mm512_add_epi16(words, _mm512_bslli_epi128(words, 8));
    const __m512i before = _mm512_add_epi16(_mm512_bslli_epi128(words, 2), g.carry);
    const __m512i starts = _mm512_add_epi16(before, _mm512_sub_epi16(lanes, grow));
    g.carry = _mm512_add_epi16(g.carry, _mm512_shuffle_epi8(words, _mm512_set1_epi16(0x0F0E)));
    return _mm512_mullo_epi16(starts, oddLanes);  // c(k) = 129^k e(k)
}

// Folds every r of a group into x5, given each block's start: the odd byte's in the
// high byte of a word, the even byte's in the low one.
CHECKSUM_INLINE_VNNI void FinishGroup(GroupFold& g, const __m512i (&pairs)[8], __m512i starts) {
    const __m512i mul =
        _mm512_set1_epi16(static_cast<int16_t>(Multiplier << 8));  // maddubs: high byte
    const __m512i step = _mm512_slli_epi16(starts, 4);
    __m512i fromStart = starts, odd = starts, both[8];  // fromStart: 17^(u+1) c
#pragma GCC unroll 8
    for (int u = 0; u < 8; ++u) {
        fromStart = _mm512_add_epi16(fromStart, step);
        const __m512i even = _mm512_maddubs_epi16(odd, mul);  // 233 r(u - 1) in the low byte
        odd = _mm512_add_epi16(pairs[u], fromStart);
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
        const size_t inChunk = i % GroupsPerChunk;
        const size_t chunk = std::min(GroupsPerChunk, groups - (i - inChunk));
        const size_t at = (GroupsPerChunk - chunk + inChunk) * GroupPairs;
        __m512i pairs[8];
        const __m512i ends = LoadGroup(g, bytes + i * GroupBytes, GroupPowers.powersLow + at,
                                       GroupPowers.powersHigh + at, pairs);
        if (i > 0) FinishGroup(g, pending, starts);
        starts = BlockStarts(g, ends);
        std::copy(pairs, pairs + 8, pending);
        if (inChunk + 1 < chunk) continue;
        f.r = AdvanceR(f.r, chunk * GroupBytes, AddHalves32(AddHalves32(g.dotLow)),
                       AddHalves32(AddHalves32(g.dotHigh)));
        g.dotLow = g.dotHigh = zero;
    }
    if (groups > 0) FinishGroup(g, pending, starts);
    f.sum += AddLanes32(g.sum);
    // Both bytes of each word of x5 count.
    const __m512i x5 = _mm512_xor_si512(g.x5, _mm512_srli_epi16(g.x5, 8));
    Finish(f, XorHalves(XorHalves(x5)), XorHalves(XorHalves(g.x7)), _mm_setzero_si128());
    CleanUpperHalves();
    return groups * GroupBytes;
}

// Whole groups first; the AVX-512BW fold takes the vectors after them.
size_t BulkAvx512Vnni(Fold& f, const uint8_t* bytes, size_t length) {
    const size_t done = BulkGroups(f, bytes, length / GroupBytes);
    return done + BulkAvx512(f, bytes + done, length - done);
}

}  // namespace

void AddToChecksumAvx512Vnni(uint8_t (&state)[8], const uint8_t* bytes, uint32_t length) {
    Run<BulkAvx512Vnni>(state, bytes, length);
}

}  // namespace checksum_internal

}  // namespace package
