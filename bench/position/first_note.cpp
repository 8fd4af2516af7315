// The slowest block of the first note after a chain build, as a user meets it when DSP starts:
// each run is a new process (nothing warm: caches, pages, branch history), a tracker prepared and
// one note played through it. The figure that does not depend on the machine's other load is
// each block's fastest time over the runs, then the slowest block.
//   position_first_note [--runs N] [--block N] [--f0 HZ]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "plucked_string.h"
#include "position/pluck_position.h"

namespace {

constexpr int sr = 44100;

// In this process: one note, each block's push() + advance() timed, one line of nanoseconds.
int play_once(int n, double f0) {
    signals::string_pluck p;
    p.f0 = f0;
    p.position = 0.3;
    p.pickup = 0.03;
    p.velocity = true;
    p.seconds = 0.4;
    std::vector<float> audio = signals::render_string(p, 2 * n + 100).samples;
    audio.resize((audio.size() / static_cast<size_t>(n) + 1) * static_cast<size_t>(n), 0.0f);
    dsp::pluck_tracker tracker;
    tracker.prepare(sr, n);
    const size_t blocks = audio.size() / static_cast<size_t>(n);
    std::vector<double> ns(blocks);
    int estimates = 0;
    for (size_t b = 0; b < blocks; b++) {
        dsp::pluck_estimate e;
        const auto t0 = std::chrono::steady_clock::now();
        tracker.push(audio.data() + b * static_cast<size_t>(n), n);
        estimates += tracker.advance(n, true, e);
        ns[b] =
            std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count();
    }
    std::printf("%d", estimates);
    for (double v : ns)
        std::printf(" %.0f", v);
    std::printf("\n");
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    int runs = 15, n = 64;
    double f0 = 41.2;
    bool child = false;
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc)
            runs = std::atoi(argv[++i]);
        else if (a == "--block" && i + 1 < argc)
            n = std::clamp(std::atoi(argv[++i]), 1, 65536);
        else if (a == "--f0" && i + 1 < argc)
            f0 = std::atof(argv[++i]);
        else if (a == "--child")
            child = true;
    }
    if (child)
        return play_once(n, f0);
    // The shell that popen() starts is not this program: its path, read before.
    char self[4096];
    const ssize_t len = readlink("/proc/self/exe", self, sizeof self - 1);
    if (len <= 0)
        return 1;
    self[len] = '\0';
    char command[4200];
    std::snprintf(command, sizeof command, "'%s' --child --block %d --f0 %.17g", self, n, f0);
    std::vector<double> fastest;
    for (int r = 0; r < runs; r++) {
        FILE *pipe = popen(command, "r");
        if (!pipe)
            return 1;
        int estimates = 0;
        if (std::fscanf(pipe, "%d", &estimates) != 1 || estimates != 1) {
            pclose(pipe);
            std::fprintf(stderr, "the note gave %d estimates\n", estimates);
            return 1;
        }
        double v = 0;
        for (size_t b = 0; std::fscanf(pipe, "%lf", &v) == 1; b++) {
            if (b >= fastest.size())
                fastest.push_back(v);
            fastest[b] = std::min(fastest[b], v);
        }
        if (pclose(pipe) != 0)
            return 1;
    }
    if (fastest.empty())
        return 1;
    const auto worst = std::max_element(fastest.begin(), fastest.end());
    const double share = *worst * 1e-9 / (static_cast<double>(n) / sr) * 100.0;
    std::printf("first note, blocks of %d, f0 %.1f Hz, %d new processes: slowest block %.1f us "
                "(block %td), %.3f%% of its real time\n",
                n, f0, runs, *worst * 1e-3, worst - fastest.begin(), share);
    return 0;
}
