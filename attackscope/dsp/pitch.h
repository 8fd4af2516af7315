// Fundamental-frequency estimate from the circular autocorrelation of a capture.
#pragma once

namespace dsp {

// Estimates the fundamental frequency, in Hz, of samples[0..N-1] at sample rate sr, from the
// largest circular autocorrelation value (computed with two transforms) over the lags
// sr/2300 + 1 .. sr/2300 + sr/30 + 1, refined by a parabola through the three values that end at
// that maximum; the period used is lo + pos - 1 + offset samples.
// Captures too short for that lag range (N < sr/2300 + sr/30 + 2; 1491 at 44100 Hz) hold no
// measurable period: the result is +infinity. If scratch memory cannot be had the result is
// also +infinity. Reads samples only; allocates 4N doubles of scratch per call and releases them.
// Not re-entrant (the transform uses static storage); runs on the audio thread.
double estimate_pitch(const double *samples, int sr, int N);

} // namespace dsp
