#include "position/confidence.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace dsp {

namespace {
// Fitted on the modelled strings of seed 2 (position_model_eval --seed 2 --notes), held out on
// seed 1.
constexpr double fitted_intercept = -7.679, fitted_margin = 1.530, fitted_residual = -2.996,
                 fitted_used = 3.272, fitted_f0 = 0.644;
// A string's partials lie within 0.01 f0 of its series and its rough period's aperiodicity
// below 0.3, even in noise at -45 dBFS or under another string ringing: there the factors for
// what is no string leave the confidence alone.
constexpr double string_spread = 0.01, string_aperiodicity = 0.3;
// Confidence 1 - 5 x the chance: 0.5 at a chance of 10%, 0 at 20% or more.
constexpr double wrong_scale = 5.0;
} // namespace

pluck_estimate judge(const comb_fit &fit, const note_measures &m) {
    const auto closeness = [](double v, double scale) {
        return std::exp(-(v / scale) * (v / scale));
    };
    // The chance of an error beyond 0.02, by a logistic model fitted on modelled strings (see
    // bench/position/fit_confidence.py): a comb that stands out clearly, fits closely and
    // rests on many harmonics is rarely wrong; the pitch term weighs the harmonics' count for
    // the note's range (a high note has few however well it is measured).
    const double z = fitted_intercept + fitted_margin * std::log(std::max(fit.margin(), 1.0)) +
                     fitted_residual * fit.residual() +
                     fitted_used * std::log(std::max(fit.used(), 1)) +
                     fitted_f0 * std::log(std::max(m.f0, 1.0) / 100.0);
    const double wrong = 1.0 / (1.0 + std::exp(z));
    // Beyond the model: a series that is no string's (a bar, a chord) or no clear period
    // (noise) are held down.
    const double q_series = closeness(std::max(0.0, m.spread - string_spread), 0.02);
    const double q_period = closeness(std::max(0.0, m.aperiodicity - string_aperiodicity), 0.2);
    double confidence = std::max(0.0, 1.0 - wrong_scale * wrong) * q_series * q_period;
    if (!std::isfinite(confidence) || !m.clean)
        confidence = 0.0;
    double position = fit.position(), other = fit.pickup();
    if (!(position > 0.0 && position <= 0.5))
        return {0.0, m.f0, 0.0, 0.0, m.release};
    if (m.pickup > 0.0 && other > 0.0 &&
        std::fabs(position - m.pickup) < std::fabs(other - m.pickup))
        std::swap(position, other);
    // A comb whose first notch, at harmonic 1 / position, lies beyond the harmonics the fit
    // used was not seen: such a position says only "near an end".
    const double notch_seen = (position * fit.used() - 1.0) / 0.5;
    confidence *= std::clamp(notch_seen, 0.0, 1.0);
    return {position, m.f0, std::clamp(confidence, 0.0, 1.0), other, m.release};
}

} // namespace dsp
