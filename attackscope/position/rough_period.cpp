#include "position/rough_period.h"

#include <algorithm>
#include <cmath>

#include "position/counts.h"

namespace dsp {

namespace {
// The stretch holds 2.3 periods of the lowest f0: one for the difference function's longest
// lag, 1.3 for the window its sums run over. A shorter stretch would answer high notes sooner,
// but their estimate waits for its confirmation anyway, and over a short stretch a low note's
// strong group of partials (a pickup's, through a body) can pass for a short clear period.
constexpr double stretch_periods = 2.3;
// The difference function's first dip below 0.3 is the period; a dip to anything below 0.5
// still is one (the lowest, as the search falls back to it).
constexpr double period_threshold = 0.3, clear_threshold = 0.5;
constexpr double decimated_rate = 5500.0; // Hz: room for periods of 1500 Hz and more
} // namespace

void rough_period::prepare(double sr, double lowest_f0, double highest_f0) {
    sr_ = sr;
    lowest_f0_ = lowest_f0;
    highest_f0_ = highest_f0;
    decimation_ = static_cast<int>(clamped(sr_ / decimated_rate, 1, 1 << 20));
    // Butterworth low-pass at 1 kHz as two sections (Q = 0.5412, 1.3066), bilinear transform.
    const double w = std::tan(M_PI * std::min(1000.0, 0.2 * sr_) / sr_);
    const double qs[2] = {0.5411961001461970, 1.3065629648763766};
    for (int s = 0; s < 2; s++) {
        const double norm = 1.0 / (1.0 + w / qs[s] + w * w);
        biquad &b = lowpass_[s].c;
        b.b0 = w * w * norm;
        b.b1 = 2.0 * b.b0;
        b.b2 = b.b0;
        b.a1 = 2.0 * (w * w - 1.0) * norm;
        b.a2 = (1.0 - w / qs[s] + w * w) * norm;
        lowpass_[s].z1 = lowpass_[s].z2 = 0.0;
    }
    stretch_ = static_cast<int>(clamped(std::ceil(stretch_periods * sr_ / lowest_f0_), 1, 1 << 24));
    decimated_.assign(static_cast<size_t>(stretch_ / decimation_ + 2), 0.0);
    search_.prepare(static_cast<int>(std::ceil(sr_ / decimation_ / lowest_f0_)) + 2);
}

void rough_period::begin(int64_t from) {
    from_ = from;
    phase_ = phase::wait;
}

int64_t rough_period::decimate(const input_history &h, int64_t budget) {
    // Low-passed (fourth-order Butterworth, 1 kHz) before every decimation_-th sample is kept:
    // a velocity signal's strong high partials would otherwise fold down and hide the period.
    // The filter runs on from one stretch to the next, which only extends the last.
    const int64_t target = from_ + int64_t{decimated_len_} * decimation_;
    const int64_t limit = std::min(target, filtered_to_ + std::max<int64_t>(1, budget / 2));
    for (int64_t i = filtered_to_; i < limit; i++) {
        double v = h.sample(i);
        for (section &b : lowpass_) {
            v = b.c.step(v, b.z1, b.z2);
        }
        const int64_t offset = i - from_;
        if (offset % decimation_ == decimation_ - 1) {
            const int64_t j = offset / decimation_; // < decimated_len_ <= size, as i < target
            decimated_[static_cast<size_t>(j)] = v;
        }
    }
    const int64_t spent = 2 * (limit - filtered_to_); // two sections a sample
    filtered_to_ = limit;
    if (filtered_to_ == target) {
        const double rate = sr_ / decimation_;
        const int min_lag = static_cast<int>(clamped(rate / highest_f0_, 2, 1 << 20));
        const int max_lag = static_cast<int>(clamped(std::ceil(rate / lowest_f0_), 3, 1 << 20));
        search_.start(decimated_.data(), decimated_len_, min_lag, max_lag, period_threshold);
        phase_ = phase::search;
    }
    return spent;
}

bool rough_period::conclude() {
    const double period = search_.period() * decimation_;
    const double ap = search_.aperiodicity();
    if (!(period > 0.0 && ap < clear_threshold))
        return false;
    period_samples_ = std::clamp(period, sr_ / highest_f0_, sr_ / lowest_f0_);
    aperiodicity_ = ap;
    return true;
}

stage_step rough_period::step(const input_history &h, int64_t budget) {
    switch (phase_) {
    case phase::wait:
        if (h.total() - from_ < stretch_)
            return {0, stage_state::waiting};
        decimated_len_ = std::min(stretch_ / decimation_, static_cast<int>(decimated_.size()));
        if (!h.holds(from_)) // overwritten: cannot happen by the history's sizing
            return {0, stage_state::failed};
        filtered_to_ = from_;
        for (section &b : lowpass_)
            b.z1 = b.z2 = 0.0;
        phase_ = phase::decimate;
        return {0, stage_state::running};
    case phase::decimate:
        return {decimate(h, budget), stage_state::running};
    case phase::search: {
        const int64_t spent = search_.step(budget);
        if (!search_.done())
            return {spent, stage_state::running};
        return {spent, conclude() ? stage_state::done : stage_state::failed};
    }
    }
    return {0, stage_state::failed};
}

} // namespace dsp
