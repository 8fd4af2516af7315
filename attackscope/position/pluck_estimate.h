// One note's pluck-position estimate, as the estimate reports it once per note.
#pragma once

#include <cstdint>

namespace dsp {

struct pluck_estimate {
    double position;    // pluck point, fraction of the length from the nearer end, (0, 0.5]
    double f0;          // fundamental, Hz
    double confidence;  // 0..1: how far the estimate can be trusted
    double other = 0.0; // the second comb the fit found (a pickup's position); 0: none
    int64_t release_sample = -1; // the release, in samples since the last reset; -1: not found
};

} // namespace dsp
