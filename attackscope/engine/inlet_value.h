// Integer parts of inlet values. Floats arrive unchecked from the patch, and converting NaN, an
// infinity or a value beyond the int range straight to int is undefined behaviour; these are
// defined for every float and truncate toward zero like a plain cast for every ordinary value.
#pragma once

#include <climits>
#include <cmath>

// The integer part as a double; NaN and infinities pass through unchanged, so a NaN factor
// makes every comparison with it false.
inline double truncated(float v) {
    return std::trunc(static_cast<double>(v));
}

// The integer part as an int, saturating at INT_MIN and INT_MAX; NaN gives 0.
inline int truncated_int(float v) {
    const double t = truncated(v);
    if (std::isnan(t))
        return 0;
    if (t <= static_cast<double>(INT_MIN))
        return INT_MIN;
    if (t >= static_cast<double>(INT_MAX))
        return INT_MAX;
    return static_cast<int>(t);
}
