// The second-order high-pass sections of the analyser: the gate's three pre-filter sets and the
// analysis filter, which is set 1. Direct form II with a0 = 1; safe on the audio thread.
#pragma once

namespace dsp {

struct biquad {
    double b0, b1, b2, a1, a2;

    // One sample through the section; s1 and s2 are the last two intermediate values, both 0 for
    // a filter that starts from silence. The grouping fixes the rounding of every output.
    double step(double v, double &s1, double &s2) const {
        const double d = (v - a1 * s1) - a2 * s2;
        const double y = (b0 * d + b1 * s1) + b2 * s2;
        s2 = s1;
        s1 = d;
        return y;
    }
};

// Fixed sets, independent of the sample rate (at 44100 Hz their gain is 0.707 near 10.1, 6.1 and
// 3.0 kHz). b1 is not exactly -2 b0, so DC passes at about 0.001.
inline constexpr biquad gate_filter_sets[3] = {
    {0.3221, -0.643, 0.3221, -0.0894, 0.2125},
    {0.5202, -1.0399, 0.5202, -0.7894, 0.3151},
    {0.7295, -1.4588, 0.7295, -1.3966, 0.5549},
};

// The capture's filter before the envelope: set 1, whatever the gate uses.
inline constexpr const biquad &analysis_filter_set = gate_filter_sets[1];

} // namespace dsp
