// The audio-path cost of the pluck-position tracker: the worst single push() + advance() over a
// whole note, at blocks of 64 and 2048 samples, for the lowest fundamental (the longest window,
// the largest transform and the most partials) and for typical notes.
#include <benchmark/benchmark.h>

#include <vector>

#include "plucked_string.h"
#include "position/pluck_position.h"
#include "slowest_block.h"

namespace {

constexpr int sr = 44100;

// Each pass plays one note through a prepared tracker, the onset given in the block where the
// pull begins and the block after it busy (as the object's analysis block is); a block's time is
// its push() + advance(), the figure the slowest block (slowest_block.h).
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
    bench::time_slowest_block(
        state, audio.size() / static_cast<size_t>(n), static_cast<double>(n) / sr,
        [&] { tracker.reset(); },
        [&](size_t b) {
            dsp::pluck_estimate e;
            tracker.push(audio.data() + b * static_cast<size_t>(n), n);
            return tracker.advance(n, b != onset_block + 1, e) ? 1 : 0;
        });
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
