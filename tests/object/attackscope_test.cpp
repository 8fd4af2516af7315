// attackscope~ as Pd drives it: inlets and outlets, chain builds, block by block.
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <limits>

#include "attackscope_fixture.h"

namespace attackscope_test {
namespace {

constexpr float inf = std::numeric_limits<float>::infinity();
constexpr float nan = std::numeric_limits<float>::quiet_NaN();

std::string printed(float f) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", double(f));
    return buf;
}

class Attackscope : public Scope {};

TEST_F(Attackscope, InletsStoreIntoTheirParametersInOrder) {
    EXPECT_EQ(obj.inlet_count(), 7);
    EXPECT_EQ(obj.outlet_count(), 3);
    for (int i = 0; i <= 6; i++)
        obj.send_float(i, float(i) + 0.5f);
    EXPECT_EQ(record()->x_f, 0.5f);
    EXPECT_EQ(x()->x_params.x_onsetratio, 1.5f);
    EXPECT_EQ(x()->x_params.x_peakratio, 2.5f);
    EXPECT_EQ(x()->x_params.x_floor, 3.5f);
    EXPECT_EQ(x()->x_params.x_holdblocks, 4.5f);
    EXPECT_EQ(x()->x_params.x_filtersel, 5.5f);
    EXPECT_EQ(x()->x_params.x_twovalued, 6.5f);
    EXPECT_EQ(x()->x_blockcap, 2048);
    EXPECT_EQ(x()->x_hist[0], nullptr); // no arrays before the first chain build
}

TEST_F(Attackscope, WorkedEnergiesAreExactAndSteady) {
    const struct {
        int set;
        const char *text;
    } cases[] = {{0, "5.04115"}, {1, "9.36601"}, {2, "20.2023"}};
    obj.dsp(64);
    obj.send_float(3, 1e30f); // no events, so that every block is a gate block
    for (auto c : cases) {
        obj.send_float(5, float(c.set));
        obj.clear_outlets();
        EXPECT_EQ(blocks(6, 0.5f), "GGGGGG");
        const float expected = sent(reference_energy(steady(0.5f), c.set));
        EXPECT_EQ(printed(expected), c.text);
        for (float e : obj.outlet(2))
            EXPECT_EQ(bits(e), bits(expected)) << "set " << c.set;
    }
    // Selected by the integer part.
    const struct {
        float sel;
        int set;
    } selectors[] = {{1.99f, 1}, {-0.5f, 0}, {7, 2}, {-7, 0}, {nan, 1}};
    for (auto s : selectors) {
        obj.send_float(5, s.sel);
        block(steady(0.5f));
        EXPECT_EQ(bits(obj.outlet(2).back()), bits(sent(reference_energy(steady(0.5f), s.set))))
            << s.sel;
    }
}

TEST_F(Attackscope, CreationArgumentHasNoEffect) {
    pdhost::Object with_arg("attackscope~", {7});
    obj.dsp(64);
    with_arg.dsp(64);
    std::vector<float> in(64);
    for (int b = 0; b < 12; b++) {
        for (size_t i = 0; i < in.size(); i++)
            in[i] = float(std::sin(0.3 * double(i) * (b + 1))) * (b % 5 == 0 ? 0.9f : 0.05f);
        obj.perform(in.data());
        with_arg.perform(in.data());
    }
    EXPECT_EQ(obj.outlet(2), with_arg.outlet(2));
    const size_t to = offsetof(attackscope_engine, x_hist);
    EXPECT_EQ(std::memcmp(x(), &with_arg.as<t_attackscope>()->x_engine, to), 0);
}

TEST_F(Attackscope, FirstGateBlockAfterResetStartsAnEvent) {
    obj.dsp(64);
    EXPECT_EQ(blocks(1, 0.5f), "G");
    EXPECT_EQ(x()->x_state, 1);
    EXPECT_EQ(blocks(1, 0.5f), "A");
    EXPECT_EQ(x()->x_state, 0);
    EXPECT_EQ(x()->x_holdoff, 5);
    // Silence never starts one.
    obj.dsp(64);
    EXPECT_EQ(blocks(3, 0.0f), "GGG");
    EXPECT_EQ(obj.outlet(2).back(), 0.0f);
}

TEST_F(Attackscope, OnsetFactorIsTruncatedAndStrict) {
    // Quarter the amplitude, a sixteenth of the energy, exactly; the floor passes only loud
    // blocks, so the loud block's ratio to each of the two before it is exactly 16.
    const struct {
        float factor;
        bool onset;
    } cases[] = {{15.99f, true}, {16, false}, {16.9f, false}, {nan, false}};
    for (auto c : cases) {
        obj.dsp(64);
        obj.send_float(1, c.factor);
        obj.send_float(3, 1);
        blocks(3, 0.125f);
        EXPECT_EQ(blocks(2, 0.5f), c.onset ? "GA" : "GG") << c.factor;
    }
    // Equal energies with factor 1 are no onset; factor 0.5 acts as 0.
    obj.dsp(64);
    obj.send_float(1, 1);
    EXPECT_EQ(blocks(14, 0.5f), "GAGGGGGGGGGGGG");
    obj.dsp(64);
    obj.send_float(1, 0.5f);
    EXPECT_EQ(blocks(14, 0.5f), "GAGGGGGAGGGGGA");
}

TEST_F(Attackscope, HoldOffCountsBlocksAfterTheAnalysis) {
    const struct {
        float holdblocks;
        const char *kinds;
    } cases[] = {{5, "GAGGGGGAGGGGGA"},   {5.9f, "GAGGGGGAGGGGGA"}, {2, "GAGGAGGAGGAGGA"},
                 {1, "GAGAGAGAGAGAGA"},   {0, "GAGAGAGAGAGAGA"},    {-3, "GAGAGAGAGAGAGA"},
                 {nan, "GAGAGAGAGAGAGA"}, {inf, "GAGGGGGGGGGGGG"}};
    for (auto c : cases) {
        obj.dsp(64);
        obj.send_float(1, 0); // every gate block with energy is an onset
        obj.send_float(4, c.holdblocks);
        EXPECT_EQ(blocks(14, 0.5f), c.kinds) << c.holdblocks;
    }
    // During the hold-off an onset is sent and moves the ring, and nothing else.
    obj.dsp(64);
    obj.send_float(1, 0);
    blocks(2, 0.5f);
    for (int left = 4; left >= 1; left--) {
        const int ring = x()->x_ringpos;
        EXPECT_EQ(blocks(1, 0.5f), "G");
        EXPECT_EQ(x()->x_holdoff, left);
        EXPECT_EQ(x()->x_state, 0);
        EXPECT_EQ(x()->x_ringpos, (ring + 1) % 3);
    }
}

TEST_F(Attackscope, WithoutHoldOffTheNextGateBlockComparesWithTheOnsetBlock) {
    obj.dsp(64);
    obj.send_float(4, 1);
    EXPECT_EQ(blocks(2, 0.5f), "GA");
    EXPECT_EQ(blocks(1, 1.5f), "G"); // nine times the onset block: not ten
    EXPECT_EQ(x()->x_state, 0);
    obj.dsp(64);
    obj.send_float(4, 1);
    blocks(2, 0.5f);
    EXPECT_EQ(blocks(2, 2.0f), "GA"); // sixteen times
}

TEST_F(Attackscope, ChainBuildResetsAllButTheFloor) {
    obj.dsp(64);
    double *const storage = x()->x_storage;
    for (int i = 1; i <= 6; i++)
        obj.send_float(i, 3);
    obj.send_float(1, 0);
    EXPECT_EQ(blocks(5, 0.7f), "GAGGG");
    EXPECT_EQ(x()->x_state, 1);
    x()->x_holdoff = 7; // as the analysis would leave them
    x()->x_lastratio = 0.3;
    obj.dsp(32);
    EXPECT_EQ(x()->x_params.x_onsetratio, 10.0f);
    EXPECT_EQ(x()->x_params.x_peakratio, 8.0f);
    EXPECT_EQ(x()->x_params.x_holdblocks, 5.0f);
    EXPECT_EQ(x()->x_params.x_filtersel, 1.0f);
    EXPECT_EQ(x()->x_params.x_twovalued, 0.0f);
    EXPECT_EQ(x()->x_params.x_floor, 3.0f);
    EXPECT_EQ(x()->x_sr, 44100);
    EXPECT_EQ(x()->x_blockcap, 2048);
    EXPECT_EQ(x()->x_state, 0);
    EXPECT_EQ(x()->x_holdoff, 0);
    EXPECT_EQ(x()->x_ringpos, 0);
    EXPECT_EQ(x()->x_lastratio, 0.0);
    for (double e : x()->x_energy)
        EXPECT_EQ(e, 0.0);
    // The same arrays, back to silence as if new.
    EXPECT_EQ(x()->x_storage, storage);
    for (size_t i = 0; i < 13 * 2048; i++)
        ASSERT_EQ(storage[i], 0.0) << i;
    // The eight arrays lie side by side in it without overlapping.
    double *const starts[] = {x()->x_hist[0],  x()->x_hist[1], x()->x_hist[2], x()->x_hist[3],
                              x()->x_filtered, x()->x_capture, x()->x_capfilt};
    for (size_t k = 0; k < 7; k++)
        EXPECT_EQ(starts[k], storage + 2048 * (k < 6 ? k : 9));
}

TEST_F(Attackscope, EveryBlockSizeUpTo2048FitsAndOutputIsNeverWritten) {
    for (int n = 1; n <= 2048; n++) {
        obj.dsp(n);
        obj.clear_outlets();
        std::vector<float> in(static_cast<size_t>(n));
        for (int i = 0; i < n; i++)
            in[static_cast<size_t>(i)] = float(std::sin(0.01 * i * i + 1)) * 0.8f;
        const std::string kinds = std::string(1, block(in)) + block(in) + block(in);
        ASSERT_EQ(kinds, "GAG") << n;
        ASSERT_EQ(bits(obj.outlet(2)[0]), bits(sent(reference_energy(in, 1)))) << n;
        if (n < 2048) {
            ASSERT_EQ(x()->x_hist[0][n], 0.0) << n;
        }
        for (int i = 0; i < n; i++)
            ASSERT_EQ(obj.signal_out()[static_cast<size_t>(i)], pdhost::Object::sentinel(i));
    }
    for (const std::string &line : pdhost::console()) // small blocks are told they give no ratios
        EXPECT_EQ(line.rfind("error", 0), std::string::npos) << line;
}

TEST_F(Attackscope, BlocksAbove2048AreRefusedWithOneError) {
    for (int n : {2049, 4096}) {
        pdhost::clear_console();
        obj.dsp(n);
        ASSERT_EQ(pdhost::console().size(), 1u);
        const std::string &line = pdhost::console()[0];
        EXPECT_EQ(line.rfind("error: attackscope~: ", 0), 0u) << line;
        EXPECT_NE(line.find(std::to_string(n)), std::string::npos) << line;
        EXPECT_NE(line.find("2048"), std::string::npos) << line;
        blocks(4, 0.5f);
        EXPECT_TRUE(obj.outlet(2).empty());
        EXPECT_EQ(x()->x_hist[0][0], 0.0);
        EXPECT_EQ(pdhost::console().size(), 1u);
    }
    obj.dsp(2048);
    EXPECT_EQ(blocks(2, 0.5f), "GA");
}

TEST_F(Attackscope, NonFiniteInputIsSentAndRecoveredFrom) {
    for (float v : {inf, -inf, nan}) {
        obj.dsp(1);
        obj.clear_outlets();
        EXPECT_EQ(blocks(1, v), "G");
        EXPECT_FALSE(std::isfinite(obj.outlet(2)[0]));
        EXPECT_EQ(x()->x_state, 0) << v;
    }
    obj.dsp(64);
    std::vector<float> nans = steady(0.5f);
    nans[10] = nan;
    block(nans);
    EXPECT_TRUE(std::isnan(obj.outlet(2).back()));
    // Finite blocks are measured exactly again at once, and onsets return once the ring holds
    // only finite energies.
    EXPECT_EQ(blocks(2, 0.01f), "GG");
    EXPECT_EQ(bits(obj.outlet(2).back()), bits(sent(reference_energy(steady(0.01f), 1))));
    EXPECT_EQ(blocks(2, 0.5f), "GA");
}

TEST_F(Attackscope, PatchReactionToTheEnergyCountsForTheSameBlock) {
    obj.dsp(64);
    obj.on_outlet(2, [this](float) { obj.send_float(3, 1e30f); });
    EXPECT_EQ(blocks(3, 0.5f), "GGG");
    // With factor 10 the steady input starts no second event, unless the factor drops to 0 in
    // reaction to the energy of the first block that the hold-off no longer holds back.
    obj.dsp(64);
    obj.send_float(3, 0);
    int energies = 0;
    obj.on_outlet(2, [&](float) {
        if (++energies == 6)
            obj.send_float(1, 0);
    });
    EXPECT_EQ(blocks(9, 0.5f), "GAGGGGGAG");
}

TEST_F(Attackscope, SmallBlocksAreToldOnceAtTheChainBuild) {
    obj.dsp(64);
    obj.dsp(64);
    obj.dsp(372);
    obj.dsp(373);
    obj.dsp(2048);
    EXPECT_EQ(pdhost::console(),
              (std::vector<std::string>{
                  "attackscope~: block size 64 gives energies only; shape ratios need blocks of "
                  "373 samples or more (2048 recommended)",
                  "attackscope~: block size 372 gives energies only; shape ratios need blocks of "
                  "373 samples or more (2048 recommended)"}));
}

} // namespace
} // namespace attackscope_test
