// Loads the built plug-ins with dlopen(), as Pd does, and checks that each registers its class
// and behaves like the code the other tests link directly.
#include <gtest/gtest.h>

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

} // namespace
