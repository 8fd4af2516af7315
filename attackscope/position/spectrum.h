// A note's spectrum: a Hann window of four periods (at least 23 ms) from the release,
// transformed in bounded slices, and the power of any bin of it, and beside it the transform of
// the same samples under the window's derivative, which places a partial's frequency exactly.
#pragma once

#include <cstdint>
#include <vector>

#include "dsp/resumable_fft.h"
#include "position/input_history.h"
#include "position/stage.h"

namespace dsp {

// Four periods resolve the partials of a string, whose spacing is f0; 23 ms keeps high notes'
// windows long enough that a partial's peak stands above its neighbours' leakage. The real
// window is transformed as a complex one of half the length (even samples real, odd imaginary),
// each sample placed straight at its bit-reversed index as it arrives, so the transform starts
// with its butterflies.
// A peak's bin and its neighbours place a partial only roughly: a parabola through them is off
// by up to a few hundredths of a bin, which on four periods is a few tenths of a percent of f0.
// For a decaying sinusoid x(t) = exp((-a + i w0) t), summing by parts gives
// X_h'(w) = -(-a + i (w0 - w)) X_h(w) (h vanishes at both ends), so
// w0 = w - Im(X_h'(w) / X_h(w)) at any bin near the peak, whatever the offset and the decay;
// only the other partials' leakage is left. prepare() allocates; the rest may run on the audio
// thread.
class spectrum {
  public:
    // How long a window is taken, and whether the derivative window is transformed too.
    struct shape {
        double periods;     // of the rough period
        double min_seconds; // at least
        double max_seconds; // at most
        bool derivative;
    };
    // For the partials' amplitudes: four periods resolve a string's partials, spaced f0, while
    // the high ones still stand above the floor.
    static constexpr shape amplitudes{4.0, 0.023, 1.0, false};
    // For their frequencies: partials 12 bins apart leak into each other well below the 31 dB
    // of the Hann window's first sidelobe; 90 ms leaves the transforms done by the 150 ms at
    // which an estimate is due.
    static constexpr shape frequencies{12.0, 0.023, 0.09, true};
    // What rang before the release: 46 ms, enough to tell a ringing series from the finger's
    // push, half the work of the frequency window.
    static constexpr shape earlier{12.0, 0.046, 0.046, false};

    void prepare(double sr, double lowest_f0, const shape &form);
    // The longest window's transform length, in input samples.
    int max_length() const { return fft_max_; }
    // A window from sample `from` for a rough period of `period` input samples.
    void begin(int64_t from, double period);
    // A window that ends just before sample `end`.
    void begin_before(int64_t end, double period);
    // One step of at most about `budget` units; waits for the window's samples.
    stage_step step(const input_history &h, int64_t budget);

    int window() const { return window_len_; } // samples
    int length() const { return fft_len_; }    // of the real transform, a power of two
    // |X[k]|^2 of the transformed window, k clamped to [0, length() / 2].
    double power(int k) const;
    // The bin of the largest power in [lo, hi] (lo clamped to [0, length() / 2], hi to
    // [lo, length() / 2]), the first of equals.
    int strongest(int lo, int hi) const;
    // The frequency, in bins, of the partial whose peak lies at bin k (clamped to
    // [1, length() / 2 - 1]), from the derivative window; NaN where the bin holds nothing.
    double peak_frequency(int k) const;

  private:
    enum class phase { window, transform, derivative };
    int64_t gather(const input_history &h, int64_t budget);
    // X[k] of the real window packed into re/im (even samples real, odd imaginary).
    void bin(const std::vector<double> &re, const std::vector<double> &im, int k, double &xr,
             double &xi) const;

    int fft_max_ = 0; // largest real transform length
    double sr_ = 0.0;
    shape form_ = amplitudes;
    phase phase_ = phase::window;
    int64_t from_ = 0;
    int window_len_ = 0, fft_len_ = 0; // real lengths; the complex transform has fft_len_/2
    int zeroed_ = 0;                   // entries of re_/im_ cleared for the window
    int64_t cursor_ = 0;               // next window sample
    std::vector<double> re_, im_;      // under the Hann window
    std::vector<double> dre_, dim_;    // under its derivative
    double hann_c_ = 0.0, hann_s_ = 0.0, hann_rc_ = 0.0, hann_rs_ = 0.0;
    resumable_fft fft_;
};

} // namespace dsp
