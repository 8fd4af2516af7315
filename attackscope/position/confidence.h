// A note's estimate from its measurements: which comb is the pluck's, and how far the estimate
// can be trusted.
#pragma once

#include <cstdint>

#include "position/comb_fit.h"
#include "position/pluck_estimate.h"

namespace dsp {

// What the stages measured of one note.
struct note_measures {
    double f0;           // Hz, of the final series fit
    double spread;       // of the partials around the series, in units of f0
    double aperiodicity; // of the rough period, 0..~1
    int64_t release;     // stream sample
    bool clean;          // no non-finite sample since the note's search began
    double pickup;       // the known pickup position, 0 for none
};

// Confidence: 1 - 5 x the modelled chance that the position is off by more than 0.02 of the
// length (0.5: a chance of 10%; 0: 20% or more), the chance a logistic model of how clearly the
// comb stands out (the fit's margin), how closely it fits (its residual), how many harmonics
// it rests on and how high the note is, fitted on modelled strings. Times two factors for what is
// no plucked string, each 1 within a string's range and falling as a Gaussian of the excess beyond
// it: the partials' spread around the series (beyond 0.01 f0, scale 0.02 f0: a bar, a chord) and
// the period's aperiodicity (beyond 0.3, scale 0.2: noise); and 0 when the comb's first notch
// (harmonic 1 / position) lies beyond the harmonics used, rising to 1 at half a harmonic
// within them. A note that held a non-finite sample gets confidence 0.
// The fit cannot tell which comb is the pluck's: without a known pickup it is the one nearer the
// middle (pickups sit near an end), with one the one farther from it.
pluck_estimate judge(const comb_fit &fit, const note_measures &m);

} // namespace dsp
