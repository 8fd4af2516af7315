// The first blocks after a chain build, as a user meets them at the first note after DSP starts:
// each measurement runs in a new process (this binary started again with --first-block-child),
// so nothing the other benchmarks warmed (caches of the transform, pages of memory, resolved
// library calls) is warm there.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "process.h"

#include "pd_host.h"
#include "signals.h"

extern "C" void attackscope_tilde_setup(void);
namespace {

constexpr int sr = 44100;
constexpr const char *child_flag = "--first-block-child=";

struct FirstBlocks {
    double gate_ns = 0, analysis_ns = 0, again_ns = 0;
    bool ok = false;
};

FirstBlocks spawn_child(int n) {
    FirstBlocks result;
    const test_process::process_result r =
        test_process::run({"/proc/self/exe", child_flag + std::to_string(n)});
    result.ok = r.status == 0 && std::sscanf(r.out.c_str(), "%lf %lf %lf", &result.gate_ns,
                                             &result.analysis_ns, &result.again_ns) == 3;
    return result;
}

// A 31 Hz note with many harmonics from the first sample: the first gate block is an onset (the
// energy ring starts empty), so the second block analyses it, with a period near the longest the
// pitch search reports.
void first_blocks(benchmark::State &state, int n) {
    double worst = 0;
    for (auto _ : state) {
        const FirstBlocks b = spawn_child(n);
        if (!b.ok) {
            state.SkipWithError("the measuring process failed");
            return;
        }
        worst = std::max(worst, std::max(b.gate_ns, b.analysis_ns));
        state.SetIterationTime(b.analysis_ns * 1e-9);
        state.counters["first_gate_us"] = b.gate_ns * 1e-3;
        state.counters["after_rebuild_us"] = b.again_ns * 1e-3;
    }
    state.counters["worst_us"] = worst * 1e-3;
    state.counters["block_seconds"] = static_cast<double>(n) / sr;
}

const bool registered = [] {
    // At 64 samples four blocks are too short for the pitch search: the second block drops the
    // event at once, and the figure that matters is the first gate block.
    for (int n : {64, 2048})
        benchmark::RegisterBenchmark(("first_analysis_block/" + std::to_string(n)).c_str(),
                                     first_blocks, n)
            ->UseManualTime()
            ->Iterations(15);
    return true;
}();

} // namespace

// In the new process: a chain build, then the first gate block and the first analysis block,
// each timed alone; then the same analysis after a second chain build, for comparison. Prints the
// three in nanoseconds.
int run_first_block_child(const char *arg) {
    if (std::strncmp(arg, child_flag, std::strlen(child_flag)) != 0)
        return -1;
    const int n = std::atoi(arg + std::strlen(child_flag));
    attackscope_tilde_setup();
    pdhost::Object obj("attackscope~");
    std::vector<float> audio(static_cast<size_t>(2 * n), 0.0f);
    signals::add_tone(audio, 0, 31.0, 1.0, 0.6, 40, 0.5);
    double ns[4];
    for (int k = 0; k < 4; k++) {
        if (k % 2 == 0)
            obj.dsp(n);
        const auto t0 = std::chrono::steady_clock::now();
        obj.perform(audio.data() + (k % 2) * n);
        const auto t1 = std::chrono::steady_clock::now();
        ns[k] = std::chrono::duration<double, std::nano>(t1 - t0).count();
    }
    // Each second block must have been the analysis block: the first sent the only energy.
    if (obj.outlet(2).size() != 2)
        return 1;
    std::printf("%.0f %.0f %.0f\n", ns[0], ns[1], ns[3]);
    return 0;
}
