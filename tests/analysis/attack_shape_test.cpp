#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "engine/attack_shape.h"

namespace {

using attack::Period;

TEST(AttackShape, PeriodSizesTruncateTowardZero) {
    const Period p = attack::period_of(44100, 441.0, 2048);
    EXPECT_EQ(p.samples, 100.0);
    EXPECT_EQ(p.whole, 100);
    EXPECT_EQ(p.half, 50);
    EXPECT_EQ(p.hop, 25);
    EXPECT_EQ(p.windows, 7 * 2048 / 50 - 2);
    // The half period comes from the rate and f0 directly, not from the whole period.
    const Period q = attack::period_of(44100, 1500.0, 512);
    EXPECT_EQ(q.whole, 29); // 29.4
    EXPECT_EQ(q.half, 14);  // 14.7
    EXPECT_EQ(q.hop, 7);
    // Too few windows for the search: none at all.
    EXPECT_EQ(attack::period_of(44100, 30.0, 64).windows, 0);
}

TEST(AttackShape, EnvelopeSumsHalfPeriodWindowsEveryHop) {
    Period p{};
    p.half = 4;
    p.hop = 2;
    p.windows = 3;
    const double f[] = {1, 2, 3, 4, 5, 6, 7, 8};
    double e[3];
    attack::envelope(f, p, e);
    EXPECT_EQ(e[0], 1 + 4 + 9 + 16);
    EXPECT_EQ(e[1], 9 + 16 + 25 + 36);
    EXPECT_EQ(e[2], 25 + 36 + 49 + 64);
}

TEST(AttackShape, AttackWindowComparisonsAreStrict) {
    // Window 4 rises 8x over window 3 and window 5 keeps a sixth of it.
    std::vector<double> e = {1, 1, 1, 1, 8, 8.0 / 6, 1, 1};
    EXPECT_EQ(attack::attack_window(e.data(), 8, 8.0), 0); // exactly 8x is no attack
    e[4] = 8.5;
    EXPECT_EQ(attack::attack_window(e.data(), 8, 8.0), 4);
    e[5] = 8.5 / 8; // the next window holds exactly one eighth
    EXPECT_EQ(attack::attack_window(e.data(), 8, 8.0), 0);
    // The first qualifying window wins; windows 1, 2 and the last are never candidates.
    std::vector<double> g = {1, 100, 1e4, 1, 100, 100, 1e6, 1e6};
    EXPECT_EQ(attack::attack_window(g.data(), 8, 8.0), 4);
    EXPECT_EQ(attack::attack_window(g.data(), 4, 8.0), 0);
    // NaN in the envelope never qualifies.
    std::vector<double> h = {1, 1, 1, 1, std::nan(""), 1, 1};
    EXPECT_EQ(attack::attack_window(h.data(), 7, 8.0), 0);
}

TEST(AttackShape, PeakIsTheFirstLargestMagnitude) {
    const double c[] = {0.1, -0.9, 0.5, 0.9, -0.2, 5.0};
    EXPECT_EQ(attack::peak_index(c, 0, 5), 1);
    EXPECT_EQ(attack::peak_index(c, 2, 5), 3);
    EXPECT_EQ(attack::peak_index(c, 0, 6), 5);
}

TEST(AttackShape, SignWalkCountsZeroAsPositiveAndStopsAtAPeriod) {
    //                  0    1    2   3    4    5
    const double c[] = {-1, -1, 0.0, 2, 3, -4};
    EXPECT_EQ(attack::sign_change_distance(c, 6, 4, 10), 2); // 0 at index 2 is positive
    EXPECT_EQ(attack::sign_change_distance(c, 6, 5, 10), 0);
    EXPECT_EQ(attack::sign_change_distance(c, 6, 4, 1), 1); // no change within the period
    // Before the capture the samples count as 0, that is positive.
    const double neg[] = {-1, -2, -3};
    EXPECT_EQ(attack::sign_change_distance(neg, 3, 2, 50), 2);
    const double pos[] = {1, 2, 3};
    EXPECT_EQ(attack::sign_change_distance(pos, 3, 2, 50), 50);
}

TEST(AttackShape, SegmentIsPaddedWithSilenceOutsideTheCapture) {
    const double c[] = {1, 2, 3};
    double s[7];
    attack::copy_segment(c, 3, -2, 7, s);
    const double expected[] = {0, 0, 1, 2, 3, 0, 0};
    for (int k = 0; k < 7; k++)
        EXPECT_EQ(s[k], expected[k]) << k;
}

TEST(AttackShape, MinimumLagAndRefinement) {
    const double r[] = {5, 1, -2, -2, 3};
    EXPECT_EQ(attack::minimum_lag(r, 5), 2); // equal minima: the smaller lag
    const double big[] = {1e9, 2e9};
    EXPECT_EQ(attack::minimum_lag(big, 2), 0); // nothing below the start value
    const double at_end[] = {5, 4, 3};
    EXPECT_EQ(attack::minimum_lag(at_end, 3), 2);
    EXPECT_EQ(attack::refined_lag(at_end, 3, 2), 2.0); // no neighbour beyond the end
    const double at_start[] = {1, 4, 5};
    EXPECT_EQ(attack::refined_lag(at_start, 3, 0), 0.0);
    const double inside[] = {4, 1, 2};
    const double y[] = {4, 1, 2};
    EXPECT_EQ(attack::refined_lag(inside, 3, 1),
              1 + (((y[0] - y[2]) / ((y[0] - 2 * y[1]) + y[2])) * 0.5));
}

TEST(AttackShape, RatioFromLagAndPitch) {
    // A 100-sample period: lag 61 gives 0.4, lag 51 exactly 0.5, lag 31 gives 0.7.
    EXPECT_EQ(attack::output_value(attack::shape_ratio(61, 44100, 441.0), 0), 96.0f);
    EXPECT_EQ(attack::shape_ratio(51, 44100, 441.0), 0.5);
    EXPECT_EQ(attack::accepted_ratio(attack::shape_ratio(51, 44100, 441.0), 0.1), 0.5);
    EXPECT_NEAR(attack::shape_ratio(31, 44100, 441.0), 0.7, 1e-12);
    EXPECT_EQ(attack::accepted_ratio(attack::shape_ratio(31, 44100, 441.0), 0.1), 0.1);
    EXPECT_EQ(attack::accepted_ratio(0.0, 0.3), 0.0);
    EXPECT_EQ(attack::accepted_ratio(-1e-300, 0.3), 0.3);
    EXPECT_EQ(attack::accepted_ratio(std::nan(""), 0.3), 0.3);
    EXPECT_EQ(attack::accepted_ratio(std::numeric_limits<double>::infinity(), 0.3), 0.3);
}

TEST(AttackShape, TwoValuedFormOnlyForExactlyOne) {
    EXPECT_EQ(attack::output_value(0.25, 1.0f), 24000.0f);
    EXPECT_EQ(attack::output_value(std::nextafter(0.25, 0.0), 1.0f), 0.0f);
    EXPECT_EQ(attack::output_value(0.4, 1.0f), 24000.0f);
    EXPECT_EQ(attack::output_value(0.4, 2.0f), 96.0f);
    EXPECT_EQ(attack::output_value(0.4, 0.5f), 96.0f);
    EXPECT_EQ(attack::output_value(0.4, std::nextafter(1.0f, 2.0f)), 96.0f);
}

TEST(AttackShape, AnalysisFilterMatchesItsDifferenceEquation) {
    // Impulse response of the fixed high-pass, from zero state.
    double in[4] = {1, 0, 0, 0}, out[4];
    attack::analysis_filter(in, out, 4);
    const double b0 = 0.5202, b1 = -1.0399, b2 = 0.5202, a1 = -0.7894, a2 = 0.3151;
    const double v0 = 1, v1 = -a1 * v0, v2 = (0 - a1 * v1) - a2 * v0, v3 = (0 - a1 * v2) - a2 * v1;
    EXPECT_EQ(out[0], b0 * v0);
    EXPECT_EQ(out[1], b0 * v1 + b1 * v0);
    EXPECT_EQ(out[2], (b0 * v2 + b1 * v1) + b2 * v0);
    EXPECT_EQ(out[3], (b0 * v3 + b1 * v2) + b2 * v1);
}

} // namespace
