// Whole blocks of the engine with the position estimate on, as [attackscope~ -position] runs
// them: the designed gate or analysis and the estimate's slice of work, over a whole note; the
// figure is the slowest block (slowest_block.h).
#include <benchmark/benchmark.h>

#include <vector>

#include "engine/engine.h"
#include "plucked_string.h"
#include "slowest_block.h"

namespace {

constexpr int sr = 44100;

// Counts the notes; the designed outlets' values go nowhere, as into an unconnected outlet.
struct note_counter final : engine_sink {
    void note(const dsp::pluck_estimate &) override { notes++; }
    int notes = 0;
};

void engine_note(benchmark::State &state, int n, double f0) {
    signals::string_pluck p;
    p.f0 = f0;
    p.position = 0.3;
    p.seconds = 0.4;
    const signals::rendered_note note = signals::render_string(p, 2 * n + 100);
    std::vector<float> audio = note.samples;
    audio.resize((audio.size() / static_cast<size_t>(n) + 2) * static_cast<size_t>(n), 0.0f);
    attackscope_engine e{};
    engine_enable_position(e);
    note_counter sink;
    bench::time_slowest_block(
        state, audio.size() / static_cast<size_t>(n), static_cast<double>(n) / sr,
        [&] {
            engine_reset(e, n);
            engine_reset_position(e, sr);
        },
        [&](size_t b) {
            const int before = sink.notes;
            engine_run_block(e, audio.data() + b * static_cast<size_t>(n), n, sink);
            return sink.notes - before;
        });
    engine_release(e);
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
