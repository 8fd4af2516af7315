// The state record of one attackscope~ object, shared by the class, the gate and the analysis.
#pragma once

#include <cstdint>
#include <type_traits>

#include "m_pd.h"

// Largest block the object accepts, in samples: the capacity of every block array.
inline constexpr int attackscope_blockcap = 2048;

// Pd clears the record with zeros and runs no constructor; it must stay standard-layout.
struct t_attackscope {
    t_object x_obj;
    int32_t x_sr;          // sample rate the analysis assumes, Hz (44100)
    int32_t x_state;       // 0: the gate watches; 1: an event waits for analysis
    int32_t x_holdoff;     // blocks of hold-off left
    int32_t x_ringpos;     // ring slot (0..2) of the current gate block
    int32_t x_blockcap;    // capacity of each block array, samples
    t_float x_twovalued;   // inlet 6: 1 selects the two-valued ratio output
    t_float x_filtersel;   // inlet 5: gate pre-filter set, by its integer part
    double x_energy[3];    // energies of the last three gate blocks
    double *x_hist[4];     // raw input of the last four blocks, [0] newest; x_blockcap each
    double *x_filtered;    // current block after the gate pre-filter; x_blockcap
    double *x_capture;     // the four history blocks joined, oldest first; 4 * x_blockcap
    double *x_capfilt;     // x_capture after the analysis filter; 4 * x_blockcap
    double x_lastratio;    // last accepted shape ratio
    t_float x_onsetratio;  // inlet 1: energy-rise factor of an onset, by its integer part
    t_float x_peakratio;   // inlet 2: envelope-rise factor of the attack search
    t_outlet *x_ratioout;  // outlet 1: shape ratio x 240, once per analysed event
    t_outlet *x_energyout; // outlet 2: block energy x 100, once per gate block
    t_float x_f;           // scalar of the main signal inlet, kept by Pd
    t_float x_floor;       // inlet 3: energy floor in outlet-2 units; survives resets
    t_float x_holdblocks;  // inlet 4: hold-off length in blocks, by its integer part
    double *x_storage;     // the one allocation the eight arrays point into; null until the
                           // first chain build, and after a failed allocation
    int32_t x_toldblock;   // the small block size last reported as giving no shape ratios
    double *x_work;        // scratch of one analysis (pitch transforms, then the measurement),
                           // inside x_storage: the audio thread never allocates
    int32_t x_workcap;     // doubles at x_work
};

static_assert(std::is_standard_layout_v<t_attackscope>);
