// The pluck-position columns (--position): the engine's estimate, once per note.
#pragma once

#include <optional>

#include "engine.h"

struct position_estimate {
    double position;    // pluck point as a fraction of the length from the nearer end, (0, 0.5]
    double position_f0; // the estimate's own fundamental, Hz (not the designed pitch estimate)
    double confidence;  // 0..1: how well the note fits a plucked string
};

// Whether the estimate is gathering or analysing a note.
bool estimate_busy(const attackscope_engine &e);

// Last in each block: the estimate's slice of work; the note's estimate when it is ready.
std::optional<position_estimate> engine_estimate(attackscope_engine &e, int n, bool analysis);
