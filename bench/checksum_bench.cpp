#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "package/checksum.h"
#include "package/checksum_paths.h"

namespace {

constexpr uint32_t kBufferSize = 1 << 20;

const std::vector<uint8_t>& Buffer() {
    static const std::vector<uint8_t> buffer = [] {
        std::vector<uint8_t> bytes(kBufferSize);
        std::mt19937 rng(7);
        for (auto& b : bytes) b = static_cast<uint8_t>(rng());
        return bytes;
    }();
    return buffer;
}

// The byte loop every faster path is measured against, with the sums kept in
// registers so that only the multiply chain limits it.
void ByteLoop(uint8_t (&state)[8], const uint8_t* bytes, uint32_t length) {
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

void Fold(benchmark::State& state, checksum_internal::AddFn add, bool available) {
    if (!available) {
        state.SkipWithError("not supported by this CPU");
        return;
    }
    const auto& buffer = Buffer();
    uint8_t sum[8] = {};
    for (auto _ : state) {
        add(sum, buffer.data(), kBufferSize);
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBufferSize);
}

void BM_ByteLoop(benchmark::State& state) {
    Fold(state, ByteLoop, true);
}
void BM_AddToChecksum(benchmark::State& state) {
    Fold(state, AddToChecksum, true);
}
void BM_Scalar(benchmark::State& state) {
    Fold(state, checksum_internal::AddToChecksumScalar, true);
}
void BM_Sse2(benchmark::State& state) {
    Fold(state, checksum_internal::AddToChecksumSse2, true);
}
void BM_Avx2(benchmark::State& state) {
    Fold(state, checksum_internal::AddToChecksumAvx2, checksum_internal::CpuHasAvx2());
}
void BM_Avx512(benchmark::State& state) {
    Fold(state, checksum_internal::AddToChecksumAvx512, checksum_internal::CpuHasAvx512());
}

void BM_Avx512Vnni(benchmark::State& state) {
    Fold(state, checksum_internal::AddToChecksumAvx512Vnni, checksum_internal::CpuHasAvx512Vnni());
}

void BM_Memcpy(benchmark::State& state) {
    const auto& buffer = Buffer();
    std::vector<uint8_t> copy(kBufferSize);
    for (auto _ : state) {
        std::memcpy(copy.data(), buffer.data(), kBufferSize);
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBufferSize);
}

BENCHMARK(BM_ByteLoop);
BENCHMARK(BM_AddToChecksum);
BENCHMARK(BM_Scalar);
BENCHMARK(BM_Sse2);
BENCHMARK(BM_Avx2);
BENCHMARK(BM_Avx512);
BENCHMARK(BM_Avx512Vnni);
BENCHMARK(BM_Memcpy);

}  // namespace

BENCHMARK_MAIN();
