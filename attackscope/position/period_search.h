// Rough period of a short stretch of a decimated signal, from the cumulative mean normalised
// difference function, computed in bounded slices (one lag at a time).
#pragma once

#include <cstdint>
#include <vector>

namespace dsp {

// For lags t = 1..max_lag: d(t) = sum over j = 0..W-1 of (x[j] - x[j + t])^2, W = len - max_lag,
// and the normalised difference d'(t) = d(t) * t / (d(1) + ... + d(t)), which is near 0 at the
// period of a periodic signal and near 1 for noise. The period is the first lag from min_lag on
// where d' falls below `threshold`, followed down to its local minimum, else the lowest d' in
// [min_lag, max_lag - 1]; a parabola through three values refines it.
// prepare() allocates; start()/step() do not and may run on the audio thread. The caller owns x
// and keeps it unchanged until done().
class period_search {
  public:
    void prepare(int max_lag);
    // An empty search (done at once, no period) unless 1 <= min_lag < max_lag <= the prepared
    // maximum and len > max_lag.
    void start(const double *x, int len, int min_lag, int max_lag, double threshold);
    // At most `budget` units, but always one lag. One unit is three terms of a difference sum (a
    // subtraction, a multiplication and an addition each, vectorised): about one butterfly.
    int64_t step(int64_t budget);
    bool done() const { return next_lag_ > max_lag_; }

    // In samples of x; 0 when no period was found.
    double period() const { return period_; }
    // d' at the period, 0..~1; 1 when no period was found.
    double aperiodicity() const { return aperiodicity_; }

  private:
    void conclude();
    std::vector<double> diff_; // d(t), t = 0..prepared max
    const double *x_ = nullptr;
    int len_ = 0, min_lag_ = 1, max_lag_ = 0, next_lag_ = 1;
    double threshold_ = 0.0;
    double period_ = 0.0, aperiodicity_ = 1.0;
};

} // namespace dsp
