#include "position/note_detector.h"

#include <algorithm>
#include <cmath>

namespace dsp {

namespace {
constexpr double high_spacing = 0.000125;   // the difference's first peak at 4 kHz
constexpr double low_spacing = 0.0005;      // and at 1 kHz
constexpr double deep_spacing = 0.002;      // and at 250 Hz
constexpr double smooth_seconds = 0.0005;   // an edge's energy arrives within this
constexpr double level_seconds = 0.05;      // two periods of the lowest string
constexpr double reference_seconds = 0.004; // a release's rise lasts less
} // namespace

void note_detector::band::prepare(double sr, double spacing_seconds) {
    lag = std::clamp(static_cast<int>(std::lround(spacing_seconds * sr)), 1, max_lag - 1);
    smooth = 1.0 - std::exp(-1.0 / (smooth_seconds * sr));
    decay = std::exp(-1.0 / (level_seconds * sr));
    past.assign(static_cast<size_t>(std::clamp(reference_seconds * sr, 1.0, 1e6)), 0.0);
}

void note_detector::band::reset() {
    std::fill(history, history + max_lag, 0.0);
    at = 0;
    energy = level = 0.0;
    clear = faint = dim = false;
    std::fill(past.begin(), past.end(), 0.0);
    past_at = 0;
}

void note_detector::prepare(double sr) {
    if (!(sr > 0.0) || !std::isfinite(sr))
        sr = 44100.0;
    high_.prepare(sr, high_spacing);
    low_.prepare(sr, low_spacing);
    deep_.prepare(sr, deep_spacing);
    reset();
}

void note_detector::reset() {
    high_.reset();
    low_.reset();
    deep_.reset();
    rising_ = faint_rising_ = dim_rising_ = false;
    warm_ = std::max({high_.lag, low_.lag, deep_.lag}) + 1;
}

} // namespace dsp
