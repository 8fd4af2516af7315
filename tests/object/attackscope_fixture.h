// Shared by the attackscope~ object tests: the class registered once, an object in the
// in-process host, and an independent transcription of the gate pre-filter for expectations.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <string>
#include <vector>

#include "attackscope.h"
#include "pd_host.h"
#include "reference_gate.h"

extern "C" void attackscope_tilde_setup(void);

namespace attackscope_test {

inline uint32_t bits(float f) {
    return std::bit_cast<uint32_t>(f);
}

// Energy of one block after the pre-filter set `set`, restarted from silence, as the plain sum
// of squares; the float that the energy outlet sends for it.
inline double reference_energy(const std::vector<float> &in, int set) {
    return signals::reference_energy(in.data(), in.size(), set);
}
inline float sent(double energy) {
    return static_cast<float>(energy * 100.0);
}

class Scope : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        static const bool loaded = (attackscope_tilde_setup(), true);
        (void)loaded;
    }
    void SetUp() override { pdhost::clear_console(); }

    pdhost::Object obj{"attackscope~"};
    t_attackscope *record() { return obj.as<t_attackscope>(); }
    attackscope_engine *x() { return &record()->x_engine; }
    std::vector<float> steady(float v) const {
        return std::vector<float>(static_cast<size_t>(obj.block_size()), v);
    }

    // Runs one block; 'G' for a gate block (it sent an energy), 'A' for an analysis block.
    char block(const std::vector<float> &in) {
        const size_t before = obj.outlet(2).size();
        obj.perform(in.data());
        return obj.outlet(2).size() > before ? 'G' : 'A';
    }
    std::string blocks(int count, float v) {
        std::string kinds;
        for (int i = 0; i < count; i++)
            kinds += block(steady(v));
        return kinds;
    }
};

} // namespace attackscope_test
