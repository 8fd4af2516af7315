// The event analysis in the engine: its gates, its outcome and its memory, with f0 given.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "dsp/numeric.h"
#include "engine/analysis.h"
#include "engine/engine.h"
#include "failing_alloc.h"
#include "signals.h"

namespace {

// A plain transcription of the measurement, with the capture padded by silence on both sides,
// to check the object's result against.
double reference_ratio(const std::vector<double> &cap, int n, double f0, double rise) {
    const int count = 4 * n;
    auto at = [&](long i) { return i >= 0 && i < count ? cap[static_cast<size_t>(i)] : 0.0; };
    std::vector<double> filt(static_cast<size_t>(count));
    double z1 = 0, z2 = 0;
    for (int i = 0; i < count; i++) {
        const double v = (cap[static_cast<size_t>(i)] - -0.7894 * z1) - 0.3151 * z2;
        filt[static_cast<size_t>(i)] = (0.5202 * v + -1.0399 * z1) + 0.5202 * z2;
        z2 = z1;
        z1 = v;
    }
    const int whole = static_cast<int>(44100 / f0);
    const int half = static_cast<int>(44100 / f0 / 2.0), hop = half / 2;
    const int m = 7 * n / half, windows = m > 2 ? m - 2 : 0;
    std::vector<double> e(static_cast<size_t>(windows));
    for (int k = 0; k < windows; k++)
        for (int j = 0; j < half; j++)
            e[static_cast<size_t>(k)] +=
                filt[static_cast<size_t>(k * hop + j)] * filt[static_cast<size_t>(k * hop + j)];
    int w = 0;
    for (int k = 3; k + 2 <= windows && w == 0; k++)
        if (e[size_t(k)] > rise * e[size_t(k - 1)] && rise * e[size_t(k + 1)] > e[size_t(k)])
            w = k;
    int peak = w * hop;
    for (int i = w * hop; i < (w + 2) * hop; i++)
        if (std::fabs(at(i)) > std::fabs(at(peak)))
            peak = i;
    int t = whole;
    for (int d = 0; d < whole; d++)
        if ((at(peak - d) < 0) != (at(peak - d - 1) < 0)) {
            t = d;
            break;
        }
    const int length = whole + t;
    std::vector<double> r(static_cast<size_t>(length));
    for (int k = 0; k < length; k++)
        for (int j = 0; j + k < length; j++)
            r[size_t(k)] += at(peak - t - 2 + j) * at(peak - t - 2 + j + k);
    int g = 0;
    double best = 99999999.0;
    for (int k = 0; k < length; k++)
        if (r[size_t(k)] < best)
            best = r[size_t(k)], g = k;
    double lag = g;
    if (g >= 1 && g <= length - 2)
        lag += dsp::parabolic_offset(&r[size_t(g - 1)]);
    return 1 - (((lag - 1) / 2) / 44100) / ((1 / f0) * 0.5);
}

class EventAnalysis : public ::testing::Test {
  protected:
    void TearDown() override { engine_release(e); }
    attackscope_engine *x() { return &e; }

    // A reset for blocks of n with the capture set to `capture` (4n samples).
    void load(int n, const std::vector<double> &capture) {
        ASSERT_TRUE(engine_reset(e, n));
        std::copy(capture.begin(), capture.end(), e.x_capture);
        e.x_state = 1;
    }
    // The measurement with f0 given; what it sends is kept in ratios().
    event_outcome finish(int n, int clipped, double f0) {
        const event_outcome o = finish_event(e, n, clipped, f0);
        if (o.what == event_outcome::kind::ratio)
            sent.push_back(o.sent);
        return o;
    }
    const std::vector<float> &ratios() { return sent; }

    attackscope_engine e{};
    std::vector<float> sent;
};

std::vector<double> pluck_capture(int n, int onset, double freq, uint32_t seed) {
    std::vector<float> audio(static_cast<size_t>(4 * n), 0.0f);
    signals::add_pluck(audio, onset, freq, 1.0, 0.6, seed);
    return {audio.begin(), audio.end()};
}

TEST_F(EventAnalysis, PitchGateAcceptsUpTo1500HzAndDropsAboveSilently) {
    const auto cap = pluck_capture(2048, 2 * 2048 + 300, 196.0, 3);
    load(2048, cap);
    finish(2048, 0, 1500.0);
    EXPECT_EQ(ratios().size(), 1u);
    EXPECT_EQ(x()->x_state, 0);

    for (int clipped : {0, 1}) {
        load(2048, cap);
        sent.clear();
        const double above = std::nextafter(1500.0, 2000.0);
        EXPECT_EQ(finish(2048, clipped, above).what, event_outcome::kind::dropped);
        EXPECT_TRUE(ratios().empty());
        EXPECT_EQ(x()->x_state, 0);
        load(2048, cap);
        const double nan = std::numeric_limits<double>::quiet_NaN();
        EXPECT_EQ(finish(2048, clipped, nan).what, event_outcome::kind::dropped);
        EXPECT_TRUE(ratios().empty());
        EXPECT_EQ(x()->x_state, 0);
    }
}

TEST_F(EventAnalysis, ClippedBlockPostsClipAndAnalysesAgainNextBlock) {
    load(1024, pluck_capture(1024, 2 * 1024 + 10, 110.0, 4));
    EXPECT_EQ(finish(1024, 1, 440.0).what, event_outcome::kind::clip);
    EXPECT_TRUE(ratios().empty());
    EXPECT_EQ(x()->x_state, 1);
}

TEST_F(EventAnalysis, SentValueMatchesAnIndependentMeasurement) {
    struct Case {
        int n, onset;
        double freq, f0;
    } cases[] = {
        {2048, 2 * 2048 + 500, 196.0, 196.0},  // attack found in the envelope
        {2048, 2 * 2048 + 100, 82.41, 82.41},  // low note: long segment
        {512, 2 * 512 + 40, 440.0, 450.0},     // short blocks, f0 as the estimator reports it
        {1024, 0, 220.0, 220.0},               // tone from the first sample: no attack window
        {512, 4 * 512 - 20, 150.0, 150.0},     // onset at the very end of the capture
        {2048, 2 * 2048 + 700, 1000.0, 1500.0} // at the pitch limit
    };
    uint32_t seed = 10;
    for (const Case &c : cases) {
        const auto cap = pluck_capture(c.n, c.onset, c.freq, seed++);
        load(c.n, cap);
        x()->x_lastratio = 0.123;
        sent.clear();
        finish(c.n, 0, c.f0);
        double expected = reference_ratio(cap, c.n, c.f0, 8.0);
        if (!(expected >= 0 && expected <= 0.5))
            expected = 0.123;
        ASSERT_EQ(ratios().size(), 1u);
        EXPECT_EQ(ratios()[0], static_cast<float>(expected * 240.0)) << c.freq << " Hz, n " << c.n;
        EXPECT_EQ(x()->x_lastratio, expected);
    }
}

TEST_F(EventAnalysis, PeaksAtTheCaptureEdgesStayInside) {
    // A steady tone whose largest sample is the very first, and a capture whose only sound is
    // its very last sample: the walk and the segment reach past both ends.
    for (int n : {64, 128, 256, 373, 512, 1024, 2048}) {
        std::vector<double> first(static_cast<size_t>(4 * n), 0.0), last = first;
        for (int i = 0; i < 4 * n; i++)
            first[size_t(i)] = std::cos(2 * 3.141592653589793 * i / 97.0) * 0.5;
        last.back() = -0.8;
        for (const auto *cap : {&first, &last}) {
            load(n, *cap);
            sent.clear();
            finish(n, 0, 441.0);
            ASSERT_EQ(ratios().size(), 1u);
            double expected = reference_ratio(*cap, n, 441.0, 8.0);
            if (!(expected >= 0 && expected <= 0.5))
                expected = 0;
            EXPECT_EQ(ratios()[0], static_cast<float>(expected * 240.0)) << n;
        }
    }
}

TEST_F(EventAnalysis, RatioOutsideTheRangeFallsBackAndTwoValuedQuantises) {
    const auto cap = pluck_capture(2048, 2 * 2048 + 500, 196.0, 3);
    load(2048, cap);
    finish(2048, 0, 196.0);
    const double first = x()->x_lastratio;
    ASSERT_GT(first, 0.0);
    // Silence: the lag-0 minimum gives 1 + f0/sr, out of range, so the last ratio is sent again.
    load(2048, std::vector<double>(4 * 2048, 0.0));
    x()->x_lastratio = first;
    finish(2048, 0, 196.0);
    ASSERT_EQ(ratios().size(), 2u);
    EXPECT_EQ(ratios()[1], static_cast<float>(first * 240.0));

    load(2048, cap);
    e.x_params.x_twovalued = 1.0f;
    finish(2048, 0, 196.0);
    EXPECT_EQ(ratios().back(), first < 0.25 ? 0.0f : 24000.0f);
    EXPECT_EQ(x()->x_lastratio, first); // the unquantised ratio is kept
}

TEST_F(EventAnalysis, AnalysisTakesItsScratchFromTheObject) {
    const auto capture = pluck_capture(2048, 2 * 2048 + 500, 196.0, 3);
    load(2048, capture);
    finish(2048, 0, 196.0);
    ASSERT_EQ(ratios().size(), 1u);
    // Every allocation would fail: the whole analysis still runs, with the same result, and so
    // does a pitch estimate (the history is silent, so that event is dropped).
    load(2048, capture);
    {
        failing_alloc::Scope no_memory(0, 100);
        finish(2048, 0, 196.0);
        analyse_event(e, 2048, 0);
        EXPECT_EQ(failing_alloc::calls(), 0);
    }
    ASSERT_EQ(ratios().size(), 2u);
    EXPECT_EQ(ratios()[1], ratios()[0]);
}

TEST_F(EventAnalysis, PeriodBeyondTheScratchEndsTheEventWithNothingToSend) {
    // A period of 14700 samples, far below any pitch the estimator reports, needs more scratch
    // than the engine keeps: the event ends, and nothing is allocated for it.
    load(2048, pluck_capture(2048, 2 * 2048 + 500, 196.0, 3));
    e.x_lastratio = 0.2;
    {
        failing_alloc::Scope no_memory(0, 100);
        const event_outcome o = finish(2048, 0, 3.0);
        EXPECT_EQ(o.what, event_outcome::kind::none);
        EXPECT_EQ(failing_alloc::calls(), 0);
    }
    EXPECT_TRUE(ratios().empty());
    EXPECT_EQ(x()->x_state, 0);
    EXPECT_EQ(x()->x_lastratio, 0.2);
}

} // namespace
