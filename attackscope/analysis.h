// The event analysis: runs in the block after an onset, instead of the gate decision.
#pragma once

#include "attackscope.h"

// Analyses the event whose onset the gate found in the previous block. Runs on the audio thread
// after the preparation pass of block n; clipped is that pass's clip flag. Reloads x_holdoff
// from x_holdblocks and leaves x_state at 0 or 1.
void analyse_event(t_attackscope *x, int n, int clipped);
