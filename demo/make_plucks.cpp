// Writes the demo recordings, the same on every build: plucked-string notes made by
// Karplus-Strong synthesis from a fixed seed, and, for the pluck-position estimate, ideal plucked
// strings with known pluck points. Mono, 44100 Hz, 32-bit float WAV.
#include <cstdio>
#include <vector>

#include "plucked_string.h"
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

// Ideal strings seen near the bridge, each pulled into shape over 30 ms before its release:
// pluck points the demo prints beside their estimates.
struct String {
    double freq, position;
    bool velocity;
};
constexpr String strings[] = {{110.0, 0.2, true},
                              {196.0, 0.33, false},
                              {82.41, 0.12, true},
                              {146.83, 0.45, true},
                              {329.63, 0.25, false}};
constexpr double string_spacing = 0.9; // s

std::vector<float> ideal_strings() {
    std::vector<float> audio;
    for (const String &s : strings) {
        signals::string_pluck p;
        p.f0 = s.freq;
        p.position = s.position;
        p.velocity = s.velocity;
        p.seconds = string_spacing - 0.2;
        const auto note = signals::render_string(p, signals::rate / 10);
        audio.insert(audio.end(), note.samples.begin(), note.samples.end());
        audio.resize(audio.size() + static_cast<size_t>(0.1 * signals::rate), 0.0f);
    }
    return audio;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s PLUCKS.wav [STRINGS.wav]\n", argv[0]);
        return 2;
    }
    std::vector<float> audio(static_cast<size_t>(total_seconds * signals::rate), 0.0f);
    uint32_t seed = 1;
    for (const Note &n : notes)
        signals::add_pluck(audio, static_cast<int>(n.seconds * signals::rate), n.freq, 0.6, n.level,
                           seed++);

    if (!signals::write_float_wav(argv[1], audio, signals::rate))
        return 1;
    if (argc == 3 && !signals::write_float_wav(argv[2], ideal_strings(), signals::rate))
        return 1;
    return 0;
}
