// The record of one attackscope~ object: the Pd object header, the engine that does the work,
// and what only Pd needs (outlets, the signal inlet's scalar).
#pragma once

#include <cstdint>
#include <type_traits>

#include "engine/engine.h"
#include "m_pd.h"

static_assert(std::is_same_v<t_float, float> && std::is_same_v<t_sample, float>,
              "the engine takes Pd's floats and samples as 32-bit floats");

// Pd clears the record with zeros and runs no constructor; it must stay standard-layout.
// Inlets, counted as everywhere in this project from 0 at the signal inlet, store straight into
// the engine:
// 1 x_onsetratio, 2 x_peakratio, 3 x_floor, 4 x_holdblocks, 5 x_filtersel, 6 x_twovalued.
struct t_attackscope {
    t_object x_obj;
    attackscope_engine x_engine; // state, parameters and arrays of the analysis
    t_outlet *x_ratioout;        // outlet 1: shape ratio x 240, once per analysed event
    t_outlet *x_energyout;       // outlet 2: block energy x 100, once per gate block
    t_outlet *x_positionout;     // outlet 3 with -position: "position f0 confidence" per note
    t_float x_f;                 // scalar of the main signal inlet, kept by Pd
    int32_t x_toldblock;         // the block size last reported as giving no shape ratios
};

static_assert(std::is_standard_layout_v<t_attackscope>);
