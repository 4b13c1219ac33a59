#pragma once

#include <cstdint>

namespace package {

// Folds `length` bytes into an 8-byte checksum state, in order. Feeding data in
// pieces gives the same state as feeding it at once.
//
// State layout: bytes 0..3 hold the running value r (little-endian), updated as
// r = r * 233 + b for each data byte b; byte 4 is the sum and byte 5 the XOR of
// the low byte of r after every update; byte 6 is the sum and byte 7 the XOR of
// the data bytes. A zeroed state is the starting point.
void AddToChecksum(uint8_t (&state)[8], const uint8_t* bytes, uint32_t length);

}  // namespace package
