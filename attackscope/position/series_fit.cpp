#include "position/series_fit.h"

#include <algorithm>
#include <cmath>

namespace dsp {

namespace {
constexpr double significant_stretch = 0.2; // share of the series' misfit a stretch must explain
constexpr double largest_stretch = 2e-3;    // B of the stiffest wound string is far below
} // namespace

void series_fit::add(double n, double freq, double w) {
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

bool series_fit::solve(double &f0, double &b) const {
    if (found == 0 || !(sw > 0.0))
        return false;
    double a = su / sw, slope = 0.0;
    if (found >= 4 && highest >= 8) {
        const double det = sw * svv - sv * sv;
        const double plain = suu - su * su / sw;
        const double line = det > 0.0 && std::isfinite(det) ? (sw * suv - sv * su) / det : 0.0;
        const double explained = line * (suv - su * sv / sw);
        if (line > 0.0 && explained > significant_stretch * plain) {
            slope = line;
            a = (su - slope * sv) / sw;
        }
    }
    double B = a > 0.0 ? slope / a : 0.0;
    if (!(B >= 0.0 && B <= largest_stretch)) {
        B = std::clamp(std::isfinite(B) ? B : 0.0, 0.0, largest_stretch);
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

} // namespace dsp
