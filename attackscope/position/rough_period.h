// A note's rough period, from its release on: a copy low-passed at 1 kHz and decimated to about
// 5.5 kHz, searched over 58 ms (periods down to 1/40 s).
#pragma once

#include <cstdint>
#include <vector>

#include "dsp/biquad.h"
#include "position/input_history.h"
#include "position/period_search.h"
#include "position/stage.h"

namespace dsp {

// The stretch waits for its samples. prepare() allocates; begin() and step() may run on the
// audio thread.
class rough_period {
  public:
    void prepare(double sr, double lowest_f0, double highest_f0);
    // The stretch, in input samples (the history must hold it from the release on).
    int longest() const { return stretch_; }
    void begin(int64_t from);
    // One step of at most about `budget` units (one lag of the search at least).
    stage_step step(const input_history &h, int64_t budget);

    double period() const { return period_samples_; }     // input samples, when done
    double aperiodicity() const { return aperiodicity_; } // at the period, 0..~1

  private:
    enum class phase { wait, decimate, search };
    int64_t decimate(const input_history &h, int64_t budget);
    bool conclude(); // false when no clear period

    double sr_ = 0.0, lowest_f0_ = 0.0, highest_f0_ = 0.0;
    int decimation_ = 1;
    int stretch_ = 0; // samples
    struct section {
        biquad c;
        double z1, z2;
    };
    section lowpass_[2] = {};
    std::vector<double> decimated_;
    period_search search_;

    phase phase_ = phase::wait;
    int64_t from_ = 0;        // the stretches' first sample
    int64_t filtered_to_ = 0; // next input sample for the low-pass
    int decimated_len_ = 0;
    double period_samples_ = 0.0, aperiodicity_ = 1.0;
};

} // namespace dsp
