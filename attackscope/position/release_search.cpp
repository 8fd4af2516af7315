#include "position/release_search.h"

#include <algorithm>
#include <cmath>

#include "position/counts.h"

namespace dsp {

namespace {
// The energy reaches a tenth of its largest value on the release's edge, not on the slower
// push before it (a hundredth in amplitude squared below).
constexpr double release_fraction = 0.1;
// Or, searching the steepest rise, the first that rises half as steeply: the let-go's own edge
// comes before its reflections, which may rise more.
constexpr double steepest_share = 0.5;
} // namespace

void release_search::prepare(double sr, int max_block) {
    edge_ = static_cast<int>(clamped(std::round(0.001 * sr), 1, 1 << 20));
    pre_ = static_cast<int>(clamped(std::round(0.004 * sr), 1, 1 << 20));
    after_ = static_cast<int>(clamped(std::round(0.012 * sr), 1, 1 << 20));
    envelope_.assign(static_cast<size_t>(2 * max_block + pre_ + after_ + 4), 0.0);
    reset();
}

void release_search::reset() {
    phase_ = phase::energy;
    release_ = -1;
}

void release_search::begin(int64_t at, bool steepest) {
    steepest_ = steepest;
    steepest_rise_ = 0.0;
    start_ = std::max<int64_t>(0, at - pre_);
    // start_..end_ spans pre_ + after_, within the envelope's length.
    end_ = std::min<int64_t>(at + after_, start_ + static_cast<int64_t>(envelope_.size()));
    cursor_ = start_;
    running_ = 0.0;
    release_ = -1;
    phase_ = phase::energy;
}

double release_search::rise(int64_t i) const {
    // The envelope sums the last edge_ samples: it rises most an edge_ after an edge began.
    // Over the stretch's first edge_ it is still filling up, which is no rise.
    if (i < edge_)
        return 0.0;
    const auto at = static_cast<size_t>(i);
    return envelope_[at] - envelope_[at - static_cast<size_t>(edge_)];
}

double release_search::edge_energy(const input_history &h, int64_t i) const {
    const double d = h.sample(i) - 2.0 * h.sample(i - edge_) + h.sample(i - 2 * edge_);
    return d * d;
}

stage_step release_search::step(const input_history &h, int64_t budget, bool spare, int n) {
    if (phase_ == phase::energy) {
        // Light: a few operations per input sample, so it also runs in busy blocks.
        const int64_t total = h.total();
        const int64_t limit = std::min(end_, std::min(total, cursor_ + (spare ? budget : n)));
        for (int64_t i = cursor_; i < limit; i++) {
            // The energy over the last edge_ samples, carried along.
            running_ += edge_energy(h, i);
            if (i - edge_ >= start_)
                running_ -= edge_energy(h, i - edge_);
            envelope_[static_cast<size_t>(i - start_)] = std::max(running_, 0.0); // i < end_
        }
        const int64_t spent = limit - cursor_;
        cursor_ = limit;
        if (cursor_ == end_) {
            phase_ = phase::largest;
            cursor_ = 0;
            largest_ = 0.0;
            return {spent, spare ? stage_state::running : stage_state::waiting};
        }
        // Not spare: the block's light work is done; otherwise waiting only for input.
        return {spent, !spare || cursor_ == total ? stage_state::waiting : stage_state::running};
    }
    const int64_t len = end_ - start_;
    const int64_t limit = std::min(len, cursor_ + budget);
    const int64_t from = cursor_;
    if (phase_ == phase::largest) {
        for (int64_t i = cursor_; i < limit; i++) {
            const double e = envelope_[static_cast<size_t>(i)];
            largest_ = std::max(largest_, e);
            steepest_rise_ = std::max(steepest_rise_, rise(i));
        }
        cursor_ = limit;
        if (cursor_ == len) {
            if (!(largest_ > 0.0) || !std::isfinite(largest_))
                return {limit - from, stage_state::failed};
            phase_ = phase::first;
            cursor_ = 0;
        }
        return {limit - from, stage_state::running};
    }
    const double threshold = release_fraction * largest_;
    for (int64_t i = cursor_; i < limit; i++) {
        if (steepest_ ? rise(i) >= steepest_share * steepest_rise_
                      : envelope_[static_cast<size_t>(i)] >= threshold) {
            release_ = start_ + (steepest_ ? std::max<int64_t>(0, i - edge_) : i);
            window_start_ = std::max(start_, release_ - edge_ / 2);
            return {i + 1 - from, stage_state::done};
        }
    }
    cursor_ = limit; // the largest value is always reached, so the scan ends above
    return {limit - from, stage_state::running};
}

} // namespace dsp
