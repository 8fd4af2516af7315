// The event analysis: runs in the block after an onset, instead of the gate decision.
#pragma once

#include "engine/engine.h"

// Analyses the event whose onset the gate found in the previous block. Runs on the audio thread
// after the preparation pass of block n; clipped is that pass's clip flag. Reloads x_holdoff
// from x_holdblocks (whatever the outcome), joins the four history blocks into x_capture,
// estimates their pitch and hands over to finish_event.
event_outcome analyse_event(attackscope_engine &e, int n, int clipped);

// Everything after the pitch estimate f0 of the capture of four blocks of n samples: drops the
// event above 1500 Hz, keeps x_state at 1 for a clipped block (the caller posts "clip"),
// otherwise measures the attack in x_capture and returns the shape ratio to send. Works in the
// engine's scratch, which holds the measurement of every pitch the estimator reports at 44100
// Hz; a lower f0 handed in directly ends the event with kind::none.
event_outcome finish_event(attackscope_engine &e, int n, int clipped, double f0);
