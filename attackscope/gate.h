// The block gate: the preparation pass that every block goes through, and the energy measurement
// and onset decision of a gate block. Both run on the audio thread inside the perform routine,
// allocate nothing and touch only the first n elements of the record's block arrays; the caller
// guarantees 1 <= n <= x_blockcap and that the arrays exist.
#pragma once

#include "attackscope.h"

// A second-order high-pass section, direct form II, a0 = 1.
struct gate_coefficients {
    double b0, b1, b2, a1, a2;
};

// The pre-filter set chosen by the integer part of x_filtersel: 0, 1 or 2. Below 0 chooses set 0,
// above 2 set 2, NaN set 1 (the default).
const gate_coefficients &gate_filter_set(t_float filtersel);

struct prepared_block {
    int clipped;   // 1 when a sample is exactly +1 or -1
    double energy; // of the filtered block, as block_energy sums it
};

// Shifts the four-block history by one block, stores in[0..n-1] as the newest block, filters it
// from silence into x_filtered, and measures its energy in the same pass.
prepared_block prepare_block(t_attackscope *x, const t_sample *in, int n,
                             const gate_coefficients &c);

// Sum of the squares of filtered[0..n-1], in ascending order.
double block_energy(const double *filtered, int n);

// Sends the energy x 100 on x_energyout, stores it in the ring and starts an event (x_state = 1)
// when the block is an onset and no hold-off runs.
void gate_decide(t_attackscope *x, double energy);

// gate_decide on the energy of x_filtered[0..n-1].
void gate_block(t_attackscope *x, int n);
