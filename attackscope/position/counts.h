// Sample counts and indices from real numbers, defined for every input.
#pragma once

#include <cstdint>

namespace dsp {

// v as a count or index in [lo, hi]; NaN gives lo.
inline int64_t clamped(double v, int64_t lo, int64_t hi) {
    if (!(v > static_cast<double>(lo)))
        return lo;
    if (!(v < static_cast<double>(hi)))
        return hi;
    return static_cast<int64_t>(v);
}

// The smallest power of two >= v, at most 2^30.
inline int power_of_two_at_least(int64_t v) {
    int p = 1;
    while (p < v && p < (1 << 30))
        p *= 2;
    return p;
}

} // namespace dsp
