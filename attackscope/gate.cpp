#include "gate.h"

#include <cmath>

#include "inlet_value.h"

namespace {

// Fixed sets, independent of the sample rate; b0 + b1 + b2 is not quite 0, so DC passes at
// about 0.001.
constexpr gate_coefficients gate_sets[3] = {
    {0.3221, -0.643, 0.3221, -0.0894, 0.2125},
    {0.5202, -1.0399, 0.5202, -0.7894, 0.3151},
    {0.7295, -1.4588, 0.7295, -1.3966, 0.5549},
};

} // namespace

const gate_coefficients &gate_filter_set(t_float filtersel) {
    const double set = truncated(filtersel);
    if (set <= 0)
        return gate_sets[0];
    if (set >= 2)
        return gate_sets[2];
    return gate_sets[1]; // 1, or NaN
}

prepared_block prepare_block(t_attackscope *x, const t_sample *in, int n,
                             const gate_coefficients &c) {
    // The history moves by one block by passing the buffers on: the oldest one takes the new
    // block. Only the first n samples of each are ever read, and a chain build clears them all.
    double *const h0 = x->x_hist[3];
    x->x_hist[3] = x->x_hist[2];
    x->x_hist[2] = x->x_hist[1];
    x->x_hist[1] = x->x_hist[0];
    x->x_hist[0] = h0;
    double *const out = x->x_filtered;
    // The filter restarts from silence in every block, so a steady input gives the same energy
    // in every block. The energy is summed along, in the same order as block_energy: its chain
    // of additions then runs beside the filter's instead of after it.
    double s1 = 0.0, s2 = 0.0, energy = 0.0;
    int clipped = 0;
    for (int i = 0; i < n; i++) {
        const auto v = static_cast<double>(in[i]);
        h0[i] = v;
        const double d = (v - c.a1 * s1) - c.a2 * s2;
        const double y = (c.b0 * d + c.b1 * s1) + c.b2 * s2;
        out[i] = y;
        energy += y * y;
        s2 = s1;
        s1 = d;
        if (v == 1.0 || v == -1.0)
            clipped = 1;
    }
    return {clipped, energy};
}

double block_energy(const double *filtered, int n) {
    double energy = 0.0;
    for (int i = 0; i < n; i++)
        energy += filtered[i] * filtered[i];
    return energy;
}

void gate_block(t_attackscope *x, int n) {
    gate_decide(x, block_energy(x->x_filtered, n));
}

void gate_decide(t_attackscope *x, double energy) {
    // x_ringpos is only ever set to 0 or advanced modulo 3, so r, p and q stay within the ring.
    const int r = x->x_ringpos;
    const int p = (r + 2) % 3; // the previous gate block
    const int q = (r + 1) % 3; // the gate block before that
    x->x_energy[r] = energy;
    outlet_float(x->x_energyout, static_cast<t_float>(energy * 100.0));

    // Read only now: a patch reacting to the energy above may have changed them for this block.
    const double floor = static_cast<double>(x->x_floor / 100.0f);
    const double k = truncated(x->x_onsetratio);
    // A non-finite energy (non-finite input) is never an onset, even where an infinity would
    // pass the comparisons.
    const bool onset = std::isfinite(energy) && k * x->x_energy[p] < energy &&
                       k * x->x_energy[q] < energy && floor < energy;
    x->x_ringpos = q;
    if (onset && x->x_holdoff < 1)
        x->x_state = 1;
}
