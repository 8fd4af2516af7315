// The whole object in the real host: pd in batch mode plays ten minutes (logical time) of a looped
// plucked-note stream through attackscope~ ("ours"), through Pd's own onset detector bonk~
// ("bonk"), or through nothing ("empty"), in blocks of 64 and of 2048 samples. The figure is the
// CPU time (user + system) of the pd process; empty's figure is the cost of the host and the
// stream, which the ratio table subtracts from the other two.
#include <benchmark/benchmark.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "process.h"

namespace {

constexpr double run_samples = 600.0 * 44100; // the patches quit after 600000 ms

struct PdRun {
    std::string error; // empty when pd ran and exited with status 0
    std::string output;
    double cpu_seconds = 0;
};

PdRun run_pd(const std::string &patch) {
    const std::string path = std::string(PATCH_DIR) + "/" + patch;
    const test_process::process_result r =
        test_process::run({PD_EXECUTABLE, "-nrt", "-nogui", "-noaudio", "-batch", "-stderr",
                           "-path", PLUGIN_DIR, "-path", STREAM_DIR, "-open", path});
    PdRun run;
    run.output = r.out + r.err;
    run.cpu_seconds = r.cpu_seconds;
    if (r.status != 0)
        run.error = "pd did not exit with status 0: " + r.err.substr(0, 200);
    return run;
}

// The value of `key` on the count line "<who> blocks N key value ..." that the patch prints at
// the finish, or -1.
double printed(const std::string &output, const std::string &who, const std::string &key) {
    const size_t line = output.find(who + " blocks ");
    if (line == std::string::npos)
        return -1;
    const size_t start = line + who.size();
    std::istringstream words(output.substr(start, output.find('\n', start) - start));
    std::string name;
    for (double value; words >> name >> value;)
        if (name == key)
            return value;
    return -1;
}

// Pd exits 0 even when an object cannot be created, so the run also has to print its counts.
std::string check(const PdRun &run, const std::string &impl, int block, double &events) {
    if (!run.error.empty())
        return run.error + "\n" + run.output;
    for (const char *bad : {"couldn't create", "error", "can't open"})
        if (run.output.find(bad) != std::string::npos)
            return "pd printed \"" + std::string(bad) + "\":\n" + run.output;
    const std::string who = impl == "ours"   ? "attackscope~:"
                            : impl == "bonk" ? "bonk~:"
                                             : "stream:";
    const double blocks = printed(run.output, who, "blocks");
    if (blocks < run_samples / block - 2)
        return "the stream did not run ten minutes:\n" + run.output;
    if (impl == "ours") {
        // The block after an onset is not measured, so every missing energy is an onset.
        const double energies = printed(run.output, who, "energies");
        if (energies < 0)
            return "attackscope~ printed no energy count:\n" + run.output;
        events = blocks - energies;
        if (block >= 373 && printed(run.output, who, "shapes") <= 0)
            return "attackscope~ sent no shape ratio:\n" + run.output;
    } else if (impl == "bonk") {
        events = printed(run.output, who, "attacks");
    }
    if (impl != "empty" && events <= 0)
        return impl + " detected no attack:\n" + run.output;
    return "";
}

void pd_stream(benchmark::State &state, const std::string &impl, const std::string &patch,
               int block) {
    double events = 0;
    for (auto _ : state) {
        const PdRun run = run_pd(patch);
        if (const std::string error = check(run, impl, block, events); !error.empty()) {
            state.SkipWithError(error.c_str());
            return;
        }
        state.SetIterationTime(run.cpu_seconds);
    }
    state.counters["events"] = events;
}

const bool registered = [] {
    const std::pair<const char *, const char *> impls[] = {
        {"ours", "attackscope"}, {"bonk", "bonk"}, {"empty", "empty"}};
    for (int block : {64, 2048})
        for (const auto &[impl, patch] : impls)
            benchmark::RegisterBenchmark(
                ("pd_stream/" + std::string(impl) + "/" + std::to_string(block)).c_str(), pd_stream,
                std::string(impl), std::string(patch) + "-" + std::to_string(block) + ".pd", block)
                ->UseManualTime()
                ->Iterations(3)
                ->Unit(benchmark::kMillisecond);
    return true;
}();

} // namespace
