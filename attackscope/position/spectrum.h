// A note's spectrum: a Hann window of four periods (at least 23 ms) from the release,
// transformed in bounded slices, and the power of any bin of it.
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
// with its butterflies. prepare() allocates; the rest may run on the audio thread.
class spectrum {
  public:
    void prepare(double sr, double lowest_f0);
    // The longest window's transform length, in input samples.
    int max_length() const { return fft_max_; }
    // A window from sample `from` for a rough period of `period` input samples.
    void begin(int64_t from, double period);
    // One step of at most about `budget` units; waits for the window's samples.
    stage_step step(const input_history &h, int64_t budget);

    int window() const { return window_len_; } // samples
    int length() const { return fft_len_; }    // of the real transform, a power of two
    // |X[k]|^2 of the transformed window, k clamped to [0, length() / 2].
    double power(int k) const;

  private:
    enum class phase { window, transform };
    int64_t gather(const input_history &h, int64_t budget);

    int fft_max_ = 0; // largest real transform length
    double sr_ = 0.0;
    phase phase_ = phase::window;
    int64_t from_ = 0;
    int window_len_ = 0, fft_len_ = 0; // real lengths; the complex transform has fft_len_/2
    int zeroed_ = 0;                   // entries of re_/im_ cleared for the window
    int64_t cursor_ = 0;               // next window sample
    std::vector<double> re_, im_;
    double hann_c_ = 0.0, hann_s_ = 0.0, hann_rc_ = 0.0, hann_rs_ = 0.0;
    resumable_fft fft_;
};

} // namespace dsp
