// The event analysis: runs in the block after an onset, instead of the gate decision.
#pragma once

#include "attackscope.h"

// Analyses the event whose onset the gate found in the previous block. Runs on the audio thread
// after the preparation pass of block n; clipped is that pass's clip flag. Reloads x_holdoff
// from x_holdblocks, joins the four history blocks into x_capture, estimates their pitch and
// hands over to finish_event.
void analyse_event(t_attackscope *x, int n, int clipped);

// Everything after the pitch estimate f0 of the capture of four blocks of n samples: drops the
// event above 1500 Hz, posts "clip" (and keeps x_state at 1) for a clipped block, otherwise
// measures the attack in x_capture and sends its shape ratio x 240 on x_ratioout. Takes its
// scratch from the heap and releases it before sending; without memory the event ends silently.
void finish_event(t_attackscope *x, int n, int clipped, double f0);
