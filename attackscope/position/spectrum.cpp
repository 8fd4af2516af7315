#include "position/spectrum.h"

#include <algorithm>
#include <cmath>

#include "position/counts.h"

namespace dsp {

namespace {
// A floor on the table's size; at the tracker's rates (4 kHz up) four periods of 40 Hz already
// need more.
constexpr int smallest_transform = 256;
} // namespace

void spectrum::prepare(double sr, double lowest_f0, const shape &form) {
    sr_ = sr;
    form_ = form;
    const double longest = std::min(form_.periods * sr_ / lowest_f0,
                                    std::max(form_.max_seconds, form_.min_seconds) * sr_);
    fft_max_ = std::max(smallest_transform,
                        power_of_two_at_least(clamped(std::ceil(longest), 1, 1 << 24)));
    fft_.prepare(fft_max_); // its table also serves the real spectrum's rotations
    for (auto *v : {&re_, &im_})
        v->assign(static_cast<size_t>(fft_max_ / 2), 0.0);
    for (auto *v : {&dre_, &dim_})
        v->assign(form_.derivative ? static_cast<size_t>(fft_max_ / 2) : 0, 0.0);
}

void spectrum::begin(int64_t from, double period) {
    from_ = from;
    const double len = std::min(std::max(form_.periods * period, form_.min_seconds * sr_),
                                std::max(form_.max_seconds, form_.min_seconds) * sr_);
    window_len_ = static_cast<int>(clamped(std::round(len), 64, fft_max_));
    fft_len_ = power_of_two_at_least(window_len_); // <= fft_max_, a power of two
    hann_c_ = std::cos(M_PI * 0.5 / window_len_);
    hann_s_ = std::sin(M_PI * 0.5 / window_len_);
    hann_rc_ = std::cos(M_PI / window_len_);
    hann_rs_ = std::sin(M_PI / window_len_);
    cursor_ = 0;
    zeroed_ = 0;
    phase_ = phase::window;
}

void spectrum::begin_before(int64_t end, double period) {
    begin(end, period);
    from_ = end - window_len_;
}

int64_t spectrum::gather(const input_history &h, int64_t budget) {
    // Zero the transform's arrays, then take the window's samples as they arrive: each goes,
    // Hann-weighted, straight to the bit-reversed place of its pair.
    const int half = fft_len_ / 2;
    int64_t spent = 0;
    if (zeroed_ < half) {
        const int per_entry = form_.derivative ? 2 : 1; // arrays of two transforms, or one
        const int end = static_cast<int>(
            std::min<int64_t>(half, zeroed_ + std::max<int64_t>(1, budget / per_entry)));
        for (auto *v : {&re_, &im_, &dre_, &dim_}) // end <= half <= size, or empty
            if (!v->empty())
                std::fill(v->begin() + zeroed_, v->begin() + end, 0.0);
        spent += per_entry * (end - zeroed_);
        zeroed_ = end;
        if (zeroed_ < half)
            return spent;
    }
    const int64_t available = std::min<int64_t>(window_len_, h.total() - from_);
    const int per_sample = form_.derivative ? 6 : 4;
    const int64_t limit =
        std::min(available, cursor_ + std::max<int64_t>(1, (budget - spent) / per_sample));
    int bits = 0;
    while ((1 << bits) < half)
        bits++;
    const double derivative_scale = 2.0 * M_PI / window_len_;
    for (int64_t j = cursor_; j < limit; j++) {
        // Hann weight sin^2(pi (j + 1/2) / L), the angle carried by a rotation; its derivative
        // in j is (2 pi / L) sin cos.
        const double x = h.sample(from_ + j);
        const double v = hann_s_ * hann_s_ * x;
        const double dv = derivative_scale * hann_s_ * hann_c_ * x;
        const double c = hann_c_ * hann_rc_ - hann_s_ * hann_rs_;
        hann_s_ = hann_s_ * hann_rc_ + hann_c_ * hann_rs_;
        hann_c_ = c;
        int to = 0;
        for (int b = 0, m = static_cast<int>(j >> 1); b < bits; b++, m >>= 1)
            to = (to << 1) | (m & 1);
        // to < 2^bits = half, the arrays' used length.
        (j & 1 ? im_ : re_)[static_cast<size_t>(to)] = v;
        if (form_.derivative)
            (j & 1 ? dim_ : dre_)[static_cast<size_t>(to)] = dv;
    }
    spent += per_sample * std::max<int64_t>(0, limit - cursor_);
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
    if (!fft_.done())
        return {spent, stage_state::running};
    if (phase_ == phase::transform && form_.derivative) {
        fft_.start(dre_.data(), dim_.data(), fft_len_ / 2, true);
        phase_ = phase::derivative;
        return {spent, stage_state::running};
    }
    return {spent, stage_state::done};
}

void spectrum::bin(const std::vector<double> &re, const std::vector<double> &im, int k, double &xr,
                   double &xi) const {
    // The real window's spectrum from the half-length complex transform of its even (real part)
    // and odd (imaginary part) samples: X[k] = E[k] - i W^k O[k].
    const int half = fft_len_ / 2;
    k = std::clamp(k, 0, half);
    if (k == 0 || k == half) {
        xr = k == 0 ? re[0] + im[0] : re[0] - im[0];
        xi = 0.0;
        return;
    }
    const auto a = static_cast<size_t>(k), b = static_cast<size_t>(half - k); // both in [1, half)
    const double er = 0.5 * (re[a] + re[b]), ei = 0.5 * (im[a] - im[b]);
    const double orr = 0.5 * (re[a] - re[b]), oi = 0.5 * (im[a] + im[b]);
    // exp(-2 pi i k / fft_len_) is entry k * (fft_max_ / fft_len_) < fft_max_ / 2 of the table.
    const int t = k * (fft_max_ / fft_len_);
    const double wr = fft_.rotation_re(t), wi = fft_.rotation_im(t);
    xr = er + (wr * oi + wi * orr);
    xi = ei - (wr * orr - wi * oi);
}

double spectrum::power(int k) const {
    double xr = 0.0, xi = 0.0;
    bin(re_, im_, k, xr, xi);
    return xr * xr + xi * xi;
}

int spectrum::strongest(int lo, int hi) const {
    lo = std::clamp(lo, 0, fft_len_ / 2);
    hi = std::clamp(hi, lo, fft_len_ / 2);
    int best = lo;
    double best_power = power(lo);
    for (int k = lo + 1; k <= hi; k++) {
        const double p = power(k);
        if (p > best_power) {
            best_power = p;
            best = k;
        }
    }
    return best;
}

double spectrum::peak_frequency(int k) const {
    if (!form_.derivative)
        return NAN;
    k = std::clamp(k, 1, std::max(1, fft_len_ / 2 - 1));
    double hr = 0.0, hi = 0.0, dr = 0.0, di = 0.0;
    bin(re_, im_, k, hr, hi);
    bin(dre_, dim_, k, dr, di);
    const double norm = hr * hr + hi * hi;
    if (!(norm > 0.0) || !std::isfinite(norm))
        return NAN;
    // Im(D / H) in radians a sample, turned into bins of this transform.
    const double im_ratio = (di * hr - dr * hi) / norm;
    return k - im_ratio * fft_len_ / (2.0 * M_PI);
}

} // namespace dsp
