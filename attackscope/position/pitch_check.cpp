#include "position/pitch_check.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <limits>

#include "position/counts.h"

namespace dsp {

namespace {
constexpr int most_fraction = 4, most_divisor = 4, places_looked_at = 12;
constexpr double clear_ratio = 10.0; // 10 dB
constexpr size_t valley_bins = 32;
// Half of the places between the found ones clear, and holding 0.5% of the power (-23 dB): a
// string's odd partials are not all that weak against its even ones, while in a clean recording
// the leakage between a high note's partials stands clear of its valleys too.
constexpr double fraction_share = 0.5, least_power_share = 0.005;
// Or fewer, when those places hold a share of the power no body or ringing string leaves there
// (a high note's few partials, its odd ones weak).
constexpr double held_share = 0.4, held_power_share = 0.05;
constexpr double doubtful_share = 0.34, other_share = 0.6, other_margin = 0.25;
constexpr double peaks_below_hz = 2000.0; // a note's first partials
constexpr double same_series = 0.03;      // a peak this near the found f0 is that series
constexpr double sub_series_slack = 0.1;  // of the share of clear places
constexpr int fraction_candidates = most_fraction - 1;
// f0 m for m = 2..8: the places off the multiples of m hold less than 5% of the power of the
// first 12 m places (a body's resonance or a sympathetic string leaves up to about 4% there), and
// the multiples are a series of clear peaks. No comb of a string empties those places: a string
// plucked or picked up at 1/m of its length empties the multiples instead.
constexpr int most_multiple = 8;
constexpr double off_power_share = 0.05, multiple_share = 0.5;
constexpr int multiple_candidates = most_multiple - 1;
// A partial lies on its place to the found series' error; a peak 4% of f0 off it (measured by the
// derivative window) is something else.
constexpr double on_place = 0.04;
// A string still ringing from before the release: the found series' first places held, in the
// window that ends before the finger touched the string, more than a quarter of the power (per
// window length) they hold now, less than 6 dB of rise; a new note's partials rise far more over
// what rang before. Then the note is looked for among the peaks that rose by 10 dB at least. A
// finger's push before the release also leaves power low down, but no series of clear peaks: most
// of the found places stand clear in that window too.
constexpr double ringing_rise = 4.0, risen = 10.0, ringing_share = 0.6;
// A candidate under a ringing string rose where its power did, or where peaks that rose hold
// half of it: a ringing partial beside one of its places can hold more than all its own
// partials had before.
constexpr double risen_part = 0.5;
// A bin's power (its place in the packed transform, a rotation, two products) and the
// comparisons around it take about as long as four butterflies, as measured.
constexpr int bin_units = 4;
// A place's own arithmetic (its stretched frequency's square root, the window's ends, the
// derivative window's frequency), as measured on a low note's many narrow places.
constexpr int place_units = 14;

// Place k of the series f, b (Hz) in bins of `bin` Hz, and the bins within 0.15 f of it, in a
// transform of half + 1 bins; false where it lies at the top or beyond.
struct place {
    double centre = 0.0;
    int lo = 0, hi = 0;
};
bool place_of(int half, double f, double bin, double b, int k, place &p) {
    const double step = f / bin;
    p.centre = k * f * std::sqrt(1.0 + b * k * k) / bin;
    if (p.centre + 0.15 * step >= half - 1)
        return false;
    p.lo = static_cast<int>(clamped(std::ceil(p.centre - 0.15 * step), 1, half - 1));
    p.hi = static_cast<int>(clamped(std::floor(p.centre + 0.15 * step), p.lo, half - 1));
    return true;
}
} // namespace

void pitch_check::prepare(double sr, double lowest_f0, double highest_f0) {
    sr_ = sr;
    lowest_f0_ = lowest_f0;
    highest_f0_ = highest_f0;
}

void pitch_check::begin(double f0, double inharmonicity, int partials, const spectrum *before) {
    f0_ = f0;
    b_ = inharmonicity;
    partials_ = std::min(partials, places_looked_at);
    before_ = before && before->length() >= 8 ? before : nullptr;
    ringing_ = false;
    cursor_ = -1;
    found_share_ = best_share_ = 0.0;
    peak_count_ = 0;
    corrected_ = 0.0;
    done_ = !(f0_ > 0.0) || partials_ < 1;
}

double pitch_check::clear_share(const spectrum &fine, double f, double b, int count, int skip,
                                int &places, int64_t &units) const {
    places = 0;
    const int half = fine.length() / 2;
    const double bin = sr_ / fine.length(), step = f / bin;
    // Partials f apart must be resolved: three bins at least.
    if (!(f >= lowest_f0_) || step < 3.0 || half < 8)
        return 0.0;
    const auto bins_of = [&](double from, double to, int &lo, int &hi) {
        lo = static_cast<int>(clamped(std::ceil(from), 1, half - 1));
        hi = static_cast<int>(clamped(std::floor(to), lo, half - 1));
        units += bin_units * (hi - lo + 1);
    };
    const auto peak_over = [&](double from, double to) {
        int lo = 0, hi = 0;
        bins_of(from, to, lo, hi);
        double v = fine.power(lo);
        for (int j = lo + 1; j <= hi; j++)
            v = std::max(v, fine.power(j));
        return v;
    };
    // A valley's typical power, its median: the least of n bins of noise lies about n times
    // below the noise's level, so a widely spaced series would find clear places in noise alone.
    // Wider valleys are sampled evenly, to a bounded count.
    const auto valley_over = [&](double from, double to) {
        int lo = 0, hi = 0;
        bins_of(from, to, lo, hi);
        std::array<double, valley_bins> v{};
        const size_t n = static_cast<size_t>(hi - lo + 1), taken = std::min(n, v.size());
        for (size_t i = 0; i < taken; i++)
            v[i] = fine.power(lo + static_cast<int>(i * n / taken));
        const auto middle = v.begin() + static_cast<std::ptrdiff_t>(taken / 2);
        std::nth_element(v.begin(), middle, v.begin() + static_cast<std::ptrdiff_t>(taken));
        return *middle;
    };
    int clear = 0;
    for (int k = 1; k <= count; k++) {
        if (skip > 1 && k % skip == 0)
            continue;
        const double centre = k * f * std::sqrt(1.0 + b * k * k) / bin;
        if (centre + 0.55 * step >= half - 1)
            break;
        places++;
        units += place_units;
        const double peak = peak_over(centre - 0.15 * step, centre + 0.15 * step);
        const double below = valley_over(centre - 0.55 * step, centre - 0.35 * step);
        const double above = valley_over(centre + 0.35 * step, centre + 0.55 * step);
        clear += peak > clear_ratio * std::max(below, above);
    }
    return places > 0 ? static_cast<double>(clear) / places : 0.0;
}

double pitch_check::off_share(const spectrum &fine, double f, double b, int m, int count,
                              int64_t &units) const {
    const int half = fine.length() / 2;
    const double bin = sr_ / fine.length(), step = f / bin;
    if (step < 3.0 || half < 8)
        return 1.0;
    double on = 0.0, off = 0.0;
    place at;
    for (int k = 1; k <= count && place_of(half, f, bin, b, k, at); k++) {
        const int best = fine.strongest(at.lo, at.hi);
        if (k % m == 0)
            on += fine.power(best);
        else if (std::fabs(fine.peak_frequency(best) - at.centre) <= on_place * step)
            off += fine.power(best); // a body's resonance beside the place is no partial
        units += bin_units * (at.hi - at.lo + 1) + place_units;
    }
    return on + off > 0.0 ? off / (on + off) : 1.0;
}

double pitch_check::before_power(const spectrum &fine, double hz, double width_hz,
                                 int64_t &units) const {
    // Per squared window length: a partial's power grows so with the window.
    const double bin = sr_ / before_->length();
    const int half = before_->length() / 2;
    const int lo = static_cast<int>(clamped(std::ceil((hz - width_hz) / bin), 1, half - 1));
    const int hi = static_cast<int>(clamped(std::floor((hz + width_hz) / bin), lo, half - 1));
    units += bin_units * (hi - lo + 1);
    const double lf = fine.window(), lb = before_->window();
    return before_->power(before_->strongest(lo, hi)) * (lf * lf) / (lb * lb);
}

double pitch_check::series_rise(const spectrum &fine, double f, double b, int64_t &units) const {
    const int half = fine.length() / 2;
    const double bin = sr_ / fine.length();
    double now = 0.0, then = 0.0;
    place at;
    for (int k = 1; k <= places_looked_at && place_of(half, f, bin, b, k, at); k++) {
        now += fine.power(fine.strongest(at.lo, at.hi));
        then += before_power(fine, at.centre * bin, 0.15 * f, units);
        units += bin_units * (at.hi - at.lo + 1) + place_units;
    }
    return then > 0.0 ? now / then : std::numeric_limits<double>::infinity();
}

bool pitch_check::series_rose(const spectrum &fine, double f, double b, int between,
                              int64_t &units) const {
    const int half = fine.length() / 2;
    const double bin = sr_ / fine.length();
    double all = 0.0, then = 0.0;
    int counted = 0, rose = 0;
    // What stood before at a peak: the earlier window's strongest bin within 1.5 of its bins.
    const double width = 1.5 * sr_ / before_->length();
    place at;
    for (int k = 1; k <= places_looked_at && place_of(half, f, bin, b, k, at); k++) {
        if (between > 1 && k % between == 0)
            continue;
        // The place's strongest peak, and the strongest of its peaks that rose over what stood
        // at it before: a ringing partial beside the place may be stronger than this series'.
        const int peak = fine.strongest(at.lo, at.hi);
        const double now = fine.power(peak);
        double risen_peak = 0.0;
        for (int j = std::max(at.lo, 1); j <= std::min(at.hi, half - 2); j++) {
            const double p = fine.power(j);
            if (p > risen_peak && p > fine.power(j - 1) && p >= fine.power(j + 1) &&
                p >= ringing_rise * before_power(fine, j * bin, width, units))
                risen_peak = p;
        }
        all += now;
        then += before_power(fine, peak * bin, width, units);
        counted++;
        rose += risen_peak > 0.0;
        units += 3 * bin_units * (at.hi - at.lo + 1) + place_units;
    }
    return !(then > 0.0) || !(all > 0.0) || all >= ringing_rise * then ||
           rose >= risen_part * counted;
}

void pitch_check::strongest_peaks(const spectrum &fine, int64_t &units) {
    // The three largest local maxima from the lowest fundamental to 2 kHz, none within 3% of
    // the found fundamental (that series was judged already).
    const double bin = sr_ / fine.length();
    const int half = fine.length() / 2;
    const int lo = static_cast<int>(clamped(std::floor(lowest_f0_ / bin), 1, half - 2));
    const int hi = static_cast<int>(clamped(std::ceil(peaks_below_hz / bin), lo, half - 2));
    double power[3] = {};
    peak_count_ = 0;
    for (int k = lo; k <= hi; k++) {
        const double p = fine.power(k);
        if (!(p > fine.power(k - 1) && p >= fine.power(k + 1)))
            continue;
        const double hz = k * bin;
        if (std::fabs(hz / f0_ - 1.0) < same_series)
            continue;
        if (ringing_ && p < risen * before_power(fine, hz, 1.5 * bin, units))
            continue; // it rang before the release
        int at = peak_count_ < 3 ? peak_count_ : 3;
        while (at > 0 && power[at - 1] < p)
            at--;
        if (at >= 3)
            continue;
        for (int j = std::min(peak_count_, 2); j > at; j--) {
            power[j] = power[j - 1];
            peaks_[j] = peaks_[j - 1];
        }
        power[at] = p;
        const double exact = fine.peak_frequency(k); // the bin alone is a few % off for k < 30
        peaks_[at] = std::isfinite(exact) && std::fabs(exact - k) <= 1.0 ? exact * bin : hz;
        peak_count_ = std::min(3, peak_count_ + 1);
    }
    units += 3 * bin_units * (hi - lo + 1);
}

stage_step pitch_check::step(const spectrum &fine, int64_t budget) {
    int64_t units = 1;
    while (!done_ && units < budget) {
        int places = 0;
        if (cursor_ < 0) {
            // Whether the series followed rang before the release.
            cursor_ = 0;
            if (before_ && series_rise(fine, f0_, b_, units) < ringing_rise &&
                clear_share(*before_, f0_, b_, places_looked_at, 1, places, units) >=
                    ringing_share) {
                ringing_ = true;
                found_share_ = 0.0;
                strongest_peaks(fine, units);
                cursor_ = fraction_candidates + multiple_candidates;
            }
            continue;
        }
        if (cursor_ < fraction_candidates) {
            // f0 / m, judged on the places between the found partials.
            const int m = cursor_ + 2;
            const double share =
                clear_share(fine, f0_ / m, b_ / (m * m), m * partials_, m, places, units);
            const double power = share >= held_share ? off_share(fine, f0_ / m, b_ / (m * m), m,
                                                                 m * partials_, units)
                                                     : 0.0;
            const bool held = (share >= fraction_share && power >= least_power_share) ||
                              (share >= held_share && power >= held_power_share);
            if (places >= 3 && held && f0_ / m >= lowest_f0_)
                corrected_ = f0_ / m; // the larger m that passes is the true one
            cursor_++;
            if (cursor_ == fraction_candidates && corrected_ > 0.0)
                done_ = true;
            continue;
        }
        if (cursor_ < fraction_candidates + multiple_candidates) {
            // f0 m, judged on the power left off its places.
            const int m = cursor_ - fraction_candidates + 2;
            const double f = f0_ * m;
            if (f <= highest_f0_ &&
                off_share(fine, f0_, b_, m, places_looked_at * m, units) < off_power_share &&
                clear_share(fine, f, b_ * m * m, places_looked_at, 1, places, units) >=
                    multiple_share &&
                places >= 3)
                corrected_ = f; // the larger m that passes is the true one
            cursor_++;
            if (cursor_ == fraction_candidates + multiple_candidates) {
                if (corrected_ > 0.0) {
                    done_ = true;
                } else {
                    found_share_ = clear_share(fine, f0_, b_, places_looked_at, 1, places, units);
                    if (found_share_ >= doubtful_share || places < 3)
                        done_ = true;
                    else
                        strongest_peaks(fine, units);
                }
            }
            continue;
        }
        const int index = cursor_ - fraction_candidates - multiple_candidates,
                  peak = index / most_divisor;
        if (peak >= peak_count_) {
            done_ = true;
            break;
        }
        const double f = peaks_[peak] / (index % most_divisor + 1);
        if (f >= lowest_f0_ && f <= highest_f0_) {
            // B is not known for another series: a plain one over the first places.
            const double share = clear_share(fine, f, 0.0, places_looked_at, 1, places, units);
            // A series f0 / k whose places stand nearly as clear as those of the best so far, f0,
            // holds its partials and the ones between: it is the note's.
            const double r = corrected_ / f;
            const bool below = corrected_ > 0.0 && std::round(r) >= 2.0 &&
                               std::fabs(r / std::round(r) - 1.0) < same_series &&
                               share >= best_share_ - sub_series_slack;
            // Under a ringing string most of a candidate's power must have risen, and that of a
            // series below the best, its places between (the ringing string's partials can make
            // them stand clear).
            const bool rang =
                ringing_ &&
                (!series_rose(fine, f, 0.0, 0, units) ||
                 (below && !series_rose(fine, f, 0.0, static_cast<int>(std::round(r)), units)));
            if (places >= 3 && share >= other_share && share >= found_share_ + other_margin &&
                (share > best_share_ || below) && !rang) {
                best_share_ = share;
                corrected_ = f;
            }
        }
        cursor_++;
    }
    return {units, done_ ? stage_state::done : stage_state::running};
}

} // namespace dsp
