#include "position/note_detector.h"

#include <algorithm>
#include <cmath>

namespace dsp {

namespace {
constexpr double spacing_seconds = 0.000125; // the difference's first peak at 4 kHz
constexpr double smooth_seconds = 0.0005;    // an edge's energy arrives within this
constexpr double level_seconds = 0.05;       // two periods of the lowest string
constexpr double reference_seconds = 0.004;  // a release's rise lasts less
constexpr double rise = 10.0;                // 10 dB above anything recent
constexpr double floor_energy = 1e-10;       // (-100 dBFS)^2: below it, silence
} // namespace

void note_detector::prepare(double sr) {
    if (!(sr > 0.0) || !std::isfinite(sr))
        sr = 44100.0;
    lag_ = std::clamp(static_cast<int>(std::lround(spacing_seconds * sr)), 1, max_lag - 1);
    smooth_ = 1.0 - std::exp(-1.0 / (smooth_seconds * sr));
    decay_ = std::exp(-1.0 / (level_seconds * sr));
    past_.assign(static_cast<size_t>(std::clamp(reference_seconds * sr, 1.0, 1e6)), 0.0);
    reset();
}

void note_detector::reset() {
    std::fill(history_, history_ + max_lag, 0.0);
    at_ = 0;
    energy_ = level_ = 0.0;
    std::fill(past_.begin(), past_.end(), 0.0);
    past_at_ = 0;
    rising_ = false;
    warm_ = lag_ + 1;
}

bool note_detector::feed(double x, int64_t index) {
    // at_ stays in [0, lag_], lag_ < max_lag: a ring of lag_ + 1 samples.
    const int oldest = at_ == lag_ ? 0 : at_ + 1;
    const double d = x - history_[oldest];
    history_[at_] = x;
    at_ = oldest;
    energy_ += smooth_ * (d * d - energy_);
    if (past_.empty())
        return false;
    // The oldest entry of the ring: the level reference_seconds ago (past_at_ < size).
    const double reference = past_[past_at_];
    level_ = std::max(energy_, level_ * decay_);
    past_[past_at_] = level_;
    past_at_ = past_at_ + 1 == past_.size() ? 0 : past_at_ + 1;
    const bool above = index >= warm_ && energy_ > floor_energy && energy_ > rise * reference;
    const bool candidate = above && !rising_;
    rising_ = above;
    return candidate;
}

} // namespace dsp
