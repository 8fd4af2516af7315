// Writes the stream the whole-object benchmark plays in a loop: plucked guitar-range notes of
// varied pitch and level, two to four a second, from a fixed seed. Mono, 44100 Hz, 32-bit float
// WAV. Its length is a whole number of 2048-sample blocks, so a player that restarts at the end
// of a block loops it without a gap at block sizes up to 2048; the last note rings to the end of
// the file and the first starts at its first sample, so the loop has no seam either.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "signals.h"
#include "wav_file.h"

namespace {

constexpr int stream_samples = 646 * 2048; // 30.0002 s
constexpr double low_e_hz = 82.406889;     // the guitar's lowest string
constexpr int semitones = 36;              // up to the high string's 12th fret
constexpr double min_gap_s = 0.25, max_gap_s = 0.5;
constexpr double min_level = 0.2, max_level = 0.8;

double uniform(signals::Noise &noise, double lo, double hi) {
    return lo + (hi - lo) * 0.5 * (noise.next() + 1.0);
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT.wav\n", argv[0]);
        return 2;
    }
    signals::Noise noise(2048);
    std::vector<int> starts;
    const int min_gap = static_cast<int>(min_gap_s * signals::rate);
    for (int at = 0; stream_samples - at >= min_gap;
         at += static_cast<int>(uniform(noise, min_gap_s, max_gap_s) * signals::rate))
        starts.push_back(at);

    // Each note rings until the next starts (its own 5 ms fade ends it), so every note is an
    // attack out of a decaying tail rather than out of silence.
    std::vector<float> audio(stream_samples, 0.0f);
    for (size_t i = 0; i < starts.size(); i++) {
        const int end = i + 1 < starts.size() ? starts[i + 1] : stream_samples;
        const int step = static_cast<int>(uniform(noise, 0, semitones + 1));
        const double freq = low_e_hz * std::pow(2.0, step / 12.0);
        signals::add_pluck(audio, starts[i], freq,
                           static_cast<double>(end - starts[i]) / signals::rate,
                           uniform(noise, min_level, max_level), static_cast<uint32_t>(i + 1));
    }

    if (!signals::write_float_wav(argv[1], audio, signals::rate))
        return 1;
    std::printf("%zu notes in %.4f s\n", starts.size(),
                static_cast<double>(stream_samples) / signals::rate);
    return 0;
}
