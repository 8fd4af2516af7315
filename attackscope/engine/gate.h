// The block gate: the preparation pass that every block goes through, and the onset decision of
// a gate block. Both run on the audio thread, allocate nothing and touch only the first n
// elements of the block arrays; the caller guarantees 1 <= n <= x_blockcap and that the arrays
// exist.
#pragma once

#include "dsp/biquad.h"
#include "engine/engine.h"

// The pre-filter set chosen by the integer part of x_filtersel: 0, 1 or 2. Below 0 chooses set 0,
// above 2 set 2, NaN set 1 (the default).
const dsp::biquad &gate_filter_set(float filtersel);

struct prepared_block {
    int clipped;   // 1 when a sample is exactly +1 or -1
    double energy; // of the filtered block: the sum of squares in ascending order
};

// Shifts the four-block history by one block, stores in[0..n-1] as the newest block, filters it
// from silence into x_filtered, and measures its energy in the same pass.
prepared_block prepare_block(attackscope_engine &e, const float *in, int n, const dsp::biquad &c);

// Stores the energy in the ring and starts an event (x_state = 1) when the block is an onset and
// no hold-off runs; returns whether it started one. Reads x_floor and x_onsetratio.
bool gate_decide(attackscope_engine &e, double energy);
