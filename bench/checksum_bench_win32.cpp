// Times the Windows build's checksum folds over 1 MiB in cache against the byte loop and
// memcpy, in rounds that take every fold in turn, and prints every run, the medians and the
// ratios to the byte loop of this run. Not a test: it asserts nothing about time.
//
// usage: checksum_bench [ROUNDS]   (default 7)

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "bench/byte_loop.h"
#include "package/checksum.h"
#include "package/checksum_paths.h"

using namespace package;

namespace {

constexpr uint32_t BufferSize = 1 << 20;

struct Fold {
    const char* name;
    checksum_internal::AddFn add;
    bool available;
    std::vector<double> seconds;  // per 1 MiB, one entry a round
};

double Now() {
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Seconds per call, over enough calls to last about 50 ms.
double TimeFold(checksum_internal::AddFn add, const std::vector<uint8_t>& buffer) {
    uint8_t state[8] = {};
    int calls = 1;
    for (;;) {
        const double start = Now();
        for (int i = 0; i < calls; ++i) add(state, buffer.data(), BufferSize);
        const double elapsed = Now() - start;
        if (elapsed > 0.05) {
            volatile uint8_t sink = state[0];
            (void)sink;
            return elapsed / calls;
        }
        calls *= 2;
    }
}

void Copy(uint8_t (&)[8], const uint8_t* bytes, uint32_t length) {
    static std::vector<uint8_t> target(BufferSize);
    std::memcpy(target.data(), bytes, length);
    volatile uint8_t sink = target[length / 2];
    (void)sink;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    std::vector<uint8_t> buffer(BufferSize);
    std::mt19937 rng(7);
    for (uint8_t& b : buffer) b = static_cast<uint8_t>(rng());

    using namespace checksum_internal;
    std::vector<Fold> folds = {
        {"byte loop", ByteLoop, true, {}},
        {"AddToChecksum", AddToChecksum, true, {}},
        {"SSE2", AddToChecksumSse2, true, {}},
        {"AVX2", AddToChecksumAvx2, CpuHasAvx2(), {}},
        {"AVX-512BW", AddToChecksumAvx512, CpuHasAvx512(), {}},
        {"AVX-512 VNNI", AddToChecksumAvx512Vnni, CpuHasAvx512Vnni(), {}},
        {"memcpy", Copy, true, {}},
    };
    for (int round = 0; round <= rounds; ++round)
        for (Fold& fold : folds)
            // Round 0 warms up and is not counted.
            if (fold.available) {
                const double seconds = TimeFold(fold.add, buffer);
                if (round > 0) fold.seconds.push_back(seconds);
            }

    const double baseline = Median(folds[0].seconds);
    std::printf("medians of %d rounds, 1 MiB in cache (us per MiB), ratio to the byte loop:\n",
                rounds);
    for (const Fold& fold : folds) {
        if (!fold.available) {
            std::printf("%-14s not supported by this CPU\n", fold.name);
            continue;
        }
        const double median = Median(fold.seconds);
        std::printf("%-14s %8.1f us %7.2f GiB/s  x%5.2f  (", fold.name, median * 1e6,
                    1.0 / 1024 / median, baseline / median);
        for (size_t i = 0; i < fold.seconds.size(); ++i)
            std::printf("%s%.1f", i ? " " : "", fold.seconds[i] * 1e6);
        std::printf(")\n");
    }
    return 0;
}
