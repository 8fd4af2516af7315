// Whether the input still repeats at the period a note was measured at. A finger's push can set
// the held string ringing as loudly as its release then does; the release then makes no rise
// the note detector hears, only a change of pitch (the finger no longer divides the string). So
// the note measured from the push was the held string, and the release lies somewhere after.
#pragma once

#include <cmath>
#include <cstdint>

namespace dsp {

// The correlation of the input with itself one period back, over the last 30 ms or so
// (exponentially weighted): near 1 for a string vibrating freely at that period, even a stiff
// one (most of its energy lies in the first partials), low once the period has changed. A few
// operations per sample; no allocation.
class pitch_watch {
  public:
    void prepare(double sr) {
        forget_ = std::exp(-1.0 / (remember_seconds * (sr > 0.0 ? sr : 44100.0)));
        least_fed_ = static_cast<int64_t>(std::ceil(remember_seconds * (sr > 0.0 ? sr : 44100.0)));
        stop();
    }
    // Watches lag `lag` (samples) from now on, forgetting what was fed before.
    void begin(int lag) {
        lag_ = lag > 0 ? lag : 0;
        sxy_ = sxx_ = syy_ = 0.0;
        fed_ = 0;
    }
    void stop() { begin(0); }
    int lag() const { return lag_; }
    // One sample and the one `lag()` before it.
    void feed(double x, double lagged) {
        sxy_ = forget_ * sxy_ + x * lagged;
        sxx_ = forget_ * sxx_ + x * x;
        syy_ = forget_ * syy_ + lagged * lagged;
        fed_++;
    }
    // Whether enough was fed for correlation() to mean something.
    bool ready() const { return lag_ > 0 && fed_ >= least_fed_ + lag_; }
    double correlation() const {
        const double d = std::sqrt(sxx_ * syy_);
        return d > 0.0 && std::isfinite(d) ? sxy_ / d : 1.0;
    }
    // The same correlation over every stride-th stored sample of [from, to) (and those `lag`
    // before them): three products a sample.
    template <class History>
    static double correlation_over(const History &h, int64_t from, int64_t to, int lag,
                                   int64_t stride) {
        double xy = 0.0, xx = 0.0, yy = 0.0;
        for (int64_t i = from; i < to; i += stride) {
            const double x = h.sample(i), y = h.sample(i - lag);
            xy += x * y;
            xx += x * x;
            yy += y * y;
        }
        const double d = std::sqrt(xx * yy);
        return d > 0.0 && std::isfinite(d) ? xy / d : 0.0;
    }
    static constexpr double remember_seconds = 0.03;

  private:
    double forget_ = 0.0;
    int64_t least_fed_ = 0;
    int lag_ = 0;
    double sxy_ = 0.0, sxx_ = 0.0, syy_ = 0.0;
    int64_t fed_ = 0;
};

} // namespace dsp
