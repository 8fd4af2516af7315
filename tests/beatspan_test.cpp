#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "pd_host.h"

extern "C" void beatspan_setup(void);

namespace {

class Beatspan : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { beatspan_setup(); }
    pdhost::Object span{"beatspan"};

    float spans(float tempo, float beats) {
        span.send_float(1, beats);
        span.clear_outlets();
        span.send_float(0, tempo);
        EXPECT_EQ(span.outlet(0).size(), 1u);
        return span.outlet(0).empty() ? std::nanf("") : span.outlet(0).back();
    }
};

uint32_t bits(float f) {
    return std::bit_cast<uint32_t>(f);
}

TEST_F(Beatspan, HasTwoInletsAndOneOutlet) {
    EXPECT_EQ(span.inlet_count(), 2);
    EXPECT_EQ(span.outlet_count(), 1);
}

TEST_F(Beatspan, WorkedValuesAreExact) {
    struct Case {
        float tempo, beats, expected;
    } cases[] = {{120, 4, 43.06640625f},   {60, 1, 21.533203125f}, {100, 8, 103.359375f},
                 {120, -4, -43.06640625f}, {120, 0, 4.0f},         {0, 0, 4.0f}};
    for (auto c : cases)
        EXPECT_EQ(bits(spans(c.tempo, c.beats)), bits(c.expected))
            << c.tempo << " bpm, " << c.beats << " beats";
}

TEST_F(Beatspan, ZeroOrNaNBeatsGiveFourBlocks) {
    EXPECT_EQ(bits(spans(120, -0.0f)), bits(4.0f));
    EXPECT_EQ(bits(spans(120, std::numeric_limits<float>::quiet_NaN())), bits(4.0f));
    EXPECT_EQ(bits(spans(std::numeric_limits<float>::quiet_NaN(), 0)), bits(4.0f));
    // A new object has no beats yet.
    span.send_float(0, 97);
    EXPECT_EQ(bits(span.outlet(0).back()), bits(4.0f));
}

TEST_F(Beatspan, DivisionByZeroAndOverflowGiveInfinities) {
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(spans(0, 4), inf);
    EXPECT_EQ(spans(-0.0f, 4), -inf);
    EXPECT_EQ(bits(spans(inf, 4)), bits(0.0f));
    EXPECT_EQ(spans(1e-30f, 1e30f), inf);
    EXPECT_EQ(spans(-120, 4), -43.06640625f);
}

TEST_F(Beatspan, RightInletStoresSilentlyAndLeftUsesIt) {
    span.send_float(1, 4);
    EXPECT_TRUE(span.outlet(0).empty());
    span.send_float(0, 120);
    span.send_float(0, 60);
    ASSERT_EQ(span.outlet(0).size(), 2u);
    EXPECT_EQ(bits(span.outlet(0)[0]), bits(43.06640625f));
    EXPECT_EQ(bits(span.outlet(0)[1]), bits(86.1328125f));
}

} // namespace
