// The pitch estimate of one analysed event: two transforms of a four-block capture.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "dsp/pitch.h"
#include "pitch_scratch.h"

namespace {

constexpr int sr = 44100;

// A decaying harmonic tone at 196 Hz, as a plucked string gives.
std::vector<double> pluck(int n) {
    std::vector<double> x(static_cast<std::size_t>(n));
    for (int t = 0; t < n; t++) {
        double v = 0;
        for (int h = 1; h <= 6; h++)
            v += std::sin(2 * M_PI * 196.0 * h * t / sr) / h;
        x[static_cast<std::size_t>(t)] = 0.3 * v * std::exp(-3.0 * t / sr);
    }
    return x;
}

void estimate_pitch_capture(benchmark::State &state, int n) {
    const std::vector<double> x = pluck(n);
    for (auto _ : state)
        benchmark::DoNotOptimize(signals::estimate_pitch(x.data(), sr, n));
    // The call runs inside one perform call of a block a quarter of the capture long: the time
    // it takes is set against that block's real-time length.
    state.counters["block_seconds"] = n / 4.0 / sr;
}

const bool registered =
    benchmark::RegisterBenchmark("pitch/ours/8192", estimate_pitch_capture, 8192) != nullptr;

} // namespace
