// The checksum's folds, and the dispatcher that picks the fastest one this processor runs.
//
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
//
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

#include "package/checksum.h"

#include "package/checksum_fold.h"

namespace package {

namespace checksum_internal {

uint32_t LoadR(const uint8_t (&state)[8]) {
    return uint32_t{state[0]} | uint32_t{state[1]} << 8 | uint32_t{state[2]} << 16 |
           uint32_t{state[3]} << 24;
}

void FoldBytes(Fold& f, const uint8_t* bytes, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        f.r = f.r * Multiplier + bytes[i];
        f.x5 ^= static_cast<uint8_t>(f.r);
        f.sum += bytes[i];
        f.x7 ^= bytes[i];
    }
}

void Store(uint8_t (&state)[8], uint32_t r0, const Fold& f) {
    // Summing r(k) = 233 r(k-1) + b(k) over the call gives
    // -232 * sum r(k) = 233 (r0 - rn) + B (mod 2^32). 232 = 8 * 29, so dividing
    // by 8 leaves -29 * sum r(k) mod 2^29, enough for its low byte.
    const uint32_t lowSum = ((Multiplier * (r0 - f.r) + f.sum) >> 3) * MinusTwentyNineInverse;
    for (int i = 0; i < 4; ++i) state[i] = static_cast<uint8_t>(f.r >> (8 * i));
    state[4] = static_cast<uint8_t>(state[4] + lowSum);
    state[5] ^= f.x5;
    state[6] = static_cast<uint8_t>(state[6] + f.sum);
    state[7] ^= f.x7;
}

namespace {

size_t NoBulk(Fold&, const uint8_t*, size_t) {
    return 0;
}

}  // namespace

void AddToChecksumScalar(uint8_t (&state)[8], const uint8_t* bytes, uint32_t length) {
    Run<NoBulk>(state, bytes, length);
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

}  // namespace package
