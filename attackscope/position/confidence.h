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

// Confidence: the product of three factors, each 1 for an ideal pluck and falling as a
// Gaussian of its misfit: the comb fit's residual (scale 0.6 nepers, about 5 dB), the partials'
// spread around the series (scale 0.02 f0, beyond a string's leakage-limited scatter) and the
// period's aperiodicity (scale 0.2, a clear period lies well below). Noise bursts, struck bars
// and chords fail one or more. A note that held a non-finite sample gets confidence 0.
// The fit cannot tell which comb is the pluck's: without a known pickup it is the one nearer the
// middle (pickups sit near an end), with one the one farther from it.
pluck_estimate judge(const comb_fit &fit, const note_measures &m);

} // namespace dsp
