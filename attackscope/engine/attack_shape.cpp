#include "engine/attack_shape.h"

#include <cmath>

#include "dsp/biquad.h"
#include "dsp/numeric.h"

namespace attack {

void analysis_filter(const double *in, double *out, int count) {
    double z1 = 0, z2 = 0;
    for (int i = 0; i < count; i++)
        out[i] = dsp::analysis_filter_set.step(in[i], z1, z2);
}

Period period_of(int sr, double f0, int n) {
    Period p;
    p.samples = sr / f0;
    p.whole = static_cast<int>(p.samples);
    p.half = static_cast<int>(sr / f0 / 2.0);
    p.hop = p.half / 2;
    const int m = (7 * n) / p.half;
    p.windows = m > 2 ? m - 2 : 0;
    return p;
}

void envelope(const double *filtered, const Period &p, double *e) {
    // The last window ends at (windows - 1) * hop + half <= 3.5 n, inside the 4n capture.
    for (int k = 0; k < p.windows; k++) {
        double sum = 0;
        const double *w = filtered + k * p.hop;
        for (int j = 0; j < p.half; j++)
            sum += w[j] * w[j];
        e[k] = sum;
    }
}

int attack_window(const double *e, int windows, double rise) {
    for (int k = 3; k <= windows - 2; k++)
        if (e[k] > rise * e[k - 1] && rise * e[k + 1] > e[k])
            return k;
    return 0;
}

int peak_index(const double *capture, int begin, int end) {
    int best = begin;
    for (int i = begin; i < end; i++)
        if (std::fabs(capture[i]) > std::fabs(capture[best]))
            best = i;
    return best;
}

double capture_at(const double *capture, int count, int i) {
    return i >= 0 && i < count ? capture[i] : 0.0;
}

int sign_change_distance(const double *capture, int count, int peak, int whole) {
    auto sign = [&](int i) { return capture_at(capture, count, i) < 0 ? -1 : 1; };
    for (int t = 0; t < whole; t++)
        if (sign(peak - t) != sign(peak - t - 1))
            return t;
    return whole;
}

void copy_segment(const double *capture, int count, int start, int length, double *s) {
    for (int k = 0; k < length; k++)
        s[k] = capture_at(capture, count, start + k);
}

int minimum_lag(const double *r, int length) {
    // The search starts from a ceiling, not from r[0]: a segment so loud that no value is below
    // it keeps lag 0, whose ratio 1 + f0/sr is out of range and so falls back to the last one.
    double best = 99999999.0;
    int lag = 0;
    for (int k = 0; k < length; k++) {
        if (r[k] < best) {
            best = r[k];
            lag = k;
        }
    }
    return lag;
}

double refined_lag(const double *r, int length, int lag) {
    if (lag < 1 || lag > length - 2)
        return lag;
    return lag + dsp::parabolic_offset(r + lag - 1);
}

double shape_ratio(double lag, int sr, double f0) {
    return 1 - (((lag - 1) / 2) / sr) / ((1 / f0) * 0.5);
}

double accepted_ratio(double ratio, double last) {
    if (ratio < 0 || ratio > 0.5 || std::isnan(ratio))
        return last;
    return ratio;
}

float output_value(double ratio, float two_valued) {
    double value = ratio;
    if (two_valued == 1.0f)
        value = ratio < 0.25 ? 0 : 100;
    // The outlet's scale: the middle of the string, 0.5, sends 120 (the two-valued 100, 24000).
    return static_cast<float>(value * 240.0);
}

} // namespace attack
