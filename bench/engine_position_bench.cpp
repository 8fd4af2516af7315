// Whole blocks of the engine with the position estimate on, as [attackscope~ -position] runs
// them: the designed gate or analysis and the estimate's slice of work, over a whole note. The
// figure is the slowest block: each block's fastest time over all iterations (its own cost, not
// the machine's other load), then the slowest of them; the printed time is the same per iteration.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "engine/engine.h"
#include "position/pluck_position.h"
#include "plucked_string.h"

namespace {

constexpr int sr = 44100;

void engine_note(benchmark::State &state, int n, double f0) {
    signals::string_pluck p;
    p.f0 = f0;
    p.position = 0.3;
    p.seconds = 0.4;
    const signals::rendered_note note = signals::render_string(p, 2 * n + 100);
    std::vector<float> audio = note.samples;
    audio.resize((audio.size() / static_cast<size_t>(n) + 2) * static_cast<size_t>(n), 0.0f);
    const size_t blocks = audio.size() / static_cast<size_t>(n);
    attackscope_engine e{};
    engine_enable_position(e);
    std::vector<double> fastest(blocks, 1e9);
    int estimates = 0;
    for (auto _ : state) {
        engine_reset(e, n);
        engine_reset_position(e, sr);
        double worst = 0;
        for (size_t b = 0; b < blocks; b++) {
            const float *in = audio.data() + b * static_cast<size_t>(n);
            const auto t0 = std::chrono::steady_clock::now();
            const block_start s = engine_begin_block(e, in, n);
            if (s.analysis)
                benchmark::DoNotOptimize(engine_analyse(e, n, s.clipped));
            else
                benchmark::DoNotOptimize(engine_decide(e, s.energy));
            dsp::pluck_estimate est;
            estimates += engine_position(e, n, s.analysis, est);
            const double took =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            worst = std::max(worst, took);
            fastest[b] = std::min(fastest[b], took);
        }
        state.SetIterationTime(worst);
    }
    engine_release(e);
    state.counters["block_seconds"] = static_cast<double>(n) / sr;
    state.counters["worst_block_us"] = *std::max_element(fastest.begin(), fastest.end()) * 1e6;
    state.counters["estimates_per_note"] =
        static_cast<double>(estimates) / static_cast<double>(state.iterations());
}

const bool registered = [] {
    for (int n : {64, 2048})
        for (double f : {41.2, 110.0, 440.0})
            benchmark::RegisterBenchmark(
                ("engine_with_position/" + std::to_string(int(f)) + "Hz/" + std::to_string(n))
                    .c_str(),
                engine_note, n, f)
                ->UseManualTime();
    return true;
}();

} // namespace
