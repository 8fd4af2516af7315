// The pluck-position columns (--position): the engine's estimate, once per note. The columns
// position, position_f0 and confidence are the estimate's position, f0 and confidence.
#pragma once

#include <optional>

#include "engine/engine.h"
#include "position/pluck_position.h"

using position_estimate = dsp::pluck_estimate;

// Whether the estimate is gathering or analysing a note.
bool estimate_busy(const attackscope_engine &e);

// Last in each block: the estimate's slice of work; the note's estimate when it is ready.
std::optional<position_estimate> engine_estimate(attackscope_engine &e, int n, bool analysis);
