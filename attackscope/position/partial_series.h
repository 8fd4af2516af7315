// A note's partials, followed up the stretched series of a stiff string in its spectrum, and
// what the comb fit needs of them: their log amplitudes, weights and floors.
#pragma once

#include <cstdint>

#include "position/comb_fit.h"
#include "position/series_fit.h"
#include "position/spectrum.h"
#include "position/stage.h"

namespace dsp {

// Partial n is searched within 0.3 f0 of n f0 sqrt(1 + B n^2), with f0 and B refitted as
// partials are found (so a stretched series is followed as it drifts from the plain one);
// a peak's amplitude is refined by a parabola through the log magnitudes, its frequency by the
// derivative window of the longer frequency window. A rough period of two or three
// true periods leaves every second or third partial empty: the search starts again from the
// true fundamental (at most twice). No allocation: usable on the audio thread.
class partial_series {
  public:
    static constexpr int max_partials = comb_fit::max_harmonics;

    void prepare(double sr, double highest_f0);
    // A search from the rough fundamental f0 (Hz); a string known to ring under the note (its
    // f0 and B; f0 0 for none) leaves peaks on its places that neither steer nor fit the series.
    void begin(double f0, double ringing_f0 = 0.0, double ringing_b = 0.0);
    // At most about `budget` units (one partial at least): a bin a unit and 96 a partial for
    // its logarithms and refit. done() when the series is searched.
    // `s` holds the amplitude window, `fine` the frequency window.
    stage_step step(const spectrum &s, const spectrum &fine, int64_t budget);
    // The floor, the final series fit, the spread and the comb fit's inputs for partials
    // 1..count() (index 0 is partial 1). False when nothing was found.
    bool finish(double *y, double *weight, double *eps);

    int count() const { return partial_count_; } // searched
    double f0() const { return f0_; }            // Hz
    double inharmonicity() const { return inharmonicity_; }
    // Of the partials around the fitted series, weighted by strength, in units of f0: near 0
    // for a string, large for a bar, a chord or noise.
    double spread() const { return spread_; }

  private:
    void final_series_fit();
    // Units spent.
    int refine_frequency(const spectrum &fine, double &freq) const;
    bool restart_on_multiple();
    // Whether a peak at hz lies on a place of the ringing string, within tolerance_hz.
    bool on_ringing(double hz, double tolerance_hz) const;

    double sr_ = 0.0, highest_f0_ = 0.0;
    int partial_ = 0, partial_count_ = 0; // next partial (1-based) and how many were searched
    int restarts_ = 0;                    // searches begun again from a higher fundamental
    double f0_ = 0.0, inharmonicity_ = 0.0;
    double ringing_f0_ = 0.0, ringing_b_ = 0.0;
    bool ringing_[max_partials] = {}; // the peak lay on the ringing string's place
    double log_amp_[max_partials] = {}, power_[max_partials] = {};
    double freq_[max_partials] = {}, valley_[max_partials] = {};
    bool peak_[max_partials] = {};
    series_fit progress_; // as partials are found, weighted by their power
    double floor_ = 0.0, spread_ = 0.0;
};

} // namespace dsp
