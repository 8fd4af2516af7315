#include "position/held_release.h"

#include <algorithm>
#include <cmath>

#include "position/counts.h"
#include "position/pitch_watch.h"

namespace dsp {

namespace {
constexpr double stretch_seconds = 0.004;
// The pitch watch's bounds: a stretch left the period only after one stood at it (the push's
// own transient does not).
constexpr double left_correlation = pitch_watch::left_correlation,
                 held_correlation = pitch_watch::free_correlation;
} // namespace

void held_release::prepare(double sr) {
    stretch_ = static_cast<int>(clamped(std::round(stretch_seconds * sr), 1, 1 << 20));
    done_ = true;
    found_ = -1;
}

void held_release::begin(const input_history &h, int64_t from, int64_t to, int lag,
                         int64_t reserve) {
    lag_ = std::max(lag, 1);
    // The earliest sample whose lagged partner stays held.
    from = std::max(from, h.oldest() + std::max<int64_t>(reserve, 0) + lag_);
    cursor_ = stretch_start_ = from;
    seen_held_ = false;
    to_ = to;
    xy_ = xx_ = yy_ = 0.0;
    found_ = -1;
    done_ = from >= to;
}

stage_step held_release::step(const input_history &h, int64_t budget) {
    int64_t units = 0;
    while (!done_ && units < budget) {
        const double x = h.sample(cursor_), y = h.sample(cursor_ - lag_);
        xy_ += x * y;
        xx_ += x * x;
        yy_ += y * y;
        cursor_++;
        units++;
        if (cursor_ - stretch_start_ == stretch_) {
            const double d = std::sqrt(xx_ * yy_);
            const bool valid = d > 0.0 && std::isfinite(d);
            if (valid && seen_held_ && xy_ < left_correlation * d) {
                found_ = stretch_start_;
                done_ = true;
                break;
            }
            seen_held_ = seen_held_ || (valid && xy_ >= held_correlation * d);
            xy_ = xx_ = yy_ = 0.0;
            stretch_start_ = cursor_;
        }
        if (cursor_ >= to_)
            done_ = true;
    }
    return {std::max<int64_t>(units, 1), done_ ? stage_state::done : stage_state::running};
}

} // namespace dsp
