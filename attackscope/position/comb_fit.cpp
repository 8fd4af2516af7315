#include "position/comb_fit.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

namespace dsp {

namespace {

constexpr double none = -1.0; // gamma: no second comb
constexpr int coarse_count = 99;
constexpr double coarse_first = 0.01, coarse_step = 0.005;
constexpr int pickup_count = comb_fit::pickup_places;
constexpr double pickup_step = 0.01;
// The coarse places are judged with the notches made shallow (the comb plus half its peak, so
// a notch is 9.5 dB deep): the pair's residual swings from place to place as notches land on
// whole harmonics or between them, and the candidate's own comb, placed only to 0.005, lays its
// notches up to a harmonic off the true ones over 48 harmonics, so exact combs at 0.01 apart
// show the true pair's basin as no minimum at all (a pickup comb at 0.142 taken for the pluck,
// beside a pluck at 0.298: 0.30 fits worse than a place that fits nothing). A comb with at most
// two notches among the harmonics (near the end, where it is mostly the 1/n of its first
// hump) is judged exactly too, and that trial competes: the shallow notches there only bend
// its slope.
// Then, for each candidate, 11 places 0.001 apart (halfway to the coarse places either side)
// around the best coarse place and 11 around the best other local minimum, judged exactly. A
// comb near the end has its first notch at harmonic 1 / gamma, which a step of 0.01 moves by
// gamma^-2 / 100 harmonics (1.6 at 0.08); a comb farther out puts its k-th notch at k / gamma,
// which a coarse place 0.0027 off the true one moves by up to half a harmonic over 48.
constexpr double coarse_notch = 0.5;
constexpr int pickup_fine_count = 11, pickup_second_count = 11;
constexpr double pickup_fine_step = 0.001;
constexpr double pair_cost = 1.5; // what a second comb must earn, in units of ln(n)
// A known pickup: 21 places 0.001 apart around the one stated (its aperture and a user's
// measurement leave it a little off).
constexpr int known_count = 21;
constexpr double known_step = 0.001;
constexpr double margin_distance = 0.03; // beyond the fit's usual error on a real string
constexpr int bend_harmonics = 12;       // the envelope bends only over this many at least
// The refinement's rounds (see the stage), their places and steps; a fine round is centred.
constexpr int refine_counts[4] = {coarse_count, 21, 21, 21};
constexpr double refine_steps[4] = {coarse_step, 0.001, 0.001, 0.0002};
constexpr int refine_half = 10;

// ln(x) for finite x > 0 to about 1e-7, without a library call: the fit takes one per
// harmonic and trial. Anything else gives a large negative value rather than NaN.
double quick_log(double x) {
    if (!(x > 1e-300) || !(x < 1e300))
        return x > 1.0 ? 690.0 : -690.0;
    const auto bits = std::bit_cast<uint64_t>(x);
    int exponent = static_cast<int>((bits >> 52) & 0x7ff) - 1023;
    double m = std::bit_cast<double>((bits & 0x000fffffffffffffull) | 0x3ff0000000000000ull);
    if (m > 1.4142135623730951) { // keep m in [0.707, 1.414): the series then converges fast
        m *= 0.5;
        exponent++;
    }
    const double z = (m - 1.0) / (m + 1.0), z2 = z * z;
    const double series =
        z * (2.0 + z2 * (2.0 / 3 + z2 * (2.0 / 5 + z2 * (2.0 / 7 + z2 * (2.0 / 9)))));
    return exponent * 0.6931471805599453 + series;
}

// Gauss-Jordan with partial pivoting; false when the matrix is singular or not finite.
bool invert(const double (&m)[comb_fit::terms][comb_fit::terms],
            double (&out)[comb_fit::terms][comb_fit::terms]) {
    constexpr int n = comb_fit::terms;
    double a[n][2 * n] = {};
    for (int r = 0; r < n; r++)
        for (int c = 0; c < n; c++) {
            a[r][c] = m[r][c];
            a[r][n + c] = r == c ? 1.0 : 0.0;
        }
    for (int col = 0; col < n; col++) {
        int pivot = col;
        for (int r = col + 1; r < n; r++)
            if (std::fabs(a[r][col]) > std::fabs(a[pivot][col]))
                pivot = r;
        if (!(std::fabs(a[pivot][col]) > 0.0) || !std::isfinite(a[pivot][col]))
            return false;
        for (int c = 0; c < 2 * n; c++)
            std::swap(a[col][c], a[pivot][c]);
        const double scale = 1.0 / a[col][col];
        for (int c = 0; c < 2 * n; c++)
            a[col][c] *= scale;
        for (int r = 0; r < n; r++) {
            if (r == col)
                continue;
            const double f = a[r][col];
            for (int c = 0; c < 2 * n; c++)
                a[r][c] -= f * a[col][c];
        }
    }
    for (int r = 0; r < n; r++)
        for (int c = 0; c < n; c++) {
            if (!std::isfinite(a[r][n + c]))
                return false;
            out[r][c] = a[r][n + c];
        }
    return true;
}

} // namespace

void comb_fit::start(const double *y, const double *weight, const double *eps, int count,
                     double known_pickup) {
    known_gamma_ = known_pickup > 0.0 && known_pickup <= 0.5 ? known_pickup : 0.0;
    count_ = count < 0 ? 0 : (count > max_harmonics ? max_harmonics : count);
    weight_sum_ = 0.0;
    for (int i = 0; i < count_; i++) {
        const bool finite = std::isfinite(y[i]) && std::isfinite(weight[i]) &&
                            std::isfinite(eps[i]) && weight[i] > 0.0 && eps[i] > 0.0;
        y_[i] = finite ? y[i] : 0.0;
        w_[i] = finite ? weight[i] : 0.0;
        eps_[i] = finite ? eps[i] : 1.0;
        log_n_[i] = quick_log(i + 1.0);
        weight_sum_ += w_[i];
    }
    int used = 0;
    for (int i = 0; i < count_; i++)
        used += w_[i] > 0.0;
    used_ = used;
    margin_ = 1.0;
    solvable_ = used >= 5 && envelope_inverse(-1, inverse_);
    beta_ = gamma_ = 0.0;
    residual_ = std::numeric_limits<double>::infinity();
    stage_ = solvable_ ? stage::coarse : stage::done;
    cursor_ = 0;
    refine_round_ = 0;
    cand_rss_[0] = cand_rss_[1] = std::numeric_limits<double>::infinity();
}

bool comb_fit::envelope_inverse(int skip, double (&out)[terms][terms]) const {
    double g[terms][terms] = {};
    double weight_sum = 0.0;
    for (int i = 0; i < count_; i++) {
        if (i == skip)
            continue;
        const double n = i + 1.0;
        const double phi[terms] = {1.0, log_n_[i], n, n * n};
        for (int r = 0; r < terms; r++)
            for (int c = 0; c < terms; c++)
                g[r][c] += w_[i] * phi[r] * phi[c];
        weight_sum += w_[i];
    }
    // A small ridge keeps the inverse defined with few harmonics; it barely moves a real fit.
    for (int r = 0; r < terms; r++)
        g[r][r] += 1e-9 * (weight_sum + 1.0) * (1.0 + g[r][r]);
    // The curvature term pays a hundredth of its own weighted square: cheap enough to take up
    // the smooth fall of a wide finger, a slow release or a low-pass, too dear to follow a few
    // high partials (free, it drew the keys of one recording to different places). Over fewer
    // than a dozen harmonics it is all but barred: there a bend follows the comb's own hump
    // between the end and its first notch as well as the comb does, and took a high note's
    // pluck (or, beside it, a second comb) for one. The charge is the whole fit's, also where
    // a harmonic is left out.
    g[3][3] *= used_ < bend_harmonics ? 1e4 : 1.01;
    return invert(g, out);
}

void comb_fit::comb_residuals(double beta, double gamma, double *r, double shallowest) const {
    // sin(n*theta) by the recurrence s[n+1] = 2 cos(theta) s[n] - s[n-1]: exact enough for the
    // few dozen harmonics used.
    const double tb = M_PI * beta, tg = M_PI * gamma;
    const double kb = 2.0 * std::cos(tb), kg = 2.0 * std::cos(tg);
    double sb0 = 0.0, sb1 = std::sin(tb), sg0 = 0.0, sg1 = std::sin(tg);
    const bool single = gamma < 0.0;
    for (int i = 0; i < count_; i++) {
        const double comb = single ? std::fabs(sb1) : std::fabs(sb1 * sg1);
        r[i] = y_[i] - quick_log(comb + std::fmax(eps_[i], shallowest));
        const double sb2 = kb * sb1 - sb0, sg2 = kg * sg1 - sg0;
        sb0 = sb1;
        sb1 = sb2;
        sg0 = sg1;
        sg1 = sg2;
    }
}

double comb_fit::trial_without_worst(double beta, double gamma) const {
    // A single harmonic off the model (a body's resonance on a low partial, a ringing string's
    // partial, a peak of noise) fits a second comb's notch: the pair must hold without it.
    double r[max_harmonics];
    comb_residuals(beta, gamma, r);
    double b[terms], rr;
    envelope_sums(r, -1, b, rr);
    double c[terms] = {};
    for (int a = 0; a < terms; a++)
        for (int k = 0; k < terms; k++)
            c[a] += inverse_[a][k] * b[k];
    int worst = -1;
    double worst_square = -1.0;
    for (int i = 0; i < count_; i++) {
        const double n = i + 1.0;
        const double e = r[i] - (c[0] + c[1] * log_n_[i] + c[2] * n + c[3] * n * n);
        if (w_[i] > 0.0 && w_[i] * e * e > worst_square) {
            worst_square = w_[i] * e * e;
            worst = i;
        }
    }
    double inverse[terms][terms];
    if (worst < 0 || !envelope_inverse(worst, inverse))
        return std::numeric_limits<double>::infinity();
    envelope_sums(r, worst, b, rr);
    return rr - explained(b, inverse);
}

void comb_fit::envelope_sums(const double *r, int skip, double (&b)[terms], double &rr) const {
    b[0] = b[1] = b[2] = b[3] = rr = 0.0;
    for (int i = 0; i < count_; i++) {
        if (i == skip)
            continue;
        const double wr = w_[i] * r[i];
        b[0] += wr;
        b[1] += wr * log_n_[i];
        b[2] += wr * (i + 1.0);
        b[3] += wr * ((i + 1.0) * (i + 1.0));
        rr += wr * r[i];
    }
}

double comb_fit::explained(const double (&b)[terms], const double (&inverse)[terms][terms]) {
    double sum = 0.0;
    for (int r = 0; r < terms; r++)
        for (int c = 0; c < terms; c++)
            sum += b[r] * inverse[r][c] * b[c];
    return sum;
}

double comb_fit::trial(double beta, double gamma, double shallowest) const {
    double r[max_harmonics];
    comb_residuals(beta, gamma, r, shallowest);
    double b[terms], rr;
    envelope_sums(r, -1, b, rr);
    return rr - explained(b, inverse_);
}

int64_t comb_fit::step(int64_t budget) {
    int64_t spent = 0;
    // Four units a harmonic: its logarithm (a division and a polynomial), the two combs'
    // recurrences and four sums take about as long as four butterflies of the transform.
    const int64_t per_trial = 4 * (count_ > 0 ? count_ : 1);
    // Without its worst harmonic: the trial's residuals, the envelope's, a second normal matrix
    // and its inverse (about as long as 40 butterflies) and the trial again.
    const int64_t per_trimmed = 3 * per_trial + 40;
    while (stage_ != stage::done) {
        const int64_t cost = stage_ == stage::simpler && cursor_ >= 2 ? per_trimmed : per_trial;
        if (spent > 0 && spent + cost > budget)
            break;
        spent += cost;
        switch (stage_) {
        case stage::coarse: {
            coarse_rss_[cursor_] = trial(coarse_first + coarse_step * cursor_,
                                         known_gamma_ > 0.0 ? known_gamma_ : none);
            if (++cursor_ == coarse_count)
                next_stage();
            break;
        }
        case stage::pickup: {
            // cursor_ = candidate * places + j; candidates are the stored ones. A known pickup
            // is looked for only near its stated place; otherwise over the whole string, then
            // finely around the best coarse place and the best other local minimum.
            const bool known = known_gamma_ > 0.0;
            const int count = known ? known_count : pickup_count;
            const int places =
                known ? known_count : pickup_count + pickup_fine_count + pickup_second_count;
            const int c = cursor_ / places, j = cursor_ % places;
            if (!known && j == count) {
                int best = 0;
                for (int k = 1; k < count; k++)
                    if (gamma_rss_[k] < gamma_rss_[best])
                        best = k;
                fine_centre_ = pickup_step * (best + 1);
                second_centre_ = 0.0;
                double second = std::numeric_limits<double>::infinity();
                for (int k = 0; k < count; k++) {
                    const double g = pickup_step * (k + 1);
                    const bool minimum = (k == 0 || gamma_rss_[k] <= gamma_rss_[k - 1]) &&
                                         (k + 1 == count || gamma_rss_[k] <= gamma_rss_[k + 1]);
                    if (minimum && std::fabs(g - fine_centre_) > 1.5 * pickup_step &&
                        gamma_rss_[k] < second) {
                        second = gamma_rss_[k];
                        second_centre_ = g;
                    }
                }
            }
            if (!known && j == count + pickup_fine_count)
                fine_centre_ = second_centre_; // 0 where there is none: no places then
            const bool first_fine = j < count + pickup_fine_count;
            const int fine_j = first_fine ? j - count : j - count - pickup_fine_count;
            const int around = first_fine ? pickup_fine_count : pickup_second_count;
            const double gamma =
                known       ? std::fmax(0.005, known_gamma_ + known_step * (j - known_count / 2))
                : j < count ? pickup_step * (j + 1)
                            : fine_centre_ + pickup_fine_step * (fine_j - around / 2);
            if (gamma > 0.0 && gamma <= 0.5 && (j < count || fine_centre_ > 0.0)) {
                const bool coarse = !known && j < count;
                double rss = std::numeric_limits<double>::infinity();
                if (coarse) {
                    gamma_rss_[j] = trial(cand_beta_[c], gamma, coarse_notch);
                    if (gamma * count_ < 2.0) {
                        rss = trial(cand_beta_[c], gamma);
                        spent += per_trial;
                    }
                } else {
                    rss = trial(cand_beta_[c], gamma);
                }
                if (rss < cand_rss_[c]) {
                    cand_rss_[c] = rss;
                    cand_gamma_[c] = gamma;
                }
            }
            if (++cursor_ == 2 * places || (cursor_ == places && !(cand_beta_[1] > 0)))
                next_stage();
            break;
        }
        case stage::refine: {
            // Rounds: 0 beta over the coarse grid with the pickup comb found (skipped without
            // one); 1 beta +-0.01 by 0.001; 2 gamma +-0.01 by 0.001; 3 beta +-0.002 by 0.0002.
            // A fine round's middle place is the best so far, whose residual is known.
            const bool on_beta = refine_round_ != 2;
            const double v = refine_place(cursor_);
            double rss = std::numeric_limits<double>::infinity();
            if (refine_round_ > 0 && cursor_ == refine_half) {
                rss = best_rss_;
                spent -= cost;
            } else if (v > 0.0 && v <= 0.5) {
                rss = on_beta ? trial(v, best_gamma_) : trial(best_beta_, v);
            }
            round_rss_[cursor_] = rss;
            if (++cursor_ == refine_counts[refine_round_])
                next_stage();
            break;
        }
        case stage::simpler: {
            // Each comb of the pair alone. A second comb is one more parameter: it is kept only
            // where it lowers n ln(rss) by more than 1.5 ln(n), n the harmonics used (an extra
            // comb always fits a little, the more finely its place is searched; without this one
            // near the middle was found beside the pluck's on strings heard at the bridge, and was
            // reported as the pluck; at ln(n) with the fine places, the keys of one sampled
            // recording, heard through a pickup, took such pairs and agreed 3 points less).
            // Then, where the pair earns that, both again without their worst harmonic: a pair that
            // only fits one harmonic off the model better is none (on the modelled strings +0.3 to
            // +0.4 points within 0.02 on seeds it was not shaped on; the keys of one sampled
            // recording agree 0.2 to 2 points more).
            if (cursor_ < 2) {
                single_rss_[cursor_] = trial(cursor_ == 0 ? best_beta_ : best_gamma_, none);
                if (++cursor_ < 2)
                    break;
                single_ = single_rss_[1] < single_rss_[0] ? 1 : 0;
                if (!earns(single_rss_[single_], best_rss_, used_)) {
                    take_single();
                    finish();
                }
                break;
            }
            if (cursor_ == 2) {
                single_trimmed_ =
                    trial_without_worst(single_ == 0 ? best_beta_ : best_gamma_, none);
                cursor_++;
                break;
            }
            if (!earns(single_trimmed_, trial_without_worst(best_beta_, best_gamma_), used_ - 1))
                take_single();
            finish();
            break;
        }
        case stage::done:
            break;
        }
    }
    return spent;
}

double comb_fit::refine_place(int i) const {
    if (refine_round_ == 0)
        return coarse_first + coarse_step * i;
    const double centre = refine_round_ != 2 ? best_beta_ : best_gamma_;
    return centre + refine_steps[refine_round_] * (i - refine_half); // the middle one is centre
}

bool comb_fit::earns(double single_rss, double pair_rss, int used) {
    const double n = used;
    return !(single_rss * std::exp(-pair_cost * std::log(n) / n) <= pair_rss);
}

void comb_fit::take_single() {
    if (single_ == 1)
        best_beta_ = best_gamma_;
    best_gamma_ = none;
    best_rss_ = single_rss_[single_];
}

void comb_fit::next_stage() {
    const double inf = std::numeric_limits<double>::infinity();
    if (stage_ == stage::coarse) {
        // The two best local minima in beta, apart by more than two grid steps.
        int first = -1, second = -1;
        for (int i = 0; i < coarse_count; i++) {
            const double r = coarse_rss_[i];
            const bool minimum = (i == 0 || r <= coarse_rss_[i - 1]) &&
                                 (i == coarse_count - 1 || r <= coarse_rss_[i + 1]);
            if (!minimum)
                continue;
            if (first < 0 || r < coarse_rss_[first]) {
                if (first >= 0 && std::abs(first - i) > 2)
                    second = first;
                first = i;
            } else if (std::abs(first - i) > 2 && (second < 0 || r < coarse_rss_[second])) {
                second = i;
            }
        }
        for (int c = 0; c < 2; c++) {
            const int i = c == 0 ? first : second;
            cand_beta_[c] = i >= 0 ? coarse_first + coarse_step * i : 0.0;
            cand_gamma_[c] = known_gamma_ > 0.0 ? known_gamma_ : none;
            cand_rss_[c] = i >= 0 ? coarse_rss_[i] : inf;
        }
        stage_ = first >= 0 ? stage::pickup : stage::done;
        cursor_ = 0;
        return;
    }
    if (stage_ == stage::pickup) {
        const int c = cand_rss_[1] < cand_rss_[0] ? 1 : 0;
        best_beta_ = cand_beta_[c];
        best_gamma_ = cand_gamma_[c];
        best_rss_ = cand_rss_[c];
        stage_ = stage::refine;
        // The full rescan of beta is for a pickup far from the end, whose comb can hide the
        // pluck's in the first scan.
        refine_round_ = best_gamma_ >= 0.08 && !(known_gamma_ > 0.0) ? 0 : 1;
        cursor_ = 0;
        return;
    }
    // End of a refinement round: move to its best trial.
    const bool on_beta = refine_round_ != 2;
    int best = -1;
    for (int i = 0; i < refine_counts[refine_round_]; i++)
        if (best < 0 || round_rss_[i] < round_rss_[best])
            best = i;
    // The scan of beta with the pickup comb held judges the margin instead of the first one.
    if (refine_round_ == 0)
        std::copy(round_rss_, round_rss_ + coarse_count, coarse_rss_);
    if (best >= 0 && round_rss_[best] <= best_rss_) {
        double v = refine_place(best);
        if (refine_round_ == 3 && best > 0 && best < refine_counts[3] - 1) {
            const double a = round_rss_[best - 1], b = round_rss_[best], c = round_rss_[best + 1];
            const double curve = a - 2.0 * b + c;
            if (curve > 0.0 && std::isfinite(curve))
                v += refine_steps[3] * std::fmax(-0.5, std::fmin(0.5, 0.5 * (a - c) / curve));
        }
        best_rss_ = round_rss_[best];
        (on_beta ? best_beta_ : best_gamma_) = v;
    }
    refine_round_++;
    if (refine_round_ == 2 && !(best_gamma_ > 0.0))
        refine_round_ = 3;
    cursor_ = 0;
    if (refine_round_ <= 3)
        return;
    if (best_gamma_ > 0.0 && !(known_gamma_ > 0.0)) {
        stage_ = stage::simpler;
        return;
    }
    finish();
}

void comb_fit::finish() {
    stage_ = stage::done;
    const double g = best_gamma_ > 0.0 ? best_gamma_ : 0.0;
    beta_ = std::fmax(best_beta_, g);
    gamma_ = std::fmin(best_beta_, g);
    if (!(best_gamma_ > 0.0))
        gamma_ = 0.0;
    residual_ = std::sqrt(std::fmax(best_rss_, 0.0) / weight_sum_);
    double near = std::numeric_limits<double>::infinity(), far = near;
    for (int i = 0; i < coarse_count; i++) {
        double &least =
            std::fabs(coarse_first + coarse_step * i - beta_) <= margin_distance ? near : far;
        least = std::fmin(least, coarse_rss_[i]);
    }
    margin_ =
        near > 0.0 && std::isfinite(near) && std::isfinite(far) ? std::fmax(1.0, far / near) : 1.0;
}

} // namespace dsp
