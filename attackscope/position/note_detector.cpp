#include "position/note_detector.h"

#include <algorithm>
#include <cmath>

namespace dsp {

namespace {
constexpr double spacing_seconds = 0.000125; // the difference's first peak at 4 kHz
constexpr double smooth_seconds = 0.0005;    // an edge's energy arrives within this
constexpr double level_seconds = 0.05;       // two periods of the lowest string
constexpr double reference_seconds = 0.004;  // a release's rise lasts less
} // namespace

void note_detector::prepare(double sr) {
    if (!(sr > 0.0) || !std::isfinite(sr))
        sr = 44100.0;
    lag_ = std::clamp(static_cast<int>(std::lround(spacing_seconds * sr)), 1, max_lag - 1);
    smooth_ = 1.0 - std::exp(-1.0 / (smooth_seconds * sr));
    decay_ = std::exp(-1.0 / (level_seconds * sr));
    past_.assign(static_cast<size_t>(std::clamp(reference_seconds * sr, 1.0, 1e6)), 0.0);
    past_size_ = past_.size();
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

} // namespace dsp
