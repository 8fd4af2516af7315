// The sound-file analyser as a user runs it: the attackscope binary on a ten-minute 16-bit
// recording at blocks of 2048, decoding and process start included, rows written to /dev/null.
// "cli/one_file" runs one file on one core (--jobs 1); "cli/two_files_jobs2" two such files with
// --jobs 2. The counter x_real_time is seconds of audio analysed per second of wall time.
#include <benchmark/benchmark.h>

#include <cerrno>
#include <string>
#include <vector>

#include "process.h"

namespace {

constexpr double recording_seconds = 20 * 646 * 2048 / 44100.0;

bool run_cli(std::vector<std::string> args) {
    args.insert(args.begin(), ATTACKSCOPE_BIN);
    return test_process::run(args).status == 0;
}

void run(benchmark::State &state, const std::vector<std::string> &args, int files) {
    for (auto _ : state) {
        if (!run_cli(args)) {
            state.SkipWithError("attackscope failed");
            return;
        }
    }
    state.counters["x_real_time"] =
        benchmark::Counter(files * recording_seconds * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
}

void cli_one_file(benchmark::State &state) {
    run(state, {"--jobs", "1", CLI_RECORDING}, 1);
}

void cli_two_files_jobs2(benchmark::State &state) {
    run(state, {"--jobs", "2", CLI_RECORDING, CLI_RECORDING_COPY}, 2);
}

} // namespace

BENCHMARK(cli_one_file)->Name("cli/one_file")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(cli_two_files_jobs2)
    ->Name("cli/two_files_jobs2")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
