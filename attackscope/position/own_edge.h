// Whether an edge that followed a note is that string's own, come round again a period later,
// rather than a finger letting the string go. A low string's recorded attack may sharpen over
// its first periods until an edge outgrows what came before it as a let-go's does; but the
// string was already vibrating freely, so the edge has the shape of the one a period before it.
// A let-go starts a motion the held string did not have.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace dsp {

struct own_edge {
    // The stretch compared: 6 ms, from a third of it before the release (the edge and what it
    // sets ringing), but no more than half a period, so that it holds one edge. Shorter than
    // 3 ms it holds too little of the edge to tell it from a let-go: on modelled strings above
    // 167 Hz let-gos repeat the held string's motion a period before at up to 0.99.
    static constexpr double stretch_seconds = 0.006, shortest_seconds = 0.003;
    // Modelled let-gos of strings up to 167 Hz, held 10-150 ms, in noise or under a ringing
    // string, correlate with the input a period before them at up to 0.89 (of about 4600); a
    // sampled bass's own edges at 0.93-0.95.
    static constexpr double repeated = 0.92;

    // The stretch for a string of f0 Hz at sr, in samples; 0 where its period is too short.
    static int64_t stretch(double sr, double f0) {
        if (!(f0 > 0.0) || !(sr > 0.0))
            return 0;
        const auto n = static_cast<int64_t>(std::min(stretch_seconds * sr, sr / f0 / 2.0));
        return n < static_cast<int64_t>(shortest_seconds * sr) || n < 3 ? 0 : n;
    }

    // The correlation of the input's first difference around `release` with the same a period
    // of f0 (Hz) before, the best of the three whole lags nearest it, over every stride-th
    // sample so that at most about `most_units` products are summed; `units` gets the cost.
    // NaN where the period is too short to tell or the history no longer holds it.
    template <class History>
    static double correlation(const History &h, int64_t release, double sr, double f0,
                              int64_t most_units, int64_t &units) {
        units = 1;
        const double nan = std::nan("");
        const int64_t n = stretch(sr, f0);
        if (n == 0)
            return nan;
        const auto lag = static_cast<int64_t>(std::lround(sr / f0));
        const int64_t from = release - n / 3, to = from + n;
        if (!h.holds(from - lag - 2) || to > h.total())
            return nan;
        const int64_t stride = std::max<int64_t>(1, (3 * n + most_units - 1) / most_units);
        double best = -1.0;
        for (int64_t l = lag - 1; l <= lag + 1; l++) {
            double xy = 0.0, xx = 0.0, yy = 0.0;
            for (int64_t i = from; i < to; i += stride) {
                const double x = h.sample(i) - h.sample(i - 1);
                const double y = h.sample(i - l) - h.sample(i - l - 1);
                xy += x * y;
                xx += x * x;
                yy += y * y;
            }
            const double d = std::sqrt(xx * yy);
            if (d > 0.0 && std::isfinite(d))
                best = std::max(best, xy / d);
        }
        units = 3 * ((n + stride - 1) / stride) + 1;
        return best;
    }
};

} // namespace dsp
