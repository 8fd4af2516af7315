// The stages of the pluck-position estimate, each on its own inputs: what the tracker's tests
// cannot pin to one stage.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <vector>

#include "position/comb_fit.h"
#include "position/confidence.h"
#include "position/input_history.h"
#include "position/own_edge.h"
#include "position/partial_series.h"
#include "position/pitch_check.h"
#include "position/release_search.h"
#include "position/rough_period.h"
#include "position/series_fit.h"
#include "position/spectrum.h"
#include "signals.h"

namespace {

dsp::input_history history_of(const std::vector<float> &x) {
    dsp::input_history h;
    h.prepare(static_cast<int64_t>(x.size()));
    h.push(x.data(), static_cast<int>(x.size()), [](float, int64_t) {});
    return h;
}

// Runs a stage's step until it leaves running and waiting, in slices of `budget`.
template <class Step> dsp::stage_state run(Step step, int64_t budget) {
    for (int i = 0; i < 1 << 20; i++) {
        const dsp::stage_step s = step(budget);
        EXPECT_GE(s.units, 0);
        if (s.state == dsp::stage_state::done || s.state == dsp::stage_state::failed)
            return s.state;
    }
    ADD_FAILURE() << "the stage never ended";
    return dsp::stage_state::failed;
}

// What the pitch check makes of the series `found` (Hz, `partials` of it followed) in x from
// `release`, its windows sized for the period of `window_f0`; with the window before the release
// where `with_before`. 0: the found series stands.
double check_of(const std::vector<float> &x, int release, double window_f0, double found,
                int partials, bool with_before = false) {
    const double sr = 44100;
    const dsp::input_history h = history_of(x);
    dsp::spectrum fine, before;
    fine.prepare(sr, 40.0, dsp::spectrum::frequencies);
    fine.begin(release, sr / window_f0);
    EXPECT_EQ(run([&](int64_t b) { return fine.step(h, b); }, 4000), dsp::stage_state::done);
    if (with_before) {
        before.prepare(sr, 40.0, dsp::spectrum::earlier);
        before.begin_before(release, sr / window_f0);
        EXPECT_EQ(run([&](int64_t b) { return before.step(h, b); }, 4000), dsp::stage_state::done);
    }
    dsp::pitch_check check;
    check.prepare(sr, 40.0, 1500.0);
    check.begin(found, 0.0, partials, with_before ? &before : nullptr);
    EXPECT_EQ(run([&](int64_t b) { return check.step(fine, b); }, 64), dsp::stage_state::done);
    return check.corrected();
}

TEST(InputHistory, StoresNonFiniteAsZeroAndKnowsWhatItNoLongerHolds) {
    dsp::input_history h;
    h.prepare(5); // rounded up to 8
    const float x[6] = {0.5f,   std::numeric_limits<float>::quiet_NaN(),
                        -0.25f, std::numeric_limits<float>::infinity(),
                        1.0f,   2.0f};
    std::vector<float> seen;
    h.push(x, 6, [&](float v, int64_t i) {
        EXPECT_EQ(i, static_cast<int64_t>(seen.size()));
        seen.push_back(v);
    });
    EXPECT_EQ(seen, (std::vector<float>{0.5f, 0.0f, -0.25f, 0.0f, 1.0f, 2.0f}));
    EXPECT_EQ(h.last_bad(), 3);
    EXPECT_EQ(h.sample(-1), 0.0);
    EXPECT_EQ(h.sample(2), -0.25);
    h.push(x, 6, [](float, int64_t) {});
    EXPECT_EQ(h.total(), 12);
    EXPECT_FALSE(h.holds(3));
    EXPECT_TRUE(h.holds(4));
    h.reset();
    EXPECT_EQ(h.total(), 0);
    EXPECT_EQ(h.last_bad(), -1);
    EXPECT_EQ(h.sample(0), 0.0);
}

TEST(SeriesFit, RecoversAStretchAndRefusesOneThatExplainsNothing) {
    dsp::series_fit stiff, plain;
    signals::Noise noise(4);
    for (int n = 1; n <= 12; n++) {
        stiff.add(n, n * 110.0 * std::sqrt(1.0 + 1e-4 * n * n), 1.0);
        // A plain series whose partials scatter by a few parts in 1e5: no stretch in that.
        plain.add(n, n * 110.0 * (1.0 + 3e-5 * noise.next()), 1.0);
    }
    double f0 = 0, b = 0;
    ASSERT_TRUE(stiff.solve(f0, b));
    EXPECT_NEAR(f0, 110.0, 1e-9);
    EXPECT_NEAR(b, 1e-4, 1e-12);
    ASSERT_TRUE(plain.solve(f0, b));
    EXPECT_NEAR(f0, 110.0, 0.01);
    EXPECT_EQ(b, 0.0);
    // Nothing to fit, or only weights it must leave out: no answer, the outputs untouched.
    dsp::series_fit empty;
    empty.add(1, 100.0, 0.0);
    empty.add(2, std::numeric_limits<double>::quiet_NaN(), 1.0);
    f0 = b = -1;
    EXPECT_FALSE(empty.solve(f0, b));
    EXPECT_EQ(f0, -1.0);
    EXPECT_EQ(b, -1.0);
}

TEST(ReleaseSearch, FindsTheEdgeAfterASlowPullAndNothingInSilence) {
    // A slow pull over 20 ms, then the string leaves the finger: a step back within 0.1 ms.
    const int sr = 44100, edge_at = 3000;
    std::vector<float> x(6000, 0.0f);
    for (int i = 2118; i < edge_at; i++)
        x[static_cast<size_t>(i)] = static_cast<float>(0.3 * (i - 2118) / 882.0);
    for (int i = edge_at; i < edge_at + 4; i++)
        x[static_cast<size_t>(i)] = static_cast<float>(0.3 * (edge_at + 4 - i) / 4.0);
    const dsp::input_history h = history_of(x);
    dsp::release_search search;
    search.prepare(sr, 64);
    search.begin(edge_at + 40); // the detector marks the rise a little after it begins
    EXPECT_EQ(run([&](int64_t b) { return search.step(h, b, true, 64); }, 50),
              dsp::stage_state::done);
    EXPECT_GE(search.release(), edge_at);
    EXPECT_LE(search.release(), edge_at + search.edge());
    EXPECT_LE(search.window_start(), search.release());

    const dsp::input_history quiet = history_of(std::vector<float>(6000, 0.0f));
    search.begin(edge_at);
    EXPECT_EQ(run([&](int64_t b) { return search.step(quiet, b, true, 64); }, 50),
              dsp::stage_state::failed);
}

TEST(OwnEdge, TellsAnEdgeComeRoundFromANewOne) {
    // A sawtooth's edge every period, growing: its own. The same with a new edge, of the
    // opposite sign, where the next would come: a let-go. Too high a string, or an edge whose
    // stretch has not yet arrived: not told.
    const int sr = 44100, period = 882; // 50 Hz
    std::vector<float> grows(20000), cut(20000);
    for (size_t i = 0; i < grows.size(); i++) {
        const double phase = double(i % period) / period, level = 0.2 + 1e-5 * double(i);
        grows[i] = static_cast<float>(level * (phase - 0.5));
        cut[i] = i < 10 * period ? grows[i] : static_cast<float>(0.3 * std::exp(-phase * 8.0));
    }
    int64_t units = 0;
    const dsp::input_history a = history_of(grows), b = history_of(cut);
    EXPECT_GT(dsp::own_edge::correlation(a, 10 * period, sr, 50.0, 1000, units),
              dsp::own_edge::repeated);
    EXPECT_LE(units, 1001);
    EXPECT_LT(dsp::own_edge::correlation(b, 10 * period, sr, 50.0, 1000, units),
              dsp::own_edge::repeated);
    EXPECT_TRUE(std::isnan(dsp::own_edge::correlation(a, 10 * period, sr, 400.0, 1000, units)));
    EXPECT_TRUE(std::isnan(dsp::own_edge::correlation(a, static_cast<int64_t>(grows.size()) - 10,
                                                      sr, 50.0, 1000, units)));
}

TEST(RoughPeriod, FindsAHarmonicTonesPeriodAndNoneInNoise) {
    const int sr = 44100;
    std::vector<float> tone(8000), noise(8000);
    signals::Noise n(6);
    for (size_t t = 0; t < tone.size(); t++) {
        const double phase = 2.0 * M_PI * 73.0 * static_cast<double>(t) / sr;
        tone[t] = static_cast<float>(0.5 * std::sin(phase) + 0.3 * std::sin(2 * phase + 1) +
                                     0.2 * std::sin(5 * phase));
        noise[t] = static_cast<float>(0.5 * n.next());
    }
    dsp::rough_period period;
    period.prepare(sr, 40.0, 1500.0);
    const dsp::input_history h = history_of(tone);
    period.begin(0);
    ASSERT_EQ(run([&](int64_t b) { return period.step(h, b); }, 100), dsp::stage_state::done);
    EXPECT_NEAR(period.period(), sr / 73.0, 0.01 * sr / 73.0);
    EXPECT_LT(period.aperiodicity(), 0.15);
    const dsp::input_history hiss = history_of(noise);
    period.begin(0);
    EXPECT_EQ(run([&](int64_t b) { return period.step(hiss, b); }, 100), dsp::stage_state::failed);
}

TEST(Spectrum, AgreesWithADirectTransformOfTheHannWindow) {
    const double sr = 4000;
    std::vector<float> x(400);
    signals::Noise n(8);
    for (float &v : x)
        v = static_cast<float>(n.next());
    const dsp::input_history h = history_of(x);
    dsp::spectrum s;
    s.prepare(sr, 40.0, dsp::spectrum::amplitudes);
    s.begin(10, 10.0); // 23 ms: a window of 92 samples, a transform of 128
    ASSERT_EQ(run([&](int64_t b) { return s.step(h, b); }, 7), dsp::stage_state::done);
    ASSERT_EQ(s.window(), 92);
    ASSERT_EQ(s.length(), 128);
    for (int k = 0; k <= 64; k++) {
        std::complex<double> sum = 0;
        for (int j = 0; j < 92; j++) {
            const double w = std::pow(std::sin(M_PI * (j + 0.5) / 92), 2);
            sum += w * x[static_cast<size_t>(10 + j)] * std::polar(1.0, -2.0 * M_PI * j * k / 128);
        }
        EXPECT_NEAR(s.power(k), std::norm(sum), 1e-9 * (1.0 + std::norm(sum))) << k;
    }
}

// The derivative window places a decaying partial to a thousandth of a bin wherever it falls
// between bins, where a parabola through the log magnitudes is off by up to a few hundredths.
TEST(Spectrum, PlacesADecayingPartialWhereverItFallsBetweenBins) {
    const double sr = 44100, period = 200; // 12 periods: a window of 2400, a transform of 4096
    const double bin = sr / 4096;
    for (const double offset : {0.0, 0.13, 0.5, 0.77})
        for (const double t60 : {0.2, 3.0}) {
            const double f = (114 + offset) * bin;
            std::vector<float> x(3000);
            for (size_t j = 0; j < x.size(); j++) {
                const double t = static_cast<double>(j);
                x[j] = static_cast<float>(std::exp(-6.9 * t / (t60 * sr)) *
                                          std::cos(2 * M_PI * f * t / sr + 0.4));
            }
            const dsp::input_history h = history_of(x);
            dsp::spectrum s;
            s.prepare(sr, 40.0, dsp::spectrum::frequencies);
            s.begin(0, period);
            ASSERT_EQ(run([&](int64_t b) { return s.step(h, b); }, 500), dsp::stage_state::done);
            ASSERT_EQ(s.length(), 4096);
            const int k = offset < 0.5 ? 114 : 115;
            EXPECT_NEAR(s.peak_frequency(k), 114 + offset, 1e-3) << offset << " " << t60;
        }
}

// The check takes the note's own series: a half of a found f0 whose odd places hold partials
// (all of them strong, the first few alone, or half of them weak), a high note's series where a
// low component was followed, a third of the note followed from a sympathetic string's or a
// body's peaks on or beside its places; a string's own series stands, also beside faint bumps
// half-way between its partials.
TEST(PitchCheck, TakesTheSeriesThatHoldsTheNotesPartials) {
    const double sr = 44100;
    struct item {
        double note, found; // the partials' series, and the one the partial search followed
        double hum;         // a low component beside the note, 0 for none
        double hum_level;   // its amplitude, against the fundamental's
        double odd_level;   // the odd partials' amplitude below the twelfth
        double odd_high;    // and from the twelfth on
        double expected;    // 0: the found one stands
    };
    for (const item c :
         {item{110.0, 220.0, 0.0, 0.0, 1.0, 1.0, 110.0},
          item{523.25, 1046.5, 0.0, 0.0, 0.3, 0.0, 523.25},
          item{138.6, 277.2, 0.0, 0.0, 0.06, 0.0, 138.6},
          item{247.0, 494.0, 0.0, 0.0, 0.003, 0.003, 0.0},
          item{330.0, 103.5, 103.5, 20.7, 1.0, 1.0, 330.0},
          item{330.0, 110.0, 110.0, 0.1, 1.0, 1.0, 330.0},
          item{196.0, 65.33, 69.0, 0.3, 1.0, 1.0, 196.0},
          item{196.0, 196.0, 0.0, 0.0, 1.0, 1.0, 0.0}, item{82.4, 82.4, 0.0, 0.0, 1.0, 1.0, 0.0}}) {
        std::vector<float> x(6000);
        for (size_t j = 0; j < x.size(); j++) {
            const double t = static_cast<double>(j);
            double v = c.hum_level * std::sin(2 * M_PI * c.hum * t / sr) / 20.0;
            for (int n = 1; n * c.note < 6000; n++) {
                const double odd = n % 2 == 0 ? 1.0 : n < 12 ? c.odd_level : c.odd_high;
                v += odd * std::sin(2 * M_PI * n * c.note * t / sr + n) / (n * 20.0);
            }
            x[j] = static_cast<float>(v);
        }
        EXPECT_NEAR(check_of(x, 0, std::min(c.note, c.found), c.found, 12), c.expected,
                    0.02 * c.expected + 1e-9)
            << c.note << " " << c.found;
    }
}

// A note whose partials above the second lie in white noise keeps its series: the least power of
// many bins of noise lies far below the noise's level, and a widely spaced series of noise peaks
// would stand as clear as the note's own if valleys were judged by it.
TEST(PitchCheck, KeepsANoteWhoseUpperPartialsLieInNoise) {
    const double sr = 44100;
    signals::Noise draw(17);
    int moved = 0;
    for (int k = 0; k < 30; k++) {
        const double f0 = 300.0 + 900.0 * (0.5 * draw.next() + 0.5);
        std::vector<float> x(6000);
        for (size_t j = 0; j < x.size(); j++) {
            const double t = static_cast<double>(j);
            x[j] = static_cast<float>(0.05 * std::sin(2 * M_PI * f0 * t / sr) +
                                      0.025 * std::sin(2 * M_PI * 2 * f0 * t / sr + 1.0) +
                                      0.002 * draw.next());
        }
        moved += check_of(x, 0, f0, f0, 2) > 0.0;
    }
    EXPECT_EQ(moved, 0);
}

// Under a string still ringing from before the release, the series followed was that string's:
// the check takes the new note's from the peaks that rose. A string plucked again while it
// rings keeps its own series.
TEST(PitchCheck, TakesTheNewNoteUnderAStringStillRinging) {
    const double sr = 44100;
    const int release = 4000;
    struct item {
        double ringing, note; // the old string's series and the new note's
        double expected;      // 0: the found (ringing) one stands
        double level = 20.0;  // the ringing string's first partial, against 5 for the note's
    };
    // A louder ringing string whose partials lie beside the new note's places and on every fourth
    // of them (160.4 under 359.7): the note's own peaks rose, what lies beside them did not.
    for (const item c : {item{196.0, 262.0, 262.0}, item{330.0, 110.0, 110.0},
                         item{196.0, 196.0, 0.0}, item{160.4, 359.7, 359.7, 2.0}}) {
        std::vector<float> x(release + 6000);
        for (size_t j = 0; j < x.size(); j++) {
            const double t = static_cast<double>(j);
            double v = 0.0;
            for (int n = 1; n * c.ringing < 6000; n++)
                v += std::sin(2 * M_PI * n * c.ringing * t / sr + n) / (n * c.level);
            if (j >= release)
                for (int n = 1; n * c.note < 6000; n++)
                    v += std::sin(2 * M_PI * n * c.note * (t - release) / sr + 2 * n) / (n * 5.0);
            x[j] = static_cast<float>(v);
        }
        EXPECT_NEAR(check_of(x, release, c.ringing, c.ringing, 12, true), c.expected,
                    0.02 * c.expected + 1e-9)
            << c.note;
    }
}

// A louder string ringing at 390.5 Hz lays its 4th and 5th partials 20-30 Hz beside the 7th and
// 9th of a 220.1 Hz note, near enough to steer the note's series: kept out once the ringing
// string is known, they no longer bend its stretch.
TEST(PartialSeries, KeepsARingingStringsPartialsOutOfTheNotesSeries) {
    const double sr = 44100, f0 = 220.1, b = 5e-5, ringing = 390.5;
    std::vector<float> x(12000);
    for (size_t j = 0; j < x.size(); j++) {
        const double t = static_cast<double>(j) / sr;
        double v = 0.0;
        for (int n = 1; n * ringing < 8000; n++)
            v += std::sin(2 * M_PI * n * ringing * t + n) * std::exp(-2.0 * t) / (n * 1.5);
        for (int n = 1; n * f0 < 8000; n++)
            v += std::sin(2 * M_PI * n * f0 * std::sqrt(1 + b * n * n) * t + 2 * n) *
                 std::exp(-3.0 * t) / (n * n * 5.0);
        x[j] = static_cast<float>(v);
    }
    const dsp::input_history h = history_of(x);
    dsp::spectrum amplitudes, fine;
    amplitudes.prepare(sr, 40.0, dsp::spectrum::amplitudes);
    fine.prepare(sr, 40.0, dsp::spectrum::frequencies);
    amplitudes.begin(0, sr / f0);
    fine.begin(0, sr / f0);
    ASSERT_EQ(run([&](int64_t u) { return amplitudes.step(h, u); }, 4000), dsp::stage_state::done);
    ASSERT_EQ(run([&](int64_t u) { return fine.step(h, u); }, 4000), dsp::stage_state::done);
    // (Not known, it read 225.0 Hz and B = 3.7e-4.)
    dsp::partial_series series;
    series.prepare(sr, 1500.0);
    series.begin(f0, ringing, 2.5e-5);
    ASSERT_EQ(run([&](int64_t u) { return series.step(amplitudes, fine, u); }, 500),
              dsp::stage_state::done);
    double y[dsp::partial_series::max_partials], w[dsp::partial_series::max_partials],
        eps[dsp::partial_series::max_partials];
    ASSERT_TRUE(series.finish(y, w, eps));
    EXPECT_NEAR(series.f0(), f0, 5e-4 * f0);
    EXPECT_LT(series.inharmonicity(), 1e-4);
}

// Two combs over 48 harmonics (a low string through a pickup), the second off the coarse places
// it is searched on every 0.01: there its notches, laid on whole harmonics, can fit worse than
// no comb (0.03 and 0.04 for 0.0339), and its fine places must still be searched.
TEST(CombFit, PlacesASecondCombBetweenItsCoarsePlaces) {
    // The last cases are off the model by up to half a neper, as a real string's finger, body
    // and pickup leave it: there the pair's basin lies between the exact combs' coarse places.
    const struct {
        double beta, gamma, misfit;
    } cases[] = {{0.15, 0.0344, 0.0},  {0.4, 0.0339, 0.0},  {0.3, 0.12, 0.0},
                 {0.41, 0.081, 0.0},   {0.298, 0.142, 0.5}, {0.3204, 0.147, 0.5},
                 {0.2473, 0.125, 0.5}, {0.37, 0.0618, 0.5}};
    for (const auto &c : cases) {
        double y[48], w[48], eps[48];
        uint32_t state = 12345;
        for (int i = 0; i < 48; i++) {
            const double n = i + 1.0;
            state = state * 1664525u + 1013904223u;
            const double off = c.misfit * (2.0 * (state >> 8) / double(1 << 24) - 1.0);
            y[i] = -std::log(n) + off +
                   std::log(std::fabs(std::sin(n * M_PI * c.beta) * std::sin(n * M_PI * c.gamma)) +
                            0.01);
            w[i] = 1.0;
            eps[i] = 0.01; // notches 40 dB deep, as a measured floor leaves them
        }
        dsp::comb_fit fit;
        fit.start(y, w, eps, 48);
        while (!fit.done())
            fit.step(1000);
        EXPECT_NEAR(fit.position(), c.beta, 0.002) << c.beta << " " << c.gamma;
        EXPECT_NEAR(fit.pickup(), c.gamma, 0.002) << c.beta << " " << c.gamma;
    }
}

TEST(Judge, AKnownPickupTakesTheOtherCombAndABadSampleTheConfidence) {
    double y[48], w[48], eps[48];
    for (int i = 0; i < 48; i++) {
        const double n = i + 1.0;
        y[i] = -std::log(n) +
               std::log(std::fabs(std::sin(n * M_PI * 0.3) * std::sin(n * M_PI * 0.12)) + 1e-4);
        w[i] = 1.0;
        eps[i] = 1e-4;
    }
    dsp::comb_fit fit;
    fit.start(y, w, eps, 48);
    while (!fit.done())
        fit.step(1000);
    dsp::note_measures m{196.0, 0.0, 0.0, 1234, true, 0.0};
    const dsp::pluck_estimate unknown = dsp::judge(fit, m);
    EXPECT_NEAR(unknown.position, 0.3, 0.003);
    EXPECT_NEAR(unknown.other, 0.12, 0.003);
    EXPECT_GT(unknown.confidence, 0.8);
    EXPECT_EQ(unknown.release_sample, 1234);
    m.pickup = 0.3;
    const dsp::pluck_estimate known = dsp::judge(fit, m);
    EXPECT_EQ(known.position, unknown.other);
    EXPECT_EQ(known.other, unknown.position);
    m.clean = false;
    EXPECT_EQ(dsp::judge(fit, m).confidence, 0.0);
    dsp::comb_fit nothing;
    nothing.start(y, w, eps, 3); // too few harmonics: no position
    const dsp::pluck_estimate none = dsp::judge(nothing, m);
    EXPECT_EQ(none.position, 0.0);
    EXPECT_EQ(none.f0, 196.0);
}

} // namespace
