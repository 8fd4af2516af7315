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
        const double memory = remember_seconds * (sr > 0.0 ? sr : 44100.0);
        forget_ = std::exp(-1.0 / memory);
        least_fed_ = static_cast<int64_t>(std::ceil(memory));
        stop();
    }
    // Watches lag `lag` (samples) from now on, forgetting what was fed before; `measured` is
    // the correlation at that lag where the note was measured (correlation_over()), NaN where
    // it could not be.
    void begin(int lag, double measured) {
        lag_ = lag > 0 ? lag : 0;
        measured_ = measured;
        sxy_ = sxx_ = syy_ = 0.0;
        fed_ = 0;
    }
    void stop() { begin(0, 0.0); }
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
    // Whether the input has left the period: it repeated at it where the note was measured and
    // no longer does. A free string correlates with itself a period back above 0.6 on 99% of
    // the modelled notes (stiff, damped, in noise, under another string); a held one let go
    // falls to -0.6..0.1. It must have stood high where the note was measured: a high note over
    // a louder ringing one never does, the ringing note's period filling the input.
    bool left() const {
        return ready() && measured_ >= free_correlation && correlation() < left_correlation;
    }
    // Whether the input did not repeat at the period where the note was measured (NaN there:
    // not known): what was measured was no string vibrating freely at it, but the finger's push
    // or a louder string ringing on. Modelled free strings stand above it on 99% of notes.
    bool never_held() const { return lag_ > 0 && measured_ < never_correlation; }
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
    // The input stood at the period at or above the first, and left it below the second.
    static constexpr double free_correlation = 0.5, left_correlation = 0.15;
    static constexpr double never_correlation = 0.2;

  private:
    double forget_ = 0.0;
    int64_t least_fed_ = 0;
    int lag_ = 0;
    double measured_ = 0.0;
    double sxy_ = 0.0, sxx_ = 0.0, syy_ = 0.0;
    int64_t fed_ = 0;
};

} // namespace dsp
