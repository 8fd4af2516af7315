// The audio-path cost of attackscope~ per block: a gate block, and an analysis block in its
// worst case and for typical notes.
#include <benchmark/benchmark.h>

#include <vector>

#include "analysis.h"
#include "attackscope.h"
#include "pd_host.h"
#include "pitch.h"
#include "signals.h"

extern "C" void attackscope_tilde_setup(void);

namespace {

constexpr int sr = 44100;

struct Scope {
    pdhost::Object obj;
    t_attackscope *x;
    explicit Scope(int n) : obj("attackscope~"), x(obj.as<t_attackscope>()) { obj.dsp(n); }
};

void ensure_class() {
    static const bool loaded = (attackscope_tilde_setup(), true);
    (void)loaded;
}

// A gate block: preparation pass, energy and decision (a high floor keeps it from starting events).
void gate_block(benchmark::State &state, int n) {
    ensure_class();
    Scope s(n);
    s.obj.send_float(3, 1e30f);
    std::vector<float> in(static_cast<size_t>(n));
    signals::add_pluck(in, 0, 196.0, 1.0, 0.5, 7);
    for (auto _ : state) {
        s.obj.perform(in.data());
        s.obj.clear_outlets();
    }
    state.counters["block_seconds"] = static_cast<double>(n) / sr;
}

// Fills the history with a note starting a little into the onset block (the third of four).
void load_note(Scope &s, int n, double freq) {
    std::vector<float> audio(static_cast<size_t>(4 * n), 0.0f);
    signals::add_tone(audio, 2 * n + 300, freq, 1.0, 0.6, 12, 0.2);
    for (int k = 0; k < 4; k++)
        for (int i = 0; i < n; i++)
            s.x->x_hist[3 - k][i] = audio[static_cast<size_t>(k * n + i)];
}

// A whole analysis block for a note: capture, pitch estimate and measurement.
void analysis_block(benchmark::State &state, int n, double freq) {
    ensure_class();
    Scope s(n);
    load_note(s, n, freq);
    for (auto _ : state) {
        s.x->x_state = 1;
        analyse_event(s.x, n, 0);
        s.obj.clear_outlets();
    }
    state.counters["block_seconds"] = static_cast<double>(n) / sr;
}

// The worst case, on the object's own scratch as in analyse_event: the pitch estimate plus the
// measurement at the lowest pitch the estimator can report (a period of 1489 samples), on a capture
// with no sign change, so the segment is two periods long and its direct autocorrelation is the
// largest there can be.
void analysis_block_worst(benchmark::State &state, int n) {
    ensure_class();
    Scope s(n);
    for (int i = 0; i < 4 * n; i++)
        s.x->x_capture[i] = 0.5 + 0.25 * signals::Noise(static_cast<uint32_t>(i)).next();
    const double lowest = static_cast<double>(sr) / (sr / 2300 + (sr / 30 + 1) - 1 + 1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(dsp::estimate_pitch(s.x->x_capture, sr, 4 * n, s.x->x_work));
        s.x->x_state = 1;
        finish_event(s.x, n, 0, lowest);
        s.obj.clear_outlets();
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
