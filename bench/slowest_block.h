// The audio-path figure of a stream: its slowest block. Each iteration plays the whole stream,
// block by block, and reports its slowest block as the iteration's time; the counter
// worst_block_us is the figure that does not depend on the machine's other load: each block's
// fastest time over all iterations (its own cost), then the slowest of those.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <vector>

namespace bench {

// start() before each pass; block(b) runs block b and returns how many results it gave (notes),
// counted per pass in the counter results_per_pass. Register with UseManualTime().
template <class Start, class Block>
void time_slowest_block(benchmark::State &state, std::size_t blocks, double block_seconds,
                        Start start, Block block) {
    std::vector<double> fastest(blocks, 1e9);
    long results = 0;
    for (auto _ : state) {
        start();
        double worst = 0.0;
        for (std::size_t b = 0; b < blocks; b++) {
            const auto t0 = std::chrono::steady_clock::now();
            results += block(b);
            const double took =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            worst = std::max(worst, took);
            fastest[b] = std::min(fastest[b], took);
        }
        state.SetIterationTime(worst);
    }
    state.counters["block_seconds"] = block_seconds;
    state.counters["worst_block_us"] = *std::max_element(fastest.begin(), fastest.end()) * 1e6;
    state.counters["estimates_per_note"] =
        static_cast<double>(results) / static_cast<double>(state.iterations());
}

} // namespace bench
