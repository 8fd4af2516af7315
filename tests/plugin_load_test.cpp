// Loads the built plug-ins with dlopen(), as Pd does, and checks that each registers its class
// and behaves like the code the other tests link directly.
#include <gtest/gtest.h>

#include <vector>

#include "pd_host.h"

namespace {

TEST(PluginLoad, BeatspanRegistersAndComputes) {
    ASSERT_TRUE(pdhost::load_plugin(BEATSPAN_PLUGIN, "beatspan_setup"));
    ASSERT_TRUE(pdhost::has_class("beatspan"));
    pdhost::Object span("beatspan");
    span.send_float(1, 4);
    span.send_float(0, 120);
    ASSERT_EQ(span.outlet(0).size(), 1u);
    EXPECT_EQ(span.outlet(0)[0], 43.06640625f);
}

#ifdef ATTACKSCOPE_PLUGIN
TEST(PluginLoad, AttackscopeRegistersAndMeasures) {
    ASSERT_TRUE(pdhost::load_plugin(ATTACKSCOPE_PLUGIN, "attackscope_tilde_setup"));
    ASSERT_TRUE(pdhost::has_class("attackscope~"));
    pdhost::Object scope("attackscope~", {7});
    EXPECT_EQ(scope.inlet_count(), 7);
    EXPECT_EQ(scope.outlet_count(), 3);
    scope.dsp(64);
    const std::vector<float> half(64, 0.5f);
    scope.perform(half.data());
    ASSERT_EQ(scope.outlet(2).size(), 1u);
    EXPECT_NEAR(scope.outlet(2)[0], 9.36601f, 5e-6f);
}
#endif

} // namespace
