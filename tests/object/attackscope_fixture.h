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

extern "C" void attackscope_tilde_setup(void);

namespace attackscope_test {

inline uint32_t bits(float f) {
    return std::bit_cast<uint32_t>(f);
}

// Energy of one block after the pre-filter set `set`, restarted from silence, as the plain sum
// of squares; the float that the energy outlet sends for it.
inline double reference_energy(const std::vector<float> &in, int set) {
    static const double coef[3][5] = {{0.3221, -0.643, 0.3221, -0.0894, 0.2125},
                                      {0.5202, -1.0399, 0.5202, -0.7894, 0.3151},
                                      {0.7295, -1.4588, 0.7295, -1.3966, 0.5549}};
    const double *c = coef[set];
    double z1 = 0, z2 = 0, energy = 0;
    for (float v : in) {
        const double d = (double(v) - c[3] * z1) - c[4] * z2;
        const double y = (c[0] * d + c[1] * z1) + c[2] * z2;
        z2 = z1;
        z1 = d;
        energy += y * y;
    }
    return energy;
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
