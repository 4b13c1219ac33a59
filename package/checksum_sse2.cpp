// The SSE2 fold: a unit of 16 pairs in two 128-bit vectors; every x86-64 processor has it.
#include <algorithm>

#include "package/checksum_fold.h"

namespace package {

namespace checksum_internal {

namespace {

size_t BulkSse2(Fold& f, const uint8_t* bytes, size_t length) {
    length -= length % UnitBytes;
    const __m128i zero = _mm_setzero_si128();
    const __m128i lowByte = _mm_set1_epi16(0xFF);
    const __m128i bias = _mm_set1_epi16(static_cast<int16_t>(-Bias));
    const __m128i mul = _mm_set1_epi16(Multiplier);
    const __m128i multiplierInverse = _mm_set1_epi16(MultiplierInverse);
    // A unit is two vectors, each with its half of the scale period.
    const __m128i scaleIn[2] = {Load128(FoldTables.scaleIn), Load128(FoldTables.scaleIn + 8)};
    const __m128i scaleOut[2] = {Load128(FoldTables.scaleOut), Load128(FoldTables.scaleOut + 8)};
    __m128i carry = _mm_set1_epi16(static_cast<int16_t>(f.r & 0xFF));
    __m128i x5 = zero, x7 = zero, sum = zero;
    for (size_t pos = 0; pos < length;) {
        const size_t chunk = std::min(length - pos, ChunkBytes);
        const int16_t* powersLow = FoldTables.powersLow + (ChunkBytes - chunk) / 2;
        const int16_t* powersHigh = FoldTables.powersHigh + (ChunkBytes - chunk) / 2;
        __m128i dotLow = zero, dotHigh = zero;
        for (size_t i = 0; i < chunk; i += 16) {
            const __m128i w = Load128(bytes + pos + i);
            const __m128i odd = _mm_add_epi16(_mm_srli_epi16(w, 8), bias);
            const __m128i q = _mm_add_epi16(_mm_mullo_epi16(_mm_and_si128(w, lowByte), mul), odd);
            dotLow = _mm_add_epi32(dotLow, _mm_madd_epi16(q, Load128(powersLow + i / 2)));
            dotHigh = _mm_add_epi32(dotHigh, _mm_madd_epi16(q, Load128(powersHigh + i / 2)));

            const size_t half = i / 16 % 2;
            __m128i s = _mm_mullo_epi16(q, scaleIn[half]);
            s = _mm_add_epi16(s, _mm_slli_si128(s, 2));
            s = _mm_add_epi16(s, _mm_slli_si128(s, 4));
            s = _mm_add_epi16(s, _mm_slli_si128(s, 8));
            const __m128i total = _mm_shuffle_epi32(_mm_shufflehi_epi16(s, 0xFF), 0xFF);
            s = _mm_add_epi16(s, carry);
            carry = _mm_add_epi16(carry, total);
            const __m128i rOdd = _mm_mullo_epi16(s, scaleOut[half]);
            const __m128i rEven = _mm_mullo_epi16(_mm_sub_epi16(rOdd, odd), multiplierInverse);
            x5 = _mm_xor_si128(x5, _mm_xor_si128(rOdd, rEven));
            x7 = _mm_xor_si128(x7, w);
            sum = _mm_add_epi64(sum, _mm_sad_epu8(w, zero));
        }
        f.r = AdvanceR(f.r, chunk, dotLow, dotHigh);
        pos += chunk;
    }
    Finish(f, x5, x7, sum);
    return length;
}

}  // namespace

void AddToChecksumSse2(uint8_t (&state)[8], const uint8_t* bytes, uint32_t length) {
    Run<BulkSse2>(state, bytes, length);
}

}  // namespace checksum_internal

}  // namespace package
