#include "position/confidence.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace dsp {

pluck_estimate judge(const comb_fit &fit, const note_measures &m) {
    const auto closeness = [](double v, double scale) {
        return std::exp(-(v / scale) * (v / scale));
    };
    const double q_fit = closeness(fit.residual(), 0.6);
    const double q_series = closeness(m.spread, 0.02);
    const double q_period = closeness(m.aperiodicity, 0.2);
    double confidence = q_fit * q_series * q_period;
    if (!std::isfinite(confidence) || !m.clean)
        confidence = 0.0;
    double position = fit.position(), other = fit.pickup();
    if (!(position > 0.0 && position <= 0.5))
        return {0.0, m.f0, 0.0, 0.0, m.release};
    if (m.pickup > 0.0 && other > 0.0 &&
        std::fabs(position - m.pickup) < std::fabs(other - m.pickup))
        std::swap(position, other);
    return {position, m.f0, std::clamp(confidence, 0.0, 1.0), other, m.release};
}

} // namespace dsp
