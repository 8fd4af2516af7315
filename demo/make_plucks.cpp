// Writes the demo recording: plucked-string notes made by Karplus-Strong synthesis from a fixed
// seed, so the file is the same on every build. Mono, 44100 Hz, 32-bit float WAV.
#include <cstdio>
#include <vector>

#include "signals.h"
#include "wav_file.h"

namespace {

struct Note {
    double seconds, freq, level;
};

// A short phrase of guitar-range notes; each rings 0.6 s and the next starts 0.8 s after it.
constexpr Note notes[] = {{0.25, 196.0, 0.5},  {1.05, 246.94, 0.5}, {1.85, 440.0, 0.4},
                          {2.65, 329.63, 0.6}, {3.45, 110.0, 0.7},  {4.25, 293.66, 0.5},
                          {5.05, 392.0, 0.4},  {5.85, 220.0, 0.6}};
constexpr double total_seconds = 7.0;

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT.wav\n", argv[0]);
        return 2;
    }
    std::vector<float> audio(static_cast<size_t>(total_seconds * signals::rate), 0.0f);
    uint32_t seed = 1;
    for (const Note &n : notes)
        signals::add_pluck(audio, static_cast<int>(n.seconds * signals::rate), n.freq, 0.6, n.level,
                           seed++);

    return signals::write_float_wav(argv[1], audio, signals::rate) ? 0 : 1;
}
