// Ground truth for the pluck-position estimate: ideal plucked strings with a known pluck point,
// and harder or foreign material (Karplus-Strong plucks, sums of notes, struck bars, noise).
// Deterministic: the same parameters and seed give the same samples on every machine.
#pragma once

#include <cstdint>
#include <vector>

namespace signals {

struct string_pluck {
    double f0 = 110.0;            // Hz
    double position = 0.2;        // pluck point beta, fraction of the length
    double pickup = 0.03;         // observation point gamma, fraction of the length
    bool velocity = true;         // velocity at the pickup, else displacement
    double inharmonicity = 0.0;   // B: f_n = n f0 sqrt(1 + B n^2)
    double t60 = 3.0;             // s, of the lowest modes
    double damping_corner = 1500; // Hz: T60(f) = t60 / (1 + f / damping_corner)
    double pull_seconds = 0.03;   // the string is pulled into its shape over this long
    double seconds = 0.5;         // of vibration after the release
    double peak = 0.5;            // the largest |sample| of the note (before noise)
    double noise_dbfs = -400.0;   // RMS of added white noise; below -300 adds none
    uint32_t seed = 1;            // of the noise
    int rate = 44100;
};

struct rendered_note {
    std::vector<float> samples;
    int release = 0; // index of the release in samples
};

// An ideal string fixed at both ends: a triangle of apex at `position`, zero initial velocity,
// as a sum of its modes below Nyquist, each with its own damping; `lead` silent samples, then
// the pull (the shape growing smoothly from rest, quasi-statically), then the free vibration.
rendered_note render_string(const string_pluck &p, int lead);

// A Karplus-Strong pluck: a loop of about rate/f0 samples with a two-point average, excited by
// noise through the pluck-position comb x[j] - x[j - D], D = round(position * loop). The true
// position is D / loop, returned in *true_position. Starts at once (no pull) after `lead`.
rendered_note render_karplus_strong(double f0, double position, double seconds, double peak,
                                    uint32_t seed, int sample_rate, int lead,
                                    double *true_position);

// A struck bar: partials at the free-bar ratios 1, 2.76, 5.40, 8.93, 13.34 of f0, each decaying,
// with a 1 ms strike. Inharmonic: no pluck position.
rendered_note render_bar(double f0, double seconds, double peak, int sample_rate, int lead);

// A noise burst: white noise with a 2 ms rise and an exponential decay of time constant `decay`.
rendered_note render_noise_burst(double seconds, double decay, double peak, uint32_t seed,
                                 int sample_rate, int lead);

// Adds b into a, sample by sample (a grows to b's length), and returns the earlier release.
void mix_into(rendered_note &a, const rendered_note &b);

} // namespace signals
