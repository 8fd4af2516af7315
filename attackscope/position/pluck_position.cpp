#include "position/pluck_position.h"

#include <algorithm>
#include <cmath>

namespace dsp {

namespace {

constexpr double stretch_low_f0[3] = {160.0, 80.0, pluck_tracker::lowest_f0};
constexpr double stretch_periods = 2.3;
constexpr double period_threshold[3] = {0.15, 0.2, 0.3};
constexpr double window_periods = 4.0, window_min_seconds = 0.023;
constexpr double band = 0.45;        // partials are followed up to this fraction of the sample rate
constexpr double search_width = 0.3; // partial search, either side, as a fraction of f0
constexpr double release_fraction = 0.1;
constexpr double significant_stretch =
    0.2; // share of the series' misfit an inharmonicity must explain

// A real number as a sample count or index in [lo, hi]; NaN gives lo.
int64_t clamped(double v, int64_t lo, int64_t hi) {
    if (!(v > static_cast<double>(lo)))
        return lo;
    if (!(v < static_cast<double>(hi)))
        return hi;
    return static_cast<int64_t>(v);
}

int power_of_two_at_least(int64_t v) {
    int p = 1;
    while (p < v && p < (1 << 30))
        p *= 2;
    return p;
}

} // namespace

void pluck_tracker::prepare(double sr, int max_block) {
    sr_ = std::isfinite(sr) ? std::clamp(sr, 4000.0, 768000.0) : 44100.0;
    max_block_ = std::clamp(max_block, 1, 65536);
    edge_ = static_cast<int>(clamped(std::round(0.001 * sr_), 1, 1 << 20));
    // The release search around a candidate: its rise has begun at most 4 ms before the
    // candidate (the detector's reference), and a soft release's edge is past 12 ms after it.
    pre_ = static_cast<int>(clamped(std::round(0.004 * sr_), 1, 1 << 20));
    after_ = static_cast<int>(clamped(std::round(0.012 * sr_), 1, 1 << 20));
    detector_.prepare(sr_);
    // A finger may hold the string for 150 ms after its push, which can set the string ringing
    // in the modes that have a node under it: an estimate is given only when no stronger edge
    // followed within that time.
    confirm_ = static_cast<int>(clamped(std::round(0.15 * sr_), 1, 1 << 24));
    decimation_ = static_cast<int>(clamped(sr_ / 5500.0, 1, 1 << 20));
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
    for (int k = 0; k < 3; k++)
        stretch_[k] = static_cast<int>(
            clamped(std::ceil(stretch_periods * sr_ / stretch_low_f0[k]), 1, 1 << 24));
    fft_max_ = std::max(256, power_of_two_at_least(
                                 clamped(std::ceil(window_periods * sr_ / lowest_f0), 1, 1 << 24)));

    // The history holds the search stretch (two blocks, pre_ and after_), the longest window
    // after it, and what arrives while the window is copied out.
    const int64_t span = 3 * int64_t{max_block_} + pre_ + after_ + fft_max_ + fft_max_ / 16 + 64;
    const int ring = power_of_two_at_least(span);
    ring_.assign(static_cast<size_t>(ring), 0.0f);
    mask_ = ring - 1;
    envelope_.assign(static_cast<size_t>(2 * max_block_ + pre_ + after_ + 4), 0.0);
    decimated_.assign(static_cast<size_t>(stretch_[2] / decimation_ + 2), 0.0);
    period_.prepare(static_cast<int>(std::ceil(sr_ / decimation_ / lowest_f0)) + 2);
    fft_.prepare(fft_max_); // its table also serves the real spectrum's rotations
    re_.assign(static_cast<size_t>(fft_max_ / 2), 0.0);
    im_.assign(static_cast<size_t>(fft_max_ / 2), 0.0);
    reset();
}

void pluck_tracker::reset() {
    std::fill(ring_.begin(), ring_.end(), 0.0f);
    total_ = 0;
    last_n_ = 0;
    last_bad_ = -1;
    detector_.reset();
    candidate_ = -1;
    pending_ = false;
    state_ = state::idle;
    release_ = -1;
}

double pluck_tracker::sample(int64_t i) const {
    return i < 0 ? 0.0 : static_cast<double>(ring_[static_cast<size_t>(i & mask_)]);
}

void pluck_tracker::push(const float *in, int n) {
    if (ring_.empty() || !in || n <= 0)
        return;
    for (int i = 0; i < n; i++) {
        float v = in[i];
        if (!std::isfinite(v)) {
            v = 0.0f;
            last_bad_ = total_ + i;
        }
        ring_[static_cast<size_t>((total_ + i) & mask_)] = v; // masked: inside the ring
        // Huge values would leave the detector's energy infinite; they are no pluck.
        if (detector_.feed(std::clamp(static_cast<double>(v), -1e6, 1e6), total_ + i))
            candidate_ = total_ + i;
    }
    total_ += n;
    last_n_ = n;
}

void pluck_tracker::begin_note(int64_t at) {
    // A later candidate while a note is measured replaces it: the first was the finger's push,
    // a knock or the start of noise, or a note that the next one cut short before its estimate.
    start_ = std::max<int64_t>(0, at - pre_);
    end_ = at + after_;
    // start_..end_ spans pre_ + after_, within the envelope's length.
    end_ = std::min<int64_t>(end_, start_ + static_cast<int64_t>(envelope_.size()));
    cursor_ = start_;
    running_ = 0.0;
    release_ = -1;
    state_ = state::search;
}

double pluck_tracker::edge_energy(int64_t i) const {
    const double d = sample(i) - 2.0 * sample(i - edge_) + sample(i - 2 * edge_);
    return d * d;
}

int64_t pluck_tracker::step_search(int64_t budget) {
    const int64_t limit = std::min(end_, std::min(total_, cursor_ + budget));
    for (int64_t i = cursor_; i < limit; i++) {
        // The energy over the last edge_ samples, carried along.
        running_ += edge_energy(i);
        if (i - edge_ >= start_)
            running_ -= edge_energy(i - edge_);
        envelope_[static_cast<size_t>(i - start_)] = std::max(running_, 0.0); // i < end_
    }
    const int64_t spent = limit - cursor_;
    cursor_ = limit;
    if (cursor_ == end_) {
        state_ = state::release;
        cursor_ = 0;
        largest_ = 0.0;
        scanning_max_ = true;
    }
    return spent;
}

int64_t pluck_tracker::step_release(int64_t budget) {
    const int64_t len = end_ - start_;
    const int64_t limit = std::min(len, cursor_ + budget);
    const int64_t from = cursor_;
    if (scanning_max_) {
        for (int64_t i = cursor_; i < limit; i++)
            largest_ = std::max(largest_, envelope_[static_cast<size_t>(i)]);
        cursor_ = limit;
        if (cursor_ == len) {
            if (!(largest_ > 0.0) || !std::isfinite(largest_)) {
                fail(0.0);
                return limit - from;
            }
            scanning_max_ = false;
            cursor_ = 0;
        }
        return limit - from;
    }
    const double threshold = release_fraction * largest_;
    for (int64_t i = cursor_; i < limit; i++) {
        if (envelope_[static_cast<size_t>(i)] >= threshold) {
            release_ = start_ + i;
            // The string is still before the release, so a little earlier does no harm, and
            // the first edge is not cut.
            window_start_ = std::max(start_, release_ - edge_ / 2);
            stretch_index_ = 0;
            state_ = state::rough_wait;
            return i + 1 - from;
        }
    }
    cursor_ = limit; // the largest value is always reached, so the scan ends above
    return limit - from;
}

int64_t pluck_tracker::step_decimate(int64_t budget) {
    // Low-passed (fourth-order Butterworth, 1 kHz) before every decimation_-th sample is kept:
    // a velocity signal's strong high partials would otherwise fold down and hide the period.
    // The filter runs on from one stretch to the next, which only extends the last.
    const int64_t target = window_start_ + int64_t{decimated_len_} * decimation_;
    const int64_t limit = std::min(target, filtered_to_ + std::max<int64_t>(1, budget / 2));
    for (int64_t i = filtered_to_; i < limit; i++) {
        double v = sample(i);
        for (section &b : lowpass_) {
            v = b.c.step(v, b.z1, b.z2);
        }
        const int64_t offset = i - window_start_;
        if (offset % decimation_ == decimation_ - 1) {
            const int64_t j = offset / decimation_; // < decimated_len_ <= size, as i < target
            decimated_[static_cast<size_t>(j)] = v;
        }
    }
    const int64_t spent = 2 * (limit - filtered_to_); // two sections a sample
    filtered_to_ = limit;
    if (filtered_to_ == target) {
        const double rate = sr_ / decimation_;
        const int min_lag = static_cast<int>(clamped(rate / highest_f0, 2, 1 << 20));
        const int max_lag =
            static_cast<int>(clamped(std::ceil(rate / stretch_low_f0[stretch_index_]), 3, 1 << 20));
        period_.start(decimated_.data(), decimated_len_, min_lag, max_lag,
                      period_threshold[stretch_index_]);
        state_ = state::rough_period;
    }
    return spent;
}

bool pluck_tracker::conclude_period() {
    const double period = period_.period() * decimation_;
    const double ap = period_.aperiodicity();
    const bool last = stretch_index_ == 2;
    const bool clear = period > 0.0 && ap < (last ? 0.5 : period_threshold[stretch_index_]);
    if (!clear) {
        if (last)
            return false;
        stretch_index_++;
        state_ = state::rough_wait;
        return true;
    }
    period_samples_ = std::clamp(period, sr_ / highest_f0, sr_ / lowest_f0);
    aperiodicity_ = ap;
    window_len_ = static_cast<int>(
        clamped(std::round(std::max(window_periods * period_samples_, window_min_seconds * sr_)),
                64, fft_max_));
    fft_len_ = power_of_two_at_least(window_len_); // <= fft_max_, a power of two
    state_ = state::window_wait;
    return true;
}

int64_t pluck_tracker::step_window(int64_t budget) {
    // Zero the transform's arrays, then take the window's samples as they arrive: each goes,
    // Hann-weighted, straight to the bit-reversed place of its pair (even sample real, odd
    // imaginary), so the transform starts with its butterflies.
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
    const int64_t available = std::min<int64_t>(window_len_, total_ - window_start_);
    const int64_t limit = std::min(available, cursor_ + std::max<int64_t>(1, (budget - spent) / 4));
    int bits = 0;
    while ((1 << bits) < half)
        bits++;
    for (int64_t j = cursor_; j < limit; j++) {
        // Hann weight sin^2(pi (j + 1/2) / L), the angle carried by a rotation.
        const double v = hann_s_ * hann_s_ * sample(window_start_ + j);
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
        state_ = state::transform;
    }
    return spent;
}

double pluck_tracker::power(int k) const {
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

void pluck_tracker::series_fit::add(double n, double freq, double w) {
    if (!(w > 0.0) || !std::isfinite(w) || !std::isfinite(freq))
        return;
    const double u = (freq / n) * (freq / n), v = n * n;
    sw += w;
    su += w * u;
    suu += w * u * u;
    sv += w * v;
    suv += w * u * v;
    svv += w * v * v;
    found++;
    highest = std::max(highest, static_cast<int>(n));
}

bool pluck_tracker::series_fit::solve(double &f0, double &b) const {
    // (f_n / n)^2 = f0^2 + f0^2 B n^2: a straight line in n^2, B kept within [0, 2e-3].
    if (found == 0 || !(sw > 0.0))
        return false;
    double a = su / sw, slope = 0.0;
    if (found >= 4 && highest >= 8) {
        const double det = sw * svv - sv * sv;
        // The stretch is taken only where it explains most of what a plain harmonic series
        // leaves: weak partials pulled by noise otherwise make a stretch, and lower f0 with it.
        const double plain = suu - su * su / sw;
        const double line = det > 0.0 && std::isfinite(det) ? (sw * suv - sv * su) / det : 0.0;
        const double explained = line * (suv - su * sv / sw);
        if (line > 0.0 && explained > significant_stretch * plain) {
            slope = line;
            a = (su - slope * sv) / sw;
        }
    }
    double B = a > 0.0 ? slope / a : 0.0;
    if (!(B >= 0.0 && B <= 2e-3)) {
        B = std::clamp(std::isfinite(B) ? B : 0.0, 0.0, 2e-3);
        // a with B held: least squares of u = a (1 + B v).
        const double num = su + B * suv, den = sw + 2.0 * B * sv + B * B * svv;
        if (den > 0.0)
            a = num / den;
    }
    if (!(a > 0.0) || !std::isfinite(a))
        return false;
    f0 = std::sqrt(a);
    b = B;
    return true;
}

void pluck_tracker::final_series_fit() {
    // Frequency errors shrink as 1/n in f_n / n; partials near the floor are pulled by noise
    // and leakage, so they count less.
    series_fit fit;
    const double floor_power = std::exp(2.0 * floor_);
    for (int i = 0; i < partial_count_; i++)
        if (peak_[i]) {
            const double n = i + 1.0;
            fit.add(n, freq_[i], n * n * std::min(1.0, power_[i] / (100.0 * floor_power)));
        }
    fit.solve(f0_, inharmonicity_);
}

int64_t pluck_tracker::step_partials(int64_t budget) {
    const int half = fft_len_ / 2;
    const double bin = sr_ / fft_len_; // Hz
    int64_t spent = 0;
    while (spent < budget && state_ == state::partials) {
        const double n = partial_;
        const double predicted = n * f0_ * std::sqrt(1.0 + inharmonicity_ * n * n);
        const double centre = predicted / bin, width = std::max(1.0, search_width * f0_ / bin);
        const int lo = static_cast<int>(clamped(std::ceil(centre - width), 1, half - 1));
        const int hi = static_cast<int>(clamped(std::floor(centre + width), 1, half - 1));
        if (partial_ > max_partials || predicted > band * sr_ || centre + width > half - 1 ||
            lo > hi) {
            if (restarts_ < 2 && restart_on_multiple())
                return spent + 1;
            state_ = state::prepare_fit;
            return spent + 1;
        }
        const int i = partial_ - 1; // < max_partials, checked above
        int best = lo;
        double best_power = power(lo);
        for (int k = lo + 1; k <= hi; k++) {
            const double p = power(k);
            if (p > best_power) {
                best_power = p;
                best = k;
            }
        }
        // lo >= 1 and hi <= half - 1, so best - 1 and best + 1 are bins of the spectrum.
        const double left = power(best - 1), right = power(best + 1);
        const auto ln = [](double p) { return 0.5 * std::log(p + 1e-300); };
        peak_[i] = best_power > left && best_power > right;
        if (peak_[i]) {
            const double a = ln(left), b = ln(best_power), c = ln(right);
            const double curve = a - 2.0 * b + c;
            double d = curve < 0.0 ? 0.5 * (a - c) / curve : 0.0;
            d = std::clamp(std::isfinite(d) ? d : 0.0, -0.5, 0.5);
            log_amp_[i] = b - 0.25 * (a - c) * d;
            freq_[i] = (best + d) * bin;
        } else {
            log_amp_[i] = ln(power(static_cast<int>(clamped(std::round(centre), lo, hi))));
            freq_[i] = predicted;
        }
        // The valley towards the next partial: what the spectrum holds between partials.
        const int vlo =
            static_cast<int>(clamped(std::ceil(centre + 0.35 * f0_ / bin), 1, half - 1));
        const int vhi =
            static_cast<int>(clamped(std::floor(centre + 0.65 * f0_ / bin), vlo, half - 1));
        double valley = power(vlo);
        for (int k = vlo + 1; k <= vhi; k++)
            valley = std::min(valley, power(k));
        valley_[i] = ln(valley);
        // A bin a unit; the four logarithms, the exponential, the square roots and the series'
        // refit take about as long as 48 butterflies.
        spent += (hi - lo + 1) + (vhi - vlo + 1) + 48;
        partial_count_ = partial_;
        partial_++;
        power_[i] = std::exp(2.0 * log_amp_[i]);
        if (peak_[i]) {
            progress_.add(n, freq_[i], power_[i]);
            progress_.solve(f0_, inharmonicity_);
        }
    }
    return spent;
}

bool pluck_tracker::restart_on_multiple() {
    // A rough period of two or three true periods leaves every second or third partial of the
    // series searched empty; a string's own comb never empties all partials off a multiple (at
    // beta = 1/2 it empties the even ones). Search again from the true fundamental.
    for (int m = 2; m <= 3; m++) {
        double on = 0.0, off = 0.0;
        for (int i = 0; i < partial_count_; i++)
            ((i + 1) % m == 0 ? on : off) += power_[i];
        if (partial_count_ >= 2 * m && on > 0.0 && off < 0.02 * on && f0_ * m <= highest_f0) {
            f0_ *= m;
            inharmonicity_ = 0.0;
            partial_ = 1;
            partial_count_ = 0;
            progress_ = {};
            restarts_++;
            return true;
        }
    }
    return false;
}

void pluck_tracker::start_fit() {
    const int count = partial_count_;
    if (count < 1 || !(f0_ > 0.0)) {
        fail(0.0);
        return;
    }
    // The floor: the median valley between partials.
    double sorted[max_partials];
    for (int i = 0; i < count; i++)
        sorted[i] = valley_[i];
    std::sort(sorted, sorted + count);
    floor_ = sorted[count / 2];
    final_series_fit();
    double y[max_partials], w[max_partials], eps[max_partials];
    for (int i = 0; i < count; i++) {
        double env = log_amp_[i]; // the upper envelope: the largest within two partials
        for (int j = std::max(0, i - 2); j <= std::min(count - 1, i + 2); j++)
            env = std::max(env, log_amp_[j]);
        y[i] = std::max(log_amp_[i], floor_);
        w[i] = env > floor_ + std::log(4.0) ? 1.0 : 0.0;
        eps[i] = std::clamp(std::exp(floor_ - env), 1e-4, 1.0);
    }
    // The spread of the partials around the fitted series, weighted by strength: near 0 for a
    // string, large for a bar, a chord or noise.
    double sw = 0.0, sd = 0.0;
    for (int i = 0; i < count; i++) {
        if (!peak_[i] || log_amp_[i] < floor_ + std::log(10.0))
            continue;
        const double n = i + 1.0;
        const double series = n * f0_ * std::sqrt(1.0 + inharmonicity_ * n * n);
        const double d = (freq_[i] - series) / f0_;
        const double wt = power_[i];
        if (!std::isfinite(wt))
            continue;
        sw += wt;
        sd += wt * d * d;
    }
    spread_ = sw > 0.0 ? std::sqrt(sd / sw) : 1.0;
    fit_.start(y, w, eps, count);
    state_ = state::fit;
}

pluck_estimate pluck_tracker::conclude() const {
    const auto closeness = [](double v, double scale) {
        return std::exp(-(v / scale) * (v / scale));
    };
    const double q_fit = closeness(fit_.residual(), 0.6);
    const double q_series = closeness(spread_, 0.02);
    const double q_period = closeness(aperiodicity_, 0.2);
    double confidence = q_fit * q_series * q_period;
    if (!std::isfinite(confidence) || last_bad_ >= start_)
        confidence = 0.0;
    double position = fit_.position(), other = fit_.pickup();
    if (!(position > 0.0 && position <= 0.5))
        return {0.0, f0_, 0.0, 0.0, release_};
    // The fit cannot tell which comb is the pluck's; without a known pickup it is the one nearer
    // the middle (pickups sit near an end), with one the one farther from it.
    if (pickup_ > 0.0 && other > 0.0 && std::fabs(position - pickup_) < std::fabs(other - pickup_))
        std::swap(position, other);
    return {position, f0_, std::clamp(confidence, 0.0, 1.0), other, release_};
}

void pluck_tracker::fail(double f0) {
    state_ = state::idle;
    f0_ = f0;
    // The estimate itself is written by advance(), which sees the state change.
}

bool pluck_tracker::advance(int n, bool spare, pluck_estimate &out) {
    last_units_ = 0;
    if (n <= 0)
        return false;
    if (candidate_ >= 0) {
        if (pending_ && candidate_ < waiting_.release_sample + confirm_)
            pending_ = false; // that note was the finger's push
        begin_note(candidate_);
        candidate_ = -1;
    }
    if (pending_ && total_ >= waiting_.release_sample + confirm_) {
        pending_ = false;
        out = waiting_;
        return true;
    }
    if (state_ == state::idle)
        return false;
    const int64_t whole = int64_t{units_per_sample} * std::min(n, max_block_);
    int64_t budget = whole;
    bool concluded = false;
    // A stretch without a release edge or without a clear period is no note (noise, a push, a
    // knock) and ends silently; a note whose partials or comb cannot be measured ends with
    // {0, f0, 0}.
    pluck_estimate result{0.0, 0.0, 0.0, 0.0, -1};
    last_units_ = 0;
    while (budget > 0 && !concluded && state_ != state::idle) {
        // A designed analysis block leaves the estimate only the light release search.
        if (!spare && state_ != state::search)
            break;
        int64_t spent = 0;
        switch (state_) {
        case state::idle:
            break;
        case state::search:
            // Light: a few operations per input sample, so it also runs in busy blocks.
            spent = step_search(spare ? budget : n);
            if (!spare)
                budget = 0;
            if (state_ == state::search && cursor_ == total_)
                budget = 0; // waiting for input
            break;
        case state::release:
            spent = step_release(budget);
            break;
        case state::rough_wait:
            if (total_ - window_start_ < stretch_[stretch_index_]) {
                budget = 0;
                break;
            }
            decimated_len_ = std::min(stretch_[stretch_index_] / decimation_,
                                      static_cast<int>(decimated_.size()));
            if (window_start_ < total_ - (mask_ + 1)) { // overwritten: cannot happen by sizing
                fail(0.0);
                break;
            }
            if (stretch_index_ == 0) {
                filtered_to_ = window_start_;
                for (section &b : lowpass_)
                    b.z1 = b.z2 = 0.0;
            }
            state_ = state::rough_decimate;
            break;
        case state::rough_decimate:
            spent = step_decimate(budget);
            break;
        case state::rough_period:
            spent = period_.step(budget);
            if (period_.done() && !conclude_period())
                fail(0.0);
            break;
        case state::window_wait:
            hann_c_ = std::cos(M_PI * 0.5 / window_len_);
            hann_s_ = std::sin(M_PI * 0.5 / window_len_);
            hann_rc_ = std::cos(M_PI / window_len_);
            hann_rs_ = std::sin(M_PI / window_len_);
            cursor_ = 0;
            zeroed_ = 0;
            state_ = state::window;
            break;
        case state::window:
            if (window_start_ + cursor_ < total_ - (mask_ + 1)) { // overwritten: not by sizing
                fail(0.0);
                break;
            }
            spent = step_window(budget);
            if (state_ == state::window && zeroed_ == fft_len_ / 2 &&
                cursor_ == total_ - window_start_)
                budget = 0; // waiting for input
            break;
        case state::transform:
            spent = fft_.step(budget);
            if (fft_.done()) {
                f0_ = sr_ / period_samples_;
                inharmonicity_ = 0.0;
                partial_ = 1;
                partial_count_ = 0;
                progress_ = {};
                restarts_ = 0;
                state_ = state::partials;
            }
            break;
        case state::partials:
            spent = step_partials(budget);
            if (state_ == state::idle) {
                concluded = true;
                result = {0.0, f0_, 0.0, 0.0, release_};
            }
            break;
        case state::prepare_fit:
            // A few dozen exponentials and logarithms that cannot be sliced: they run where the
            // rest of the budget holds them, or first in a block.
            if (budget < fit_setup_units && budget < whole) {
                budget = 0;
                break;
            }
            start_fit();
            spent = fit_setup_units;
            if (state_ == state::idle) {
                concluded = true;
                result = {0.0, f0_, 0.0, 0.0, release_};
            }
            break;
        case state::fit:
            spent = fit_.step(budget);
            if (fit_.done()) {
                result = conclude();
                state_ = state::idle;
                concluded = true;
            }
            break;
        }
        if (!spare && state_ != state::search)
            budget = 0; // only the light first step in a busy block
        budget -= std::max<int64_t>(spent, 0);
        last_units_ += std::max<int64_t>(spent, 0);
    }
    if (!concluded)
        return false;
    if (result.release_sample >= 0 && total_ < result.release_sample + confirm_) {
        waiting_ = result;
        pending_ = true;
        return false;
    }
    out = result;
    return true;
}

} // namespace dsp
