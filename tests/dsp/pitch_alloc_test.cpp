#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "dsp/pitch.h"
#include "failing_alloc.h"
#include "fft_workspace_for_tests.h"

namespace {

TEST(EstimatePitch, WorksInTheCallersScratchAndAllocatesNothing) {
    std::vector<double> x(2048);
    for (std::size_t t = 0; t < x.size(); t++)
        x[t] = std::sin(2 * M_PI * 441 * static_cast<double>(t) / 44100);
    std::vector<double> work(dsp::pitch_work_size(2048));
    const double normal =
        dsp::estimate_pitch(x.data(), 44100, 2048, work.data(), signals::test_workspace());
    ASSERT_EQ(normal, 450.0);
    failing_alloc::Scope no_memory(0, 100);
    EXPECT_EQ(dsp::estimate_pitch(x.data(), 44100, 2048, work.data(), signals::test_workspace()),
              normal);
    EXPECT_EQ(failing_alloc::calls(), 0);
}

} // namespace
