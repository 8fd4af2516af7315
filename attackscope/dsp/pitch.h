// Fundamental-frequency estimate from the circular autocorrelation of a capture.
#pragma once

#include <cstddef>

#include "fft.h"

namespace dsp {

// Estimates the fundamental frequency, in Hz, of samples[0..N-1] taken at sr Hz, from the largest
// circular autocorrelation value (two transforms, no window, no zero padding) over the lags
// lo + 1 .. lo + width, lo = sr/2300 and width = sr/30 + 1 (20..1490 samples at 44100 Hz),
// refined by a parabola through the three values that end at that maximum; the period used is
// lo + pos - 1 + offset samples, pos counting from lag lo + 1. The analyser's results are
// calibrated on exactly this estimate.
// No measurable period gives +infinity, above any pitch the analyser accepts: captures too short
// for the lag range (N < lo + width + 1; 1491 at 44100 Hz), sample rates below 2300 Hz (no lag
// below the search to refine with), a period of 0 samples or less (possible only below 6900 Hz),
// lengths the transform cannot take (a prime factor above 1024; four blocks of a power-of-two
// length never have one), and scratch memory that cannot be had.
// Reads samples only; the caller owns them. work holds pitch_work_size(N) doubles of scratch, or is
// null: the scratch is then taken with std::malloc and released before returning. Runs on the audio
// thread but is not re-entrant (the transform uses static storage).
double estimate_pitch(const double *samples, int sr, int N, double *work = nullptr);

// Doubles of scratch estimate_pitch needs for N samples: the four arrays of its transforms.
constexpr std::size_t pitch_work_size(int N) {
    return fft_arrays_size(N);
}

// The shortest capture, in samples, in which estimate_pitch searches for a period at rate sr:
// lo + width + 1 (1491 at 44100 Hz).
constexpr int pitch_min_samples(int sr) {
    return sr / 2300 + (sr / 30 + 1) + 1;
}

} // namespace dsp
