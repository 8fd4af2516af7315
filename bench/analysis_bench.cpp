// The audio-path cost of attackscope~ per block, in the engine the object runs: a gate block, and
// an analysis block in its worst case and for typical notes.
#include <benchmark/benchmark.h>

#include <vector>

#include "dsp/pitch.h"
#include "engine/analysis.h"
#include "engine/engine.h"
#include "signals.h"

namespace {

constexpr int sr = 44100;

struct Engine {
    attackscope_engine e{};
    explicit Engine(int n) { engine_reset(e, n); }
    ~Engine() { engine_release(e); }
};

struct energy_sink final : engine_sink {
    void energy(float sent) override { benchmark::DoNotOptimize(sent); }
};

// A gate block as the object runs it: preparation pass, energy and decision (a high floor keeps it
// from starting events).
void gate_block(benchmark::State &state, int n) {
    Engine s(n);
    engine_params(s.e).x_floor = 1e30f;
    std::vector<float> in(static_cast<size_t>(n));
    signals::add_pluck(in, 0, 196.0, 1.0, 0.5, 7);
    energy_sink sink;
    for (auto _ : state)
        engine_run_block(s.e, in.data(), n, sink);
    state.counters["block_seconds"] = static_cast<double>(n) / sr;
}

// Fills the history with a note starting a little into the onset block (the third of four).
void load_note(attackscope_engine &e, int n, double freq) {
    std::vector<float> audio(static_cast<size_t>(4 * n), 0.0f);
    signals::add_tone(audio, 2 * n + 300, freq, 1.0, 0.6, 12, 0.2);
    for (int k = 0; k < 4; k++)
        for (int i = 0; i < n; i++)
            e.x_hist[3 - k][i] = audio[static_cast<size_t>(k * n + i)];
}

// A whole analysis block for a note: capture, pitch estimate and measurement.
void analysis_block(benchmark::State &state, int n, double freq) {
    Engine s(n);
    load_note(s.e, n, freq);
    for (auto _ : state) {
        s.e.x_state = 1;
        benchmark::DoNotOptimize(analyse_event(s.e, n, 0));
    }
    state.counters["block_seconds"] = static_cast<double>(n) / sr;
}

// The worst case, on the engine's own scratch as in analyse_event: the pitch estimate plus the
// measurement at the lowest pitch the estimator can report (a period of 1489 samples), on a capture
// with no sign change, so the segment is two periods long and its direct autocorrelation is the
// largest there can be.
void analysis_block_worst(benchmark::State &state, int n) {
    Engine s(n);
    for (int i = 0; i < 4 * n; i++)
        s.e.x_capture[i] = 0.5 + 0.25 * signals::Noise(static_cast<uint32_t>(i)).next();
    const double lowest =
        static_cast<double>(sr) / (dsp::pitch_lag_below(sr) + dsp::pitch_lag_count(sr) - 1 + 1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            dsp::estimate_pitch(s.e.x_capture, sr, 4 * n, s.e.x_work, *s.e.x_fft));
        s.e.x_state = 1;
        benchmark::DoNotOptimize(finish_event(s.e, n, 0, lowest));
    }
    state.counters["block_seconds"] = static_cast<double>(n) / sr;
}

const bool registered = [] {
    benchmark::RegisterBenchmark("gate_block/64", gate_block, 64);
    benchmark::RegisterBenchmark("gate_block/2048", gate_block, 2048);
    benchmark::RegisterBenchmark("analysis_block/worst/2048", analysis_block_worst, 2048);
    for (double f : {82.41, 196.0, 440.0})
        benchmark::RegisterBenchmark(
            ("analysis_block/" + std::to_string(int(f)) + "Hz/2048").c_str(), analysis_block, 2048,
            f);
    return true;
}();

} // namespace
