// The gate's parts in the engine: inlet truncation, filter selection, the preparation pass and
// the onset decision.
#include <climits>
#include <cmath>
#include <limits>

#include "attackscope_fixture.h"
#include "engine/engine.h"
#include "engine/gate.h"
#include "engine/inlet_value.h"

namespace attackscope_test {
namespace {

constexpr float inf = std::numeric_limits<float>::infinity();
constexpr float nan = std::numeric_limits<float>::quiet_NaN();

TEST(InletValue, TruncatesTowardZeroAndIsDefinedEverywhere) {
    EXPECT_EQ(truncated(10.9f), 10.0);
    EXPECT_EQ(truncated(-0.5f), 0.0);
    EXPECT_EQ(truncated(3e9f), 3e9);
    EXPECT_TRUE(std::isnan(truncated(nan)));
    EXPECT_EQ(truncated(-inf), -double(inf));

    EXPECT_EQ(truncated_int(5.9f), 5);
    EXPECT_EQ(truncated_int(-5.9f), -5);
    EXPECT_EQ(truncated_int(2147483520.0f), 2147483520); // largest float below 2^31
    EXPECT_EQ(truncated_int(2147483648.0f), INT_MAX);
    EXPECT_EQ(truncated_int(-2147483648.0f), INT_MIN);
    EXPECT_EQ(truncated_int(-1e20f), INT_MIN);
    EXPECT_EQ(truncated_int(inf), INT_MAX);
    EXPECT_EQ(truncated_int(-inf), INT_MIN);
    EXPECT_EQ(truncated_int(nan), 0);
}

TEST(GateFilterSet, IntegerPartSelectsAndOutOfRangeClamps) {
    const dsp::biquad *set[3] = {&gate_filter_set(0), &gate_filter_set(1), &gate_filter_set(2)};
    EXPECT_EQ(set[0]->a1, -0.0894);
    EXPECT_EQ(set[1]->b1, -1.0399);
    EXPECT_EQ(set[2]->a2, 0.5549);
    const struct {
        float sel;
        int set;
    } cases[] = {{1.99f, 1}, {-0.5f, 0}, {0.99f, 0},  {2.5f, 2}, {3, 2},  {1e10f, 2},
                 {inf, 2},   {-1, 0},    {-1e10f, 0}, {-inf, 0}, {nan, 1}};
    for (auto c : cases)
        EXPECT_EQ(&gate_filter_set(c.sel), set[c.set]) << c.sel;
}

class Gate : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(engine_reset(e, 8)); }
    void TearDown() override { engine_release(e); }
    attackscope_engine *x() { return &e; }
    int prepare(const std::vector<float> &in) {
        return prepare_block(e, in.data(), 8, gate_filter_set(1)).clipped;
    }
    // A gate block whose filtered samples are given: the value it sends, then the decision.
    // Returns whether an event started.
    bool decide(const std::vector<double> &filtered) {
        double energy = 0;
        for (double v : filtered)
            energy += v * v;
        sent.push_back(energy_value(energy));
        e.x_state = 0;
        const bool started = engine_decide(e, energy);
        EXPECT_EQ(started, e.x_state == 1);
        return started;
    }

    attackscope_engine e{};
    std::vector<float> sent;
};

TEST_F(Gate, ClipFlagIsSetByExactFullScaleOnly) {
    for (float v : {1.0f, -1.0f})
        for (int at : {0, 3, 7}) {
            std::vector<float> in(8, 0.5f);
            in[static_cast<size_t>(at)] = v;
            EXPECT_EQ(prepare(in), 1) << v << " at " << at;
        }
    for (float v : {1.5f, -1.5f, 0.99999994f, -0.99999994f, 1.0000001f, inf, nan})
        EXPECT_EQ(prepare(std::vector<float>(8, v)), 0) << v;
    // Not carried over from a clipped block.
    EXPECT_EQ(prepare(std::vector<float>(8, 1.0f)), 1);
    EXPECT_EQ(prepare(std::vector<float>(8, 0.0f)), 0);
}

TEST_F(Gate, PreparationShiftsHistoryAndFiltersFromSilence) {
    for (int b = 1; b <= 5; b++)
        prepare(std::vector<float>(8, 0.1f * float(b)));
    for (int k = 0; k < 4; k++)
        for (int i = 0; i < 8; i++)
            ASSERT_EQ(x()->x_hist[k][i], double(0.1f * float(5 - k))) << k << "," << i;
    // Only the block's first n elements are touched.
    for (int k = 0; k < 4; k++)
        EXPECT_EQ(x()->x_hist[k][8], 0.0);
    EXPECT_EQ(x()->x_filtered[8], 0.0);
    double energy = 0;
    for (int i = 0; i < 8; i++)
        energy += x()->x_filtered[i] * x()->x_filtered[i];
    EXPECT_EQ(energy, reference_energy(std::vector<float>(8, 0.5f), 1));
}

TEST_F(Gate, EnergySummedAlongTheFilterEqualsTheSumAfterIt) {
    // Blocks of every size, from quiet to loud, so that the sum's rounding differs by order.
    for (int n : {1, 2, 3, 8, 63, 64, 65, 500, 2048}) {
        ASSERT_TRUE(engine_reset(e, n));
        std::vector<float> in(static_cast<size_t>(n));
        for (int i = 0; i < n; i++)
            in[size_t(i)] = float(std::sin(0.37 * i * i) * std::exp(-0.01 * i));
        const prepared_block b = prepare_block(e, in.data(), n, gate_filter_set(2));
        double after = 0;
        for (int i = 0; i < n; i++)
            after += e.x_filtered[i] * e.x_filtered[i];
        EXPECT_EQ(std::bit_cast<uint64_t>(b.energy), std::bit_cast<uint64_t>(after)) << n;
        EXPECT_EQ(std::bit_cast<uint64_t>(b.energy),
                  std::bit_cast<uint64_t>(reference_energy(in, 2)))
            << n;
    }
}

TEST_F(Gate, FloorIsStrictAndInOutletUnits) {
    e.x_params.x_floor = 50; // 0.5 in energy units
    EXPECT_FALSE(decide({0.5, 0.5}));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], 50.0f);
    e.x_params.x_floor = 49.99f;
    x()->x_energy[0] = x()->x_energy[1] = x()->x_energy[2] = 0;
    EXPECT_TRUE(decide({0.5, 0.5}));
    // A silent block is no onset while the floor is 0 or more, and not even below.
    for (float floor : {0.0f, -1.0f}) {
        e.x_params.x_floor = floor;
        EXPECT_FALSE(decide({0.0, 0.0}));
    }
}

TEST_F(Gate, RingAdvancesInEveryGateBlockAndComparesWithTheTwoBefore) {
    // Energies 1, 1, then 10.5 = 9 + 1 + 0.25 + 0.25 exactly.
    const std::vector<double> one = {1.0}, loud = {3.0, 1.0, 0.5, 0.5};
    for (float factor : {10.9f, 11.0f, nan, -inf}) {
        ASSERT_TRUE(engine_reset(e, 8));
        e.x_params.x_onsetratio = factor;
        e.x_params.x_floor = 1e30f;
        decide(one);
        decide(one);
        e.x_params.x_floor = 0;
        EXPECT_EQ(x()->x_ringpos, 2);
        const bool onset = decide(loud);
        EXPECT_EQ(x()->x_ringpos, 0);
        EXPECT_EQ(x()->x_energy[2], 10.5);
        // 10.9 acts as 10, not 11; a NaN factor never makes an onset.
        EXPECT_EQ(onset, factor == 10.9f || factor == -inf) << factor;
    }
}

TEST_F(Gate, NonFiniteEnergyIsSentButNeverAnOnset) {
    e.x_params.x_onsetratio = 0;
    for (double v : {double(inf), -double(inf), double(nan)}) {
        sent.clear();
        EXPECT_FALSE(decide({v}));
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(std::isnan(sent[0]), std::isnan(v));
    }
}

TEST_F(Gate, OnsetDuringHoldOffOnlyMovesTheRing) {
    x()->x_holdoff = 1;
    EXPECT_FALSE(decide({0.5}));
    EXPECT_EQ(x()->x_ringpos, 1);
    EXPECT_EQ(x()->x_energy[0], 0.25);
    EXPECT_EQ(sent.size(), 1u);
    x()->x_holdoff = 0;
    x()->x_energy[0] = 0;
    EXPECT_TRUE(decide({0.5}));
}

} // namespace
} // namespace attackscope_test
