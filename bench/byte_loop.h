// The byte loop every faster fold is measured against, shared by the benchmarks.
#pragma once

#include <cstdint>

// One byte at a time, with the sums kept in registers so that only the multiply chain
// limits it.
inline void ByteLoop(uint8_t (&state)[8], const uint8_t* bytes, uint32_t length) {
    uint32_t r = state[0] | state[1] << 8 | state[2] << 16 | uint32_t{state[3]} << 24;
    uint8_t low_sum = state[4], low_xor = state[5], sum = state[6], all_xor = state[7];
    for (uint32_t i = 0; i < length; ++i) {
        r = r * 233 + bytes[i];
        low_sum = static_cast<uint8_t>(low_sum + r);
        low_xor ^= static_cast<uint8_t>(r);
        sum = static_cast<uint8_t>(sum + bytes[i]);
        all_xor ^= bytes[i];
    }
    for (int i = 0; i < 4; ++i) state[i] = static_cast<uint8_t>(r >> (8 * i));
    state[4] = low_sum;
    state[5] = low_xor;
    state[6] = sum;
    state[7] = all_xor;
}
