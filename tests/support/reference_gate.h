// A plain transcription of the gate's energy, to check the engine's against: one block through a
// pre-filter set, restarted from silence, its sum of squares in ascending order.
#pragma once

#include <cstddef>

#include "dsp/biquad.h"

namespace signals {

inline double reference_energy(const float *in, std::size_t n, int set) {
    const dsp::biquad &c = dsp::gate_filter_sets[set];
    double z1 = 0, z2 = 0, energy = 0;
    for (std::size_t i = 0; i < n; i++) {
        const double d = (static_cast<double>(in[i]) - c.a1 * z1) - c.a2 * z2;
        const double y = (c.b0 * d + c.b1 * z1) + c.b2 * z2;
        z2 = z1;
        z1 = d;
        energy += y * y;
    }
    return energy;
}

} // namespace signals
