// attackscope~ when its arrays cannot be had, and its allocations over many chain builds.
#include "attackscope_fixture.h"
#include "failing_alloc.h"

namespace attackscope_test {
namespace {

class Alloc : public Scope {};

TEST_F(Alloc, FailedAllocationIsReportedOncePerChainBuildAndRetried) {
    for (int build = 1; build <= 2; build++) {
        pdhost::clear_console();
        {
            failing_alloc::Scope fail(0, 1000);
            obj.dsp(512);
        }
        ASSERT_EQ(pdhost::console().size(), 1u);
        EXPECT_EQ(pdhost::console()[0].rfind("error: attackscope~: out of memory", 0), 0u)
            << pdhost::console()[0];
        EXPECT_EQ(x()->x_hist[0], nullptr);
        EXPECT_EQ(x()->x_params.x_onsetratio, 10.0f); // the rest of the reset still happens
        EXPECT_EQ(blocks(3, 0.5f), "AAA");            // idle: nothing is sent
        EXPECT_TRUE(obj.outlet(2).empty());
        EXPECT_TRUE(obj.outlet(1).empty());
    }
    pdhost::clear_console();
    obj.dsp(512);
    EXPECT_TRUE(pdhost::console().empty());
    EXPECT_EQ(blocks(2, 0.5f), "GA");
}

TEST_F(Alloc, OnlyTheFirstChainBuildAllocates) {
    failing_alloc::reset();
    obj.dsp(64);
    EXPECT_EQ(failing_alloc::calls(), 1);
    failing_alloc::reset();
    for (int build = 0; build < 1000; build++) {
        obj.dsp(1 + build % 2048);
        block(steady(0.5f));
    }
    EXPECT_EQ(failing_alloc::calls(), 0);
    // Deleting the object releases the arrays: LeakSanitizer or valgrind checks that.
}

} // namespace
} // namespace attackscope_test
