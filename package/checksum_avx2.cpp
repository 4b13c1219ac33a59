// The AVX2 fold: a unit of 16 pairs in one 256-bit vector.
#include <algorithm>

#include "package/checksum_fold.h"

namespace package {

namespace checksum_internal {

namespace {

__attribute__((target("avx2"))) size_t BulkAvx2(Fold& f, const uint8_t* bytes, size_t length) {
    length -= length % UnitBytes;
    const __m256i zero = _mm256_setzero_si256();
    const __m256i pairMultiplier = _mm256_set1_epi16(0x100 | Multiplier);
    const __m256i highBits = _mm256_set1_epi8(static_cast<char>(0x80));
    const __m256i multiplierInverse = _mm256_set1_epi16(MultiplierInverse);
    const __m256i lastWord = _mm256_set1_epi16(0x0F0E);  // pshufb: word 7 of each half
    const __m256i scaleIn = Load256(FoldTables.scaleIn);
    const __m256i scaleOut = Load256(FoldTables.scaleOut);
    __m256i carry = _mm256_set1_epi16(static_cast<int16_t>(f.r & 0xFF));
    __m256i x5 = zero, x7 = zero, sum = zero;
    for (size_t pos = 0; pos < length;) {
        const size_t chunk = std::min(length - pos, ChunkBytes);
        const int16_t* powersLow = FoldTables.powersLow + (ChunkBytes - chunk) / 2;
        const int16_t* powersHigh = FoldTables.powersHigh + (ChunkBytes - chunk) / 2;
        __m256i dotLow = zero, dotHigh = zero;
        for (size_t i = 0; i < chunk; i += 32) {
            const __m256i w = Load256(bytes + pos + i);
            // Bytes less 128 as signed: q - Bias = 233 (b0 - 128) + (b1 - 128).
            const __m256i q = _mm256_maddubs_epi16(pairMultiplier, _mm256_xor_si256(w, highBits));
            const __m256i odd = _mm256_srli_epi16(w, 8);
            dotLow = _mm256_add_epi32(dotLow, _mm256_madd_epi16(q, Load256(powersLow + i / 2)));
            dotHigh = _mm256_add_epi32(dotHigh, _mm256_madd_epi16(q, Load256(powersHigh + i / 2)));

            // Byte shifts stay within 128-bit halves, so the high half then
            // takes the low half's total.
            __m256i s = _mm256_mullo_epi16(q, scaleIn);
            s = _mm256_add_epi16(s, _mm256_slli_si256(s, 2));
            s = _mm256_add_epi16(s, _mm256_slli_si256(s, 4));
            s = _mm256_add_epi16(s, _mm256_slli_si256(s, 8));
            s = _mm256_add_epi16(
                s, _mm256_permute2x128_si256(_mm256_shuffle_epi8(s, lastWord), s, 0x08));
            const __m256i total = _mm256_permute4x64_epi64(_mm256_shuffle_epi8(s, lastWord), 0xFF);
            s = _mm256_add_epi16(s, carry);
            carry = _mm256_add_epi16(carry, total);
            const __m256i rOdd = _mm256_mullo_epi16(s, scaleOut);
            const __m256i rEven =
                _mm256_mullo_epi16(_mm256_sub_epi16(rOdd, odd), multiplierInverse);
            x5 = _mm256_xor_si256(x5, _mm256_xor_si256(rOdd, rEven));
            x7 = _mm256_xor_si256(x7, w);
            sum = _mm256_add_epi64(sum, _mm256_sad_epu8(w, zero));
        }
        f.r = AdvanceR(f.r, chunk, AddHalves32(dotLow), AddHalves32(dotHigh));
        pos += chunk;
    }
    Finish(f, XorHalves(x5), XorHalves(x7), AddHalves64(sum));
    CleanUpperHalves();
    return length;
}

}  // namespace

void AddToChecksumAvx2(uint8_t (&state)[8], const uint8_t* bytes, uint32_t length) {
    Run<BulkAvx2>(state, bytes, length);
}

}  // namespace checksum_internal

}  // namespace package
