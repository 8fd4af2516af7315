#include "position/period_search.h"

#include <cmath>

namespace dsp {

namespace {
constexpr double submultiple_threshold = 0.4;
} // namespace

void period_search::prepare(int max_lag) {
    diff_.assign(static_cast<size_t>(max_lag > 0 ? max_lag + 1 : 1), 0.0);
    max_lag_ = 0;
    next_lag_ = 1;
}

void period_search::start(const double *x, int len, int min_lag, int max_lag, double threshold) {
    x_ = x;
    len_ = len;
    min_lag_ = min_lag;
    threshold_ = threshold;
    period_ = 0.0;
    aperiodicity_ = 1.0;
    const int cap = static_cast<int>(diff_.size()) - 1;
    if (!x || min_lag < 1 || max_lag <= min_lag || max_lag > cap || len <= max_lag) {
        max_lag_ = 0; // done() at once
        next_lag_ = 1;
        return;
    }
    max_lag_ = max_lag;
    next_lag_ = 1;
    diff_[0] = 0.0;
}

int64_t period_search::step(int64_t budget) {
    if (done())
        return 0;
    const int window = len_ - max_lag_; // j + t <= window - 1 + max_lag_ = len_ - 1
    int64_t spent = 0;
    do {
        const int t = next_lag_;
        double sum = 0.0;
        for (int j = 0; j < window; j++) {
            const double d = x_[j] - x_[j + t];
            sum += d * d;
        }
        diff_[static_cast<size_t>(t)] = sum;
        spent += (window + 2) / 3;
        next_lag_++;
    } while (!done() && spent < budget);
    if (done())
        conclude();
    return spent;
}

void period_search::conclude() {
    // Normalise in place: d'(t) replaces d(t), and d'(0) is 1 by definition.
    diff_[0] = 1.0;
    double running = 0.0;
    for (int t = 1; t <= max_lag_; t++) {
        const double d = diff_[static_cast<size_t>(t)];
        running += d;
        diff_[static_cast<size_t>(t)] = running > 0.0 ? d * t / running : 1.0;
    }
    const auto at = [this](int t) { return diff_[static_cast<size_t>(t)]; };
    int best = -1;
    for (int t = min_lag_; t < max_lag_; t++) {
        if (at(t) < threshold_) {
            while (t + 1 < max_lag_ && at(t + 1) < at(t))
                t++;
            best = t;
            break;
        }
    }
    int lowest = min_lag_;
    for (int t = min_lag_ + 1; t < max_lag_; t++)
        if (at(t) < at(lowest))
            lowest = t;
    if (best < 0)
        best = lowest;
    // A period that is not a whole number of samples leaves only a shallow dip where a
    // multiple of it that is nearly whole dips deeply: take the shortest fraction 1/k of the
    // chosen lag that is itself a clear local minimum.
    for (int k = best / min_lag_; k >= 2; k--) {
        const int centre = static_cast<int>(std::lround(static_cast<double>(best) / k));
        int t = centre;
        for (int c = std::max(min_lag_, centre - 1); c <= std::min(max_lag_ - 1, centre + 1); c++)
            if (at(c) < at(t))
                t = c;
        // t is in [min_lag_, max_lag_ - 1], so t - 1 and t + 1 are computed lags.
        if (t >= min_lag_ && t < max_lag_ && at(t) < submultiple_threshold && at(t) <= at(t - 1) &&
            at(t) <= at(t + 1)) {
            best = t;
            break;
        }
    }
    // best is in [min_lag_, max_lag_ - 1], so best - 1 >= 0 and best + 1 <= max_lag_.
    const double a = at(best - 1), b = at(best), c = at(best + 1);
    const double curve = a - 2.0 * b + c;
    double offset = curve > 0.0 ? 0.5 * (a - c) / curve : 0.0;
    if (!(std::fabs(offset) <= 0.5))
        offset = 0.0;
    aperiodicity_ = std::isfinite(b) ? b : 1.0;
    period_ = best + offset;
}

} // namespace dsp
