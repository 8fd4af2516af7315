// The audio-path cost of the pluck-position tracker: the worst single push() + advance() over a
// whole note, at blocks of 64 and 2048 samples, for the lowest fundamental (the longest window,
// the largest transform and the most partials) and for typical notes.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "position/pluck_position.h"
#include "plucked_string.h"

namespace {

constexpr int sr = 44100;

// Each iteration plays one note through a prepared tracker, the onset given in the block where
// the pull begins and the block after it busy (as the object's analysis block is); the time
// reported is the slowest single block's push() + advance() of the iteration. The counter
// worst_block_us is the figure that does not depend on the machine's other load: each block's
// fastest time over all iterations (its own cost), then the slowest block.
void tracker_note(benchmark::State &state, int n, double f0, bool velocity) {
    signals::string_pluck p;
    p.f0 = f0;
    p.position = 0.3;
    p.pickup = 0.03;
    p.velocity = velocity;
    p.seconds = 0.4;
    const int lead = 2 * n + 100;
    const signals::rendered_note note = signals::render_string(p, lead);
    std::vector<float> audio = note.samples;
    audio.resize((audio.size() / static_cast<size_t>(n) + 1) * static_cast<size_t>(n), 0.0f);
    const size_t onset_block = static_cast<size_t>(lead / n);
    dsp::pluck_tracker tracker;
    tracker.prepare(sr, n);
    const size_t blocks = audio.size() / static_cast<size_t>(n);
    std::vector<double> fastest(blocks, 1e9);
    int results = 0;
    for (auto _ : state) {
        tracker.reset();
        double worst = 0.0;
        for (size_t b = 0; b < blocks; b++) {
            const float *in = audio.data() + b * static_cast<size_t>(n);
            dsp::pluck_estimate e;
            const auto t0 = std::chrono::steady_clock::now();
            tracker.push(in, n);
            if (b == onset_block)
                tracker.onset();
            const bool got = tracker.advance(n, b != onset_block + 1, e);
            const auto t1 = std::chrono::steady_clock::now();
            results += got;
            const double took = std::chrono::duration<double>(t1 - t0).count();
            worst = std::max(worst, took);
            fastest[b] = std::min(fastest[b], took);
        }
        state.SetIterationTime(worst);
    }
    state.counters["block_seconds"] = static_cast<double>(n) / sr;
    state.counters["worst_block_us"] = *std::max_element(fastest.begin(), fastest.end()) * 1e6;
    state.counters["estimates_per_note"] =
        static_cast<double>(results) / static_cast<double>(state.iterations());
}

const bool registered = [] {
    for (int n : {64, 2048}) {
        benchmark::RegisterBenchmark(("position/worst/41Hz/" + std::to_string(n)).c_str(),
                                     tracker_note, n, 41.2, true)
            ->UseManualTime();
        for (double f : {110.0, 440.0})
            benchmark::RegisterBenchmark(
                ("position/" + std::to_string(int(f)) + "Hz/" + std::to_string(n)).c_str(),
                tracker_note, n, f, false)
                ->UseManualTime();
    }
    return true;
}();

} // namespace
