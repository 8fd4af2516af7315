#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "failing_alloc.h"
#include "pitch.h"

namespace {

TEST(EstimatePitch, FailedScratchAllocationGivesNoPitch) {
    std::vector<double> x(2048);
    for (std::size_t t = 0; t < x.size(); t++)
        x[t] = std::sin(2 * M_PI * 441 * static_cast<double>(t) / 44100);
    const double normal = dsp::estimate_pitch(x.data(), 44100, 2048);
    ASSERT_EQ(normal, 450.0);
    for (int call = 0; call < 4; call++) {
        failing_alloc::Scope fail(call);
        const double f0 = dsp::estimate_pitch(x.data(), 44100, 2048);
        if (call < failing_alloc::calls())
            EXPECT_EQ(f0, INFINITY) << "allocation " << call << " failed";
        else
            EXPECT_EQ(f0, normal);
    }
    EXPECT_EQ(dsp::estimate_pitch(x.data(), 44100, 2048), normal);
}

} // namespace
