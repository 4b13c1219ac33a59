// The AVX-512BW fold: two units in one 512-bit vector, the prefix carried across its blocks.
#include <algorithm>

#include "package/checksum_fold.h"

namespace package {

namespace checksum_internal {

__attribute__((target("avx512bw"))) size_t BulkAvx512(Fold& f, const uint8_t* bytes,
                                                      size_t length) {
    constexpr size_t VectorBytes = 64;
    length -= length % VectorBytes;
    const __m512i zero = _mm512_setzero_si512();
    const __m512i pairMultiplier = _mm512_set1_epi16(0x100 | Multiplier);
    const __m512i highBits = _mm512_set1_epi8(static_cast<char>(0x80));
    const __m512i multiplierInverse = _mm512_set1_epi16(MultiplierInverse);
    const __m512i scaleIn = _mm512_loadu_si512(FoldTables.scaleIn);
    const __m512i scaleOut = _mm512_loadu_si512(FoldTables.scaleOut);
    const __m512i blockEnd1 = _mm512_loadu_si512(FoldTables.blockEnd1);
    const __m512i blockEnd2 = _mm512_loadu_si512(FoldTables.blockEnd2);
    const __m512i last = _mm512_set1_epi16(31);
    __m512i carry = _mm512_set1_epi16(static_cast<int16_t>(f.r & 0xFF));
    __m512i x5 = zero, x7 = zero, sum = zero;
    for (size_t pos = 0; pos < length;) {
        const size_t chunk = std::min(length - pos, ChunkBytes);
        const int16_t* powersLow = FoldTables.powersLow + (ChunkBytes - chunk) / 2;
        const int16_t* powersHigh = FoldTables.powersHigh + (ChunkBytes - chunk) / 2;
        __m512i dotLow = zero, dotHigh = zero;
        for (size_t i = 0; i < chunk; i += VectorBytes) {
            const __m512i w = _mm512_loadu_si512(bytes + pos + i);
            const __m512i q = _mm512_maddubs_epi16(pairMultiplier, _mm512_xor_si512(w, highBits));
            const __m512i odd = _mm512_srli_epi16(w, 8);
            dotLow = _mm512_add_epi32(dotLow,
                                      _mm512_madd_epi16(q, _mm512_loadu_si512(powersLow + i / 2)));
            dotHigh = _mm512_add_epi32(
                dotHigh, _mm512_madd_epi16(q, _mm512_loadu_si512(powersHigh + i / 2)));

            // Prefix within each 128-bit block, then block b adds the end of
            // block b-1 (its total) and of b-2 (by then the total of b-2 and b-3).
            __m512i s = _mm512_mullo_epi16(q, scaleIn);
            s = _mm512_add_epi16(s, _mm512_bslli_epi128(s, 2));
            s = _mm512_add_epi16(s, _mm512_bslli_epi128(s, 4));
            s = _mm512_add_epi16(s, _mm512_bslli_epi128(s, 8));
            s = _mm512_add_epi16(s, _mm512_maskz_permutexvar_epi16(0xFFFFFF00, blockEnd1, s));
            s = _mm512_add_epi16(s, _mm512_maskz_permutexvar_epi16(0xFFFF0000, blockEnd2, s));
            s = _mm512_add_epi16(s, carry);
            carry = _mm512_permutexvar_epi16(last, s);
            const __m512i rOdd = _mm512_mullo_epi16(s, scaleOut);
            const __m512i rEven =
                _mm512_mullo_epi16(_mm512_sub_epi16(rOdd, odd), multiplierInverse);
            x5 = _mm512_xor_si512(x5, _mm512_xor_si512(rOdd, rEven));
            x7 = _mm512_xor_si512(x7, w);
            sum = _mm512_add_epi64(sum, _mm512_sad_epu8(w, zero));
        }
        f.r = AdvanceR(f.r, chunk, AddHalves32(AddHalves32(dotLow)),
                       AddHalves32(AddHalves32(dotHigh)));
        pos += chunk;
    }
    Finish(f, XorHalves(XorHalves(x5)), XorHalves(XorHalves(x7)), AddHalves64(AddHalves64(sum)));
    CleanUpperHalves();
    return length;
}

void AddToChecksumAvx512(uint8_t (&state)[8], const uint8_t* bytes, uint32_t length) {
    Run<BulkAvx512>(state, bytes, length);
}

}  // namespace checksum_internal

}  // namespace package
