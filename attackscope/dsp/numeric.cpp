#include "numeric.h"

#include <cmath>

namespace dsp {

double parabolic_offset(const double *y) {
    double y0 = y[0];
    double d = (y0 - 2 * y[1]) + y[2];
    if (d == 0) {
        y0 += 1.0 / 2147483647.0;
        d = (y0 - 2 * y[1]) + y[2];
    }
    const double p = ((y0 - y[2]) / d) * 0.5;
    if (!std::isfinite(p) || p < -1 || p > 1)
        return 0;
    return p;
}

void autocorr_direct(const double *x, double *r, int n) {
    // Four lags at a time: four independent sums instead of one long dependency chain, each still
    // added in ascending j, so every r[k] is rounded exactly as the one-lag-at-a-time sum.
    int k = 0;
    for (; k + 3 < n; k += 4) {
        double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
        const int common = n - k - 3; // terms j < common exist for all four lags
        for (int j = 0; j < common; j++) {
            const double xj = x[j];
            s0 = xj * x[j + k] + s0;
            s1 = xj * x[j + k + 1] + s1;
            s2 = xj * x[j + k + 2] + s2;
            s3 = xj * x[j + k + 3] + s3;
        }
        for (int j = common; j < n - k; j++)
            s0 = x[j] * x[j + k] + s0;
        for (int j = common; j < n - k - 1; j++)
            s1 = x[j] * x[j + k + 1] + s1;
        for (int j = common; j < n - k - 2; j++)
            s2 = x[j] * x[j + k + 2] + s2;
        r[k] = s0;
        r[k + 1] = s1;
        r[k + 2] = s2;
        r[k + 3] = s3;
    }
    for (; k < n; k++) {
        double sum = 0;
        for (int j = 0; j < n - k; j++)
            sum = x[j] * x[j + k] + sum;
        r[k] = sum;
    }
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
