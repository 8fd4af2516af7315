// [attackscope~ -position] as Pd drives it: the fourth outlet, one list per plucked note, and
// the three designed outlets unchanged bit for bit.
#include <cmath>
#include <string>
#include <vector>

#include "attackscope_fixture.h"
#include "plucked_string.h"
#include "signals.h"

namespace attackscope_test {
namespace {

const pdhost::Words position_flag{{"-position"}};

struct Outputs {
    std::vector<float> ratios, energies;
    std::vector<std::vector<float>> positions;
    std::vector<std::string> console;
};

// The stream through one object in blocks of n at the given host rate.
Outputs run(pdhost::Object &obj, const std::vector<float> &audio, int n, float sr = 44100) {
    pdhost::clear_console();
    obj.dsp(n, sr);
    std::vector<float> silence(static_cast<size_t>(n), 0.0f);
    const size_t blocks = (audio.size() + static_cast<size_t>(n) - 1) / static_cast<size_t>(n);
    for (size_t b = 0; b < blocks + 20000 / static_cast<size_t>(n); b++) {
        std::vector<float> block(silence);
        for (size_t i = 0; i < block.size() && b * block.size() + i < audio.size(); i++)
            block[i] = audio[b * block.size() + i];
        obj.perform(block.data());
    }
    Outputs r{obj.outlet(1), obj.outlet(2), {}, pdhost::console()};
    if (obj.outlet_count() > 3)
        r.positions = obj.lists(3);
    return r;
}

std::vector<float> plucks(const std::vector<signals::string_pluck> &notes, int rate = 44100) {
    std::vector<float> audio;
    for (const auto &p : notes) {
        signals::string_pluck q = p;
        q.rate = rate;
        const auto note = signals::render_string(q, rate / 10);
        audio.insert(audio.end(), note.samples.begin(), note.samples.end());
    }
    return audio;
}

class Position : public Scope {};

TEST_F(Position, FlagAddsTheFourthOutletAndFloatsStillDoNothing) {
    EXPECT_EQ(obj.outlet_count(), 3);
    pdhost::Object seven("attackscope~", {7});
    EXPECT_EQ(seven.outlet_count(), 3);
    pdhost::Object flagged("attackscope~", position_flag);
    EXPECT_EQ(flagged.outlet_count(), 4);
    EXPECT_EQ(flagged.inlet_count(), 7);
    pdhost::Object both("attackscope~", position_flag, {7});
    EXPECT_EQ(both.outlet_count(), 4);
    pdhost::clear_console();
    EXPECT_THROW(pdhost::Object("attackscope~", pdhost::Words{{"-positon"}}), std::runtime_error);
    ASSERT_EQ(pdhost::console().size(), 1u);
    EXPECT_EQ(pdhost::console()[0],
              "error: attackscope~: unknown flag -positon (the flags are -position and -pickup G)");
}

TEST_F(Position, DesignedOutletsAreTheSameBitForBitWithTheFlag) {
    signals::string_pluck low, high;
    low.f0 = 82.41;
    high.f0 = 392.0;
    high.position = 0.35;
    auto audio = plucks({low, high, low});
    signals::add_pluck(audio, 2000, 196.0, 0.6, 3.0, 4); // a clipped attack too
    signals::clip(audio);
    for (int n : {64, 2048}) {
        pdhost::Object plain("attackscope~");
        pdhost::Object flagged("attackscope~", position_flag);
        const Outputs a = run(plain, audio, n), b = run(flagged, audio, n);
        EXPECT_EQ(a.console, b.console) << n;
        ASSERT_EQ(a.energies.size(), b.energies.size()) << n;
        for (size_t i = 0; i < a.energies.size(); i++)
            ASSERT_EQ(bits(a.energies[i]), bits(b.energies[i])) << n << ", energy " << i;
        ASSERT_EQ(a.ratios.size(), b.ratios.size()) << n;
        for (size_t i = 0; i < a.ratios.size(); i++)
            ASSERT_EQ(bits(a.ratios[i]), bits(b.ratios[i])) << n << ", ratio " << i;
        EXPECT_FALSE(b.positions.empty()) << n;
    }
}

TEST_F(Position, CleanPlucksGiveOneListEachNearTheTruth) {
    struct Case {
        double f0, position;
        bool velocity;
        int n;
        float sr;
    } cases[] = {{110.0, 0.2, true, 64, 44100},    {196.0, 0.32, false, 2048, 44100},
                 {55.0, 0.12, true, 2048, 44100},  {330.0, 0.45, true, 64, 48000},
                 {146.8, 0.25, false, 512, 96000}, {82.41, 0.4, true, 1, 44100}};
    for (const Case &c : cases) {
        signals::string_pluck p;
        p.f0 = c.f0;
        p.position = c.position;
        p.velocity = c.velocity;
        pdhost::Object scope("attackscope~", position_flag);
        const Outputs r = run(scope, plucks({p}, static_cast<int>(c.sr)), c.n, c.sr);
        ASSERT_EQ(r.positions.size(), 1u) << c.f0 << " Hz, n " << c.n;
        const auto &list = r.positions[0];
        ASSERT_EQ(list.size(), 4u);
        EXPECT_NEAR(list[0], c.position, 0.05) << c.f0 << " Hz, n " << c.n;
        EXPECT_NEAR(list[1], c.f0, c.f0 * 0.01) << c.f0 << " Hz, n " << c.n;
        EXPECT_GT(list[2], 0.3f) << c.f0 << " Hz, n " << c.n;
        EXPECT_LE(list[2], 1.0f);
    }
}

// A noise burst has no period: it is no note, and gets no estimate (or, at most, one it does not
// trust).
TEST_F(Position, NoiseBurstGetsNoTrustedEstimate) {
    const auto burst = signals::render_noise_burst(0.3, 0.05, 0.5, 3, 44100, 4410);
    pdhost::Object scope("attackscope~", position_flag);
    const Outputs r = run(scope, burst.samples, 64);
    EXPECT_LE(r.positions.size(), 1u);
    for (const auto &list : r.positions)
        EXPECT_LT(list[2], 0.2f);
}

} // namespace
} // namespace attackscope_test
