// The direct autocorrelation of the longest segment the analysis measures (two periods of the
// lowest pitch it accepts), on each vector unit and against the plain one-lag-at-a-time sum.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "dsp/numeric.h"

namespace {

constexpr int longest_segment = 2978;

std::vector<double> segment() {
    std::vector<double> x(longest_segment);
    for (int t = 0; t < longest_segment; t++)
        x[std::size_t(t)] = std::exp(-t / 900.0) * std::sin(t * 0.0042);
    return x;
}

void plain(benchmark::State &state) {
    const std::vector<double> x = segment();
    std::vector<double> r(x.size());
    const int n = longest_segment;
    for (auto _ : state) {
        for (int k = 0; k < n; k++) {
            double sum = 0;
            for (int j = 0; j < n - k; j++)
                sum = x[std::size_t(j)] * x[std::size_t(j + k)] + sum;
            r[std::size_t(k)] = sum;
        }
        benchmark::DoNotOptimize(r.data());
    }
}

void on_level(benchmark::State &state, dsp::simd_level level) {
    const std::vector<double> x = segment();
    std::vector<double> r(x.size());
    for (auto _ : state) {
        dsp::autocorr_direct_on(level, x.data(), r.data(), longest_segment);
        benchmark::DoNotOptimize(r.data());
    }
}

const bool registered = [] {
    const auto size = "/" + std::to_string(longest_segment);
    benchmark::RegisterBenchmark(("autocorr/ours" + size).c_str(), on_level,
                                 dsp::simd_level_available());
    benchmark::RegisterBenchmark(("autocorr/plain" + size).c_str(), plain);
    benchmark::RegisterBenchmark(("autocorr/baseline" + size).c_str(), on_level,
                                 dsp::simd_level::baseline);
    if (dsp::simd_level_available() != dsp::simd_level::baseline)
        benchmark::RegisterBenchmark(("autocorr/avx2" + size).c_str(), on_level,
                                     dsp::simd_level::avx2);
    return true;
}();

} // namespace
