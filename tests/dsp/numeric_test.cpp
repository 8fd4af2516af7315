#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "dsp/numeric.h"

namespace {

double vertex(double y0, double y1, double y2) {
    const double y[3] = {y0, y1, y2};
    return dsp::parabolic_offset(y);
}

TEST(ParabolicOffset, WorkedValues) {
    EXPECT_DOUBLE_EQ(vertex(1, 3, 2), 1.0 / 6);
    EXPECT_DOUBLE_EQ(vertex(2, 3, 1), -1.0 / 6);
    EXPECT_EQ(vertex(4, 1, 4), 0.0);
    EXPECT_EQ(vertex(3, 2, 2), 0.5);
    // The bounds are kept; beyond them, or non-finite, gives 0.
    EXPECT_EQ(vertex(0, 1, 4), -1.0);
    EXPECT_EQ(vertex(4, 1, 0), 1.0);
    EXPECT_EQ(vertex(0, 1, 3), 0.0);
    // Flat curvature is nudged, not divided by: equal samples give exactly one half.
    EXPECT_EQ(vertex(1, 1, 1), 0.5);
    EXPECT_EQ(vertex(5, 5, 5), 0.5);
    EXPECT_EQ(vertex(0, 0, 0), 0.5);
    EXPECT_EQ(vertex(1, 2, 3), 0.0);
    // So large that the nudge is lost to rounding: still 0, never a NaN.
    EXPECT_EQ(vertex(1e300, 1e300, 1e300), 0.0);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(vertex(nan, 1, 2), 0.0);
    EXPECT_EQ(vertex(inf, 1, 2), 0.0);
}

TEST(AutocorrDirect, WorkedValuesAndBounds) {
    std::vector<double> r(5, -7.0);
    const double a[] = {1, 2, 3};
    dsp::autocorr_direct(a, r.data(), 3);
    EXPECT_EQ(r, (std::vector<double>{14, 8, 3, -7, -7}));

    const double b[] = {1, -1, 1, -1};
    dsp::autocorr_direct(b, r.data(), 4);
    EXPECT_EQ(r, (std::vector<double>{4, -3, 2, -1, -7}));

    const double c[] = {-3};
    dsp::autocorr_direct(c, r.data(), 1);
    EXPECT_EQ(r[0], 9.0);
    EXPECT_EQ(r[1], -3.0);

    r.assign(5, -7.0);
    dsp::autocorr_direct(c, r.data(), 0);
    EXPECT_EQ(r, std::vector<double>(5, -7.0));
}

TEST(AutocorrDirect, SumsInAscendingOrder) {
    // 1e16 + 1 + 1 in ascending order loses both ones; another order would keep them.
    const double x[] = {1e8, 1, 1, 1};
    double r[4];
    dsp::autocorr_direct(x, r, 4);
    EXPECT_EQ(r[0], ((1e16 + 1) + 1) + 1);
}

TEST(ArgmaxIndex, FirstLargestWinsAndNaNNever) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double a[] = {1, 3, 3, 2};
    EXPECT_EQ(dsp::argmax_index(a, 4), 1);
    const double b[] = {-5, -7};
    EXPECT_EQ(dsp::argmax_index(b, 2), 0);
    const double c[] = {2, 2, 2};
    EXPECT_EQ(dsp::argmax_index(c, 3), 0);
    const double d[] = {1, nan, 0.5, 4, nan};
    EXPECT_EQ(dsp::argmax_index(d, 5), 3);
    // A leading NaN is never replaced, so it stays at 0.
    const double e[] = {nan, 1, 2};
    EXPECT_EQ(dsp::argmax_index(e, 3), 0);
    EXPECT_EQ(dsp::argmax_index(nullptr, 0), 0);
    EXPECT_EQ(dsp::argmax_index(nullptr, -3), 0);
}

} // namespace
