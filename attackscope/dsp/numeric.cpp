#include "dsp/numeric.h"

#include <cmath>

namespace dsp {

double parabolic_offset(const double *y) {
    double y0 = y[0];
    double d = (y0 - 2 * y[1]) + y[2];
    if (d == 0) {
        // A flat curvature (three equal values, say) is nudged by 1 / (2^31 - 1) instead of
        // divided by: for values of moderate size the vertex then lands half a sample toward
        // y[2]; where the nudge is lost in rounding, the NaN below gives 0.
        y0 += 1.0 / 2147483647.0;
        d = (y0 - 2 * y[1]) + y[2];
    }
    const double p = ((y0 - y[2]) / d) * 0.5;
    if (!std::isfinite(p) || p < -1 || p > 1)
        return 0;
    return p;
}

int argmax_index(const double *x, int n) {
    if (n <= 0)
        return 0;
    double best = x[0];
    int index = 0;
    for (int i = 0; i < n; i++) {
        if (x[i] > best) {
            best = x[i];
            index = i;
        }
    }
    return index;
}

} // namespace dsp
