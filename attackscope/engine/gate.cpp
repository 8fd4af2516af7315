#include "engine/gate.h"

#include <cmath>

#include "engine/inlet_value.h"

const dsp::biquad &gate_filter_set(float filtersel) {
    const double set = truncated(filtersel);
    if (set <= 0)
        return dsp::gate_filter_sets[0];
    if (set >= 2)
        return dsp::gate_filter_sets[2];
    return dsp::gate_filter_sets[1]; // 1, or NaN
}

prepared_block prepare_block(attackscope_engine &e, const float *in, int n, const dsp::biquad &c) {
    // The history moves by one block by passing the buffers on: the oldest one takes the new
    // block. Only the first n samples of each are ever read, and a reset clears them all.
    double *const h0 = e.x_hist[3];
    e.x_hist[3] = e.x_hist[2];
    e.x_hist[2] = e.x_hist[1];
    e.x_hist[1] = e.x_hist[0];
    e.x_hist[0] = h0;
    double *const out = e.x_filtered;
    // The filter restarts from silence in every block, so a steady input gives the same energy
    // in every block. The energy is summed along: its chain of additions then runs beside the
    // filter's instead of after it.
    double s1 = 0.0, s2 = 0.0, energy = 0.0;
    int clipped = 0;
    for (int i = 0; i < n; i++) {
        const auto v = static_cast<double>(in[i]);
        h0[i] = v;
        const double y = c.step(v, s1, s2);
        out[i] = y;
        energy += y * y;
        if (v == 1.0 || v == -1.0)
            clipped = 1;
    }
    return {clipped, energy};
}

bool gate_decide(attackscope_engine &e, double energy) {
    // x_ringpos is only ever set to 0 or advanced modulo 3, so r, p and q stay within the ring.
    const int r = e.x_ringpos;
    const int p = (r + 2) % 3; // the previous gate block
    const int q = (r + 1) % 3; // the gate block before that
    e.x_energy[r] = energy;
    const double floor = static_cast<double>(e.x_params.x_floor / 100.0f);
    const double k = truncated(e.x_params.x_onsetratio);
    // A non-finite energy (non-finite input) is never an onset, even where an infinity would
    // pass the comparisons.
    const bool onset = std::isfinite(energy) && k * e.x_energy[p] < energy &&
                       k * e.x_energy[q] < energy && floor < energy;
    e.x_ringpos = q;
    if (!onset || e.x_holdoff >= 1)
        return false;
    e.x_state = 1;
    return true;
}
