#include "position/spectrum.h"

#include <algorithm>
#include <cmath>

#include "position/counts.h"

namespace dsp {

namespace {
constexpr double window_periods = 4.0, window_min_seconds = 0.023;
// A floor on the table's size; at the tracker's rates (4 kHz up) four periods of 40 Hz already
// need more.
constexpr int smallest_transform = 256;
} // namespace

void spectrum::prepare(double sr, double lowest_f0) {
    sr_ = sr;
    fft_max_ = std::max(
        smallest_transform,
        power_of_two_at_least(clamped(std::ceil(window_periods * sr_ / lowest_f0), 1, 1 << 24)));
    fft_.prepare(fft_max_); // its table also serves the real spectrum's rotations
    re_.assign(static_cast<size_t>(fft_max_ / 2), 0.0);
    im_.assign(static_cast<size_t>(fft_max_ / 2), 0.0);
}

void spectrum::begin(int64_t from, double period) {
    from_ = from;
    window_len_ = static_cast<int>(clamped(
        std::round(std::max(window_periods * period, window_min_seconds * sr_)), 64, fft_max_));
    fft_len_ = power_of_two_at_least(window_len_); // <= fft_max_, a power of two
    hann_c_ = std::cos(M_PI * 0.5 / window_len_);
    hann_s_ = std::sin(M_PI * 0.5 / window_len_);
    hann_rc_ = std::cos(M_PI / window_len_);
    hann_rs_ = std::sin(M_PI / window_len_);
    cursor_ = 0;
    zeroed_ = 0;
    phase_ = phase::window;
}

int64_t spectrum::gather(const input_history &h, int64_t budget) {
    // Zero the transform's arrays, then take the window's samples as they arrive: each goes,
    // Hann-weighted, straight to the bit-reversed place of its pair.
    const int half = fft_len_ / 2;
    int64_t spent = 0;
    if (zeroed_ < half) {
        const int end =
            static_cast<int>(std::min<int64_t>(half, zeroed_ + std::max<int64_t>(1, budget)));
        std::fill(re_.begin() + zeroed_, re_.begin() + end, 0.0); // end <= half <= size
        std::fill(im_.begin() + zeroed_, im_.begin() + end, 0.0);
        spent += end - zeroed_;
        zeroed_ = end;
        if (zeroed_ < half)
            return spent;
    }
    const int64_t available = std::min<int64_t>(window_len_, h.total() - from_);
    const int64_t limit = std::min(available, cursor_ + std::max<int64_t>(1, (budget - spent) / 4));
    int bits = 0;
    while ((1 << bits) < half)
        bits++;
    for (int64_t j = cursor_; j < limit; j++) {
        // Hann weight sin^2(pi (j + 1/2) / L), the angle carried by a rotation.
        const double v = hann_s_ * hann_s_ * h.sample(from_ + j);
        const double c = hann_c_ * hann_rc_ - hann_s_ * hann_rs_;
        hann_s_ = hann_s_ * hann_rc_ + hann_c_ * hann_rs_;
        hann_c_ = c;
        int to = 0;
        for (int b = 0, m = static_cast<int>(j >> 1); b < bits; b++, m >>= 1)
            to = (to << 1) | (m & 1);
        // to < 2^bits = half, the arrays' used length.
        (j & 1 ? im_ : re_)[static_cast<size_t>(to)] = v;
    }
    spent += 4 * std::max<int64_t>(0, limit - cursor_);
    cursor_ = std::max(cursor_, limit);
    if (cursor_ == window_len_) {
        fft_.start(re_.data(), im_.data(), half, true);
        phase_ = phase::transform;
    }
    return spent;
}

stage_step spectrum::step(const input_history &h, int64_t budget) {
    if (phase_ == phase::window) {
        if (!h.holds(from_ + cursor_)) // overwritten: cannot happen by the history's sizing
            return {0, stage_state::failed};
        const int64_t spent = gather(h, budget);
        const bool waiting =
            phase_ == phase::window && zeroed_ == fft_len_ / 2 && cursor_ == h.total() - from_;
        return {spent, waiting ? stage_state::waiting : stage_state::running};
    }
    const int64_t spent = fft_.step(budget);
    return {spent, fft_.done() ? stage_state::done : stage_state::running};
}

double spectrum::power(int k) const {
    // The real window's spectrum from the half-length complex transform of its even (real part)
    // and odd (imaginary part) samples: X[k] = E[k] - i W^k O[k].
    const int half = fft_len_ / 2;
    k = std::clamp(k, 0, half);
    if (k == 0 || k == half) {
        const double x = k == 0 ? re_[0] + im_[0] : re_[0] - im_[0];
        return x * x;
    }
    const auto a = static_cast<size_t>(k), b = static_cast<size_t>(half - k); // both in [1, half)
    const double er = 0.5 * (re_[a] + re_[b]), ei = 0.5 * (im_[a] - im_[b]);
    const double orr = 0.5 * (re_[a] - re_[b]), oi = 0.5 * (im_[a] + im_[b]);
    // exp(-2 pi i k / fft_len_) is entry k * (fft_max_ / fft_len_) < fft_max_ / 2 of the table.
    const int t = k * (fft_max_ / fft_len_);
    const double wr = fft_.rotation_re(t), wi = fft_.rotation_im(t);
    const double xr = er + (wr * oi + wi * orr);
    const double xi = ei - (wr * orr - wi * oi);
    return xr * xr + xi * xi;
}

} // namespace dsp
