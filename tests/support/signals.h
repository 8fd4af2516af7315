// Deterministic test signals at 44100 Hz: plucked strings, decaying harmonic tones, noise.
#pragma once

#include <cstdint>
#include <vector>

namespace signals {

constexpr int rate = 44100;

// A small, fixed pseudo-random generator, so signals are the same on every machine.
struct Noise {
    uint32_t state;
    explicit Noise(uint32_t seed) : state(seed * 2654435761u + 1u) {}
    double next() { // uniform in [-1, 1)
        state = state * 1664525u + 1013904223u;
        return static_cast<double>(state >> 8) / 8388608.0 - 1.0;
    }
};

// Adds a Karplus-Strong pluck (triangle excitation) of `seconds` at `start` (samples) into `out`,
// peak about `level`.
void add_pluck(std::vector<float> &out, int start, double freq, double seconds, double level,
               uint32_t seed);

// Adds a tone of `harmonics` partials (amplitude 1/h) with an instant attack and an exponential
// decay of time constant `decay` seconds.
void add_tone(std::vector<float> &out, int start, double freq, double seconds, double level,
              int harmonics, double decay);

// Clips every sample to [-1, 1] (exactly +-1.0 where it was beyond).
void clip(std::vector<float> &out);

} // namespace signals
