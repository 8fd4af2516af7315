// The pitch estimate with scratch of its own, for tests and tools that have no engine to lend
// theirs: the estimator itself never allocates.
#pragma once

#include <vector>

#include "dsp/pitch.h"
#include "fft_workspace_for_tests.h"

namespace signals {

inline double estimate_pitch(const double *samples, int sr, int N) {
    std::vector<double> work(dsp::pitch_work_size(N > 0 ? N : 0));
    return dsp::estimate_pitch(samples, sr, N, work.data(), test_workspace());
}

} // namespace signals
