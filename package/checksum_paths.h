#pragma once

// Individual implementations behind AddToChecksum, exposed so tests and
// benchmarks can exercise each one regardless of what the dispatcher picks.

#include <cstdint>

namespace package {

namespace checksum_internal {

using AddFn = void (*)(uint8_t (&state)[8], const uint8_t* bytes, uint32_t length);

// One byte at a time; the SIMD paths fall back to it for their tails.
void AddToChecksumScalar(uint8_t (&state)[8], const uint8_t* bytes, uint32_t length);
void AddToChecksumSse2(uint8_t (&state)[8], const uint8_t* bytes, uint32_t length);
// Only call these when the matching Cpu...() check returns true.
void AddToChecksumAvx2(uint8_t (&state)[8], const uint8_t* bytes, uint32_t length);
void AddToChecksumAvx512(uint8_t (&state)[8], const uint8_t* bytes, uint32_t length);
void AddToChecksumAvx512Vnni(uint8_t (&state)[8], const uint8_t* bytes, uint32_t length);

bool CpuHasAvx2();
bool CpuHasAvx512();
bool CpuHasAvx512Vnni();

}  // namespace checksum_internal

}  // namespace package
