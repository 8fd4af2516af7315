#include "position/partial_series.h"

#include <algorithm>
#include <cmath>

#include "position/counts.h"

namespace dsp {

namespace {
constexpr double band = 0.45; // partials are followed up to this fraction of the sample rate
// Either side of the predicted partial, as a fraction of f0: room for the refit's error, short of
// the neighbouring partials at f0 either side.
constexpr double search_width = 0.3;
// The valley towards the next partial: between 0.35 and 0.65 f0 above it, clear of both peaks.
constexpr double valley_from = 0.35, valley_to = 0.65;
// A multiple of the true period: the multiples of m up to 8 are tried; a clear peak stands 10 dB
// above the valley after it; at least 60% of the partials on the multiples stand clear, at most
// 20% of the others.
constexpr int most_multiple = 8;
constexpr double clear_peak = 1.1513; // 10 dB, in nepers
constexpr double on_share = 0.6, off_share = 0.2;
constexpr int most_restarts = 2;
// A peak farther than this from its predicted place (a fraction of f0) does not steer the
// series followed: a body's resonance or a ringing string's partial beside a weak fundamental
// would otherwise take the series with it. A rough period is mostly good to a few tenths of a
// percent (a weak fundamental can leave it 1.6% off, and then the series stops being steered
// from the tenth partial on), and a stiff string's stretch is fitted from the eighth partial on.
constexpr double follow_width = 0.15;
// Around a partial's rough place in the frequency window: the rough place's error, short of
// the neighbours.
constexpr double fine_width = 0.2;
// While the series is followed, a partial's weight grows with its power over the floor up to
// 50 dB; beyond, its place is held by what leaks in beside it (a ringing string's partials, a
// body's resonance), not by noise. At 80 dB the strongest partial steered the search alone; at
// 40 dB a weak second partial 7% off its place took a sampled harp note's series with it.
constexpr double weight_cap = 1e5;
// In the final fit only up to 40 dB: a strong partial's place is pulled by what leaks in beside
// it, a ringing string's partials within the window's main lobe or a body's resonance, 30 to 40
// dB below it (at 80 dB a ringing string that pulled the fundamental of the note 1% set its f0
// there). The fit so rests on many partials, not on the strongest.
constexpr double fit_weight_cap = 1e4;
// The final series fit: rounds, and what counts as far off the series (in f_n / n, units of f0):
// five times the median deviation, and never below the 1e-4 the derivative window reaches.
constexpr int outlier_rounds = 3;
constexpr double outlier_factor = 5.0, outlier_floor = 1e-4;
} // namespace

void partial_series::prepare(double sr, double highest_f0) {
    sr_ = sr;
    highest_f0_ = highest_f0;
}

void partial_series::begin(double f0, double ringing_f0, double ringing_b) {
    f0_ = f0;
    ringing_f0_ = ringing_f0 > 0.0 ? ringing_f0 : 0.0;
    ringing_b_ = std::max(0.0, ringing_b);
    inharmonicity_ = 0.0;
    partial_ = 1;
    partial_count_ = 0;
    progress_ = {};
    restarts_ = 0;
}

stage_step partial_series::step(const spectrum &s, const spectrum &fine, int64_t budget) {
    const int half = s.length() / 2;
    const double bin = sr_ / s.length(); // Hz
    int64_t spent = 0;
    while (spent < budget) {
        const double n = partial_;
        const double predicted = n * f0_ * std::sqrt(1.0 + inharmonicity_ * n * n);
        const double centre = predicted / bin, width = std::max(1.0, search_width * f0_ / bin);
        const int lo = static_cast<int>(clamped(std::ceil(centre - width), 1, half - 1));
        const int hi = static_cast<int>(clamped(std::floor(centre + width), 1, half - 1));
        if (partial_ > max_partials || predicted > band * sr_ || centre + width > half - 1 ||
            lo > hi) {
            if (restarts_ < most_restarts && restart_on_multiple())
                return {spent + 1, stage_state::running};
            return {spent + 1, stage_state::done};
        }
        const int i = partial_ - 1; // < max_partials, checked above
        const int best = s.strongest(lo, hi);
        const double best_power = s.power(best);
        // lo >= 1 and hi <= half - 1, so best - 1 and best + 1 are bins of the spectrum.
        const double left = s.power(best - 1), right = s.power(best + 1);
        const auto ln = [](double p) { return 0.5 * std::log(p + 1e-300); };
        peak_[i] = best_power > left && best_power > right;
        if (peak_[i]) {
            const double a = ln(left), b = ln(best_power), c = ln(right);
            const double curve = a - 2.0 * b + c;
            double d = curve < 0.0 ? 0.5 * (a - c) / curve : 0.0;
            d = std::clamp(std::isfinite(d) ? d : 0.0, -0.5, 0.5);
            log_amp_[i] = b - 0.25 * (a - c) * d;
            freq_[i] = (best + d) * bin;
            spent += refine_frequency(fine, freq_[i]);
            // Within the frequency window's main lobe of a ringing partial, the peak is that
            // partial's, or pulled by it (but within a quarter of the ringing string's spacing at
            // most, lest its places cover every frequency).
            ringing_[i] =
                on_ringing(freq_[i], std::min(2.0 * sr_ / fine.window(), 0.25 * ringing_f0_));
        } else {
            ringing_[i] = false;
            log_amp_[i] = ln(s.power(static_cast<int>(clamped(std::round(centre), lo, hi))));
            freq_[i] = predicted;
        }
        // What the spectrum holds between partials.
        const int vlo =
            static_cast<int>(clamped(std::ceil(centre + valley_from * f0_ / bin), 1, half - 1));
        const int vhi =
            static_cast<int>(clamped(std::floor(centre + valley_to * f0_ / bin), vlo, half - 1));
        double valley = s.power(vlo);
        for (int k = vlo + 1; k <= vhi; k++)
            valley = std::min(valley, s.power(k));
        valley_[i] = ln(valley);
        // A bin a unit; the four logarithms, the exponential, the square roots and the series'
        // refit take about as long as 96 butterflies.
        spent += (hi - lo + 1) + (vhi - vlo + 1) + 96;
        partial_count_ = partial_;
        partial_++;
        power_[i] = std::exp(2.0 * log_amp_[i]);
        if (peak_[i] && !ringing_[i] && std::fabs(freq_[i] - predicted) <= follow_width * f0_) {
            // As in the final fit: errors in f_n / n shrink as 1/n, and a peak near its valley
            // is pulled by leakage and noise.
            const double snr = std::exp(2.0 * (log_amp_[i] - valley_[i]));
            progress_.add(n, freq_[i], n * n * std::min(1.0, snr / weight_cap));
            progress_.solve(f0_, inharmonicity_);
        }
    }
    return {spent, stage_state::running};
}

int partial_series::refine_frequency(const spectrum &fine, double &freq) const {
    // The frequency window's own peak near the rough place, then its derivative window's
    // frequency there; where another partial's leakage throws that more than a bin off its
    // peak, the rough place stands.
    const int half = fine.length() / 2;
    if (half < 4 || !(freq > 0.0))
        return 1;
    const double bin = sr_ / fine.length();
    const double centre = freq / bin, width = std::max(1.0, fine_width * f0_ / bin);
    const int lo = static_cast<int>(clamped(std::ceil(centre - width), 1, half - 1));
    const int hi = static_cast<int>(clamped(std::floor(centre + width), lo, half - 1));
    const int best = fine.strongest(lo, hi);
    const double exact = fine.peak_frequency(best);
    if (std::fabs(exact - best) <= 1.0 && std::fabs(exact - centre) <= width)
        freq = exact * bin;
    return hi - lo + 4;
}

bool partial_series::on_ringing(double hz, double tolerance_hz) const {
    if (!(ringing_f0_ > 0.0) || !(hz > 0.0))
        return false;
    // The stretched series' index near hz: k f sqrt(1 + B k^2) = hz, solved by two rounds.
    double k = hz / ringing_f0_;
    for (int round = 0; round < 2; round++)
        k = hz / (ringing_f0_ * std::sqrt(1.0 + ringing_b_ * k * k));
    const double nearest = std::max(1.0, std::round(k));
    for (double j = std::max(1.0, nearest - 1.0); j <= nearest + 1.0; j++)
        if (std::fabs(j * ringing_f0_ * std::sqrt(1.0 + ringing_b_ * j * j) - hz) <= tolerance_hz)
            return true;
    return false;
}

bool partial_series::restart_on_multiple() {
    // A string's own comb never empties the partials off a multiple m (at beta = 1/2 it empties
    // the even ones, at beta = 1/3 every third, but never the ones between). A rough period of m
    // true periods leaves clear peaks only on the multiples of m: most of those stand clear,
    // few of the others (a body's resonance or a ringing string may leave one). The largest
    // such m is the true one (its multiples pass too).
    const auto clear = [this](int i) { return peak_[i] && log_amp_[i] - valley_[i] >= clear_peak; };
    int best = 0;
    for (int m = 2; m <= most_multiple; m++) {
        if (partial_count_ < 3 * m || f0_ * m > highest_f0_)
            break;
        int on = 0, on_clear = 0, off = 0, off_clear = 0;
        for (int i = 0; i < partial_count_; i++) {
            const bool multiple = (i + 1) % m == 0;
            (multiple ? on : off)++;
            (multiple ? on_clear : off_clear) += clear(i);
        }
        if (on_clear >= on_share * on && off_clear <= off_share * off)
            best = m;
    }
    if (best == 0)
        return false;
    f0_ *= best;
    inharmonicity_ = 0.0;
    partial_ = 1;
    partial_count_ = 0;
    progress_ = {};
    restarts_++;
    return true;
}

void partial_series::final_series_fit() {
    // Frequency errors shrink as 1/n in f_n / n and as a partial stands above the floor (noise
    // and leakage pull it), but grow with n in f_n (a higher partial decays faster and lies among
    // more of a body's resonances): weights n times its power over the floor. (Weights n^2, with
    // this cap, let the twenty high partials of a sampled steel string, whose series drifts from a
    // stiff string's above its tenth, take a stretch of 1.2e-3 and f0 3% low.) A partial far off
    // the fitted series (pulled by a body's resonance, a ringing string's partial or a wrong peak)
    // is left out of the next round.
    const double floor_power = std::exp(2.0 * floor_);
    bool kept[max_partials];
    for (int i = 0; i < partial_count_; i++)
        kept[i] = peak_[i] && !ringing_[i];
    for (int round = 0; round < outlier_rounds; round++) {
        series_fit fit;
        for (int i = 0; i < partial_count_; i++)
            if (kept[i]) {
                const double n = i + 1.0;
                fit.add(n, freq_[i], n * std::min(1.0, power_[i] / (fit_weight_cap * floor_power)));
            }
        double f0 = f0_, b = inharmonicity_;
        if (!fit.solve(f0, b))
            break;
        f0_ = f0;
        inharmonicity_ = b;
        if (round + 1 == outlier_rounds)
            break;
        // Deviations in f_n / n, in units of f0; the strong partials' median sets the scale.
        double dev[max_partials], sorted[max_partials];
        int m = 0;
        for (int i = 0; i < partial_count_; i++) {
            const double n = i + 1.0;
            dev[i] = std::fabs(freq_[i] / n - f0_ * std::sqrt(1.0 + inharmonicity_ * n * n)) / f0_;
            if (kept[i] && log_amp_[i] >= floor_ + std::log(10.0))
                sorted[m++] = dev[i];
        }
        if (m < 3)
            break;
        std::nth_element(sorted, sorted + m / 2, sorted + m);
        const double limit = std::max(outlier_floor, outlier_factor * sorted[m / 2]);
        for (int i = 0; i < partial_count_; i++)
            kept[i] = peak_[i] && !ringing_[i] && dev[i] <= limit;
    }
}

bool partial_series::finish(double *y, double *weight, double *eps) {
    const int count = partial_count_;
    if (count < 1 || !(f0_ > 0.0))
        return false;
    // The floor: the median valley between partials.
    double sorted[max_partials];
    for (int i = 0; i < count; i++)
        sorted[i] = valley_[i];
    std::sort(sorted, sorted + count);
    floor_ = sorted[count / 2];
    final_series_fit();
    for (int i = 0; i < count; i++) {
        double env = log_amp_[i]; // the upper envelope: the largest within two partials
        for (int j = std::max(0, i - 2); j <= std::min(count - 1, i + 2); j++)
            env = std::max(env, log_amp_[j]);
        y[i] = std::max(log_amp_[i], floor_);
        // A partial counts where its neighbourhood stands 17 dB above the floor; below, its own
        // amplitude says nothing, so the comb model is held at the floor there. (The floor is the
        // valleys' least power: noise's largest within a partial's place stands about 11 dB above
        // it, the largest of five such about 17 dB.)
        weight[i] = env > floor_ + std::log(7.0) ? 1.0 : 0.0;
        eps[i] = std::clamp(std::exp(floor_ - env), 1e-4, 1.0);
    }
    // Only the partials 20 dB above the floor: weaker ones are pulled by noise and leakage.
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
    return true;
}

} // namespace dsp
