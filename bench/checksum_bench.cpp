#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench/byte_loop.h"
#include "package/checksum.h"
#include "package/checksum_paths.h"

using namespace package;

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

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string LoadAverage() {
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

// After the usual table, every benchmark's median time beside its ratio to the byte
// loop's median, all from this run, and every repetition.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            const std::string& name = run.run_name.function_name;
            if (times_.count(name) == 0) order_.push_back(name);
            times_[name].push_back(run.GetAdjustedRealTime());
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        const auto loop = times_.find("BM_ByteLoop");
        if (loop == times_.end()) return;
        const double baseline = Median(loop->second);
        std::printf("\nmedians of 1 MiB folds (ns), ratio to the byte loop of this run:\n");
        for (const std::string& name : order_) {
            const std::vector<double>& all = times_[name];
            std::printf("%-18s %9.0f ns %7.2f GiB/s  x%5.2f  (", name.c_str(), Median(all),
                        kBufferSize / Median(all) / 1.073741824, baseline / Median(all));
            for (size_t i = 0; i < all.size(); ++i) std::printf("%s%.0f", i ? " " : "", all[i]);
            std::printf(")\n");
        }
        std::printf("load average at the end: %s\n", LoadAverage().c_str());
    }

private:
    std::vector<std::string> order_;
    std::map<std::string, std::vector<double>> times_;
};

}  // namespace

// Repeats each benchmark 7 times unless told otherwise, so that the ratios are medians.
int main(int argc, char** argv) {
    std::vector<char*> args(argv, argv + argc);
    std::string repetitions = "--benchmark_repetitions=7";
    if (std::none_of(args.begin(), args.end(), [](const char* arg) {
            return std::strncmp(arg, "--benchmark_repetitions", 23) == 0;
        }))
        args.push_back(repetitions.data());
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    std::printf("load average at the start: %s\n", LoadAverage().c_str());
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
