#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <vector>

#include "dsp/resumable_fft.h"
#include "plucked_string.h"
#include "position/comb_fit.h"
#include "position/period_search.h"
#include "position/pluck_position.h"
#include "signals.h"

namespace {

// ---- the sliced transform

std::vector<std::complex<double>> direct_dft(const std::vector<double> &re,
                                             const std::vector<double> &im) {
    const size_t n = re.size();
    std::vector<std::complex<double>> out(n);
    for (size_t k = 0; k < n; k++)
        for (size_t m = 0; m < n; m++)
            out[k] += std::complex<double>(re[m], im[m]) *
                      std::polar(1.0, -2.0 * M_PI * static_cast<double>(m * k % n) /
                                          static_cast<double>(n));
    return out;
}

TEST(ResumableFft, AgreesWithDirectDftWhateverTheSlices) {
    dsp::resumable_fft fft;
    fft.prepare(1024);
    signals::Noise noise(3);
    for (int size : {2, 4, 8, 64, 512, 1024}) {
        std::vector<double> re(static_cast<size_t>(size)), im(re.size());
        for (size_t i = 0; i < re.size(); i++) {
            re[i] = noise.next();
            im[i] = noise.next();
        }
        const auto expected = direct_dft(re, im);
        std::vector<double> first_re;
        for (int64_t budget : {int64_t{1}, int64_t{7}, int64_t{1} << 40}) {
            std::vector<double> r = re, i = im;
            fft.start(r.data(), i.data(), size);
            int steps = 0;
            while (!fft.done() && steps < 1 << 22) {
                EXPECT_LE(fft.step(budget),
                          std::max<int64_t>(budget, 3)); // one reordering index at least
                steps++;
            }
            ASSERT_TRUE(fft.done());
            for (size_t k = 0; k < r.size(); k++) {
                EXPECT_NEAR(r[k], expected[k].real(), 1e-9 * size) << size << " " << k;
                EXPECT_NEAR(i[k], expected[k].imag(), 1e-9 * size) << size << " " << k;
            }
            if (first_re.empty())
                first_re = r;
            else
                EXPECT_EQ(r, first_re) << "slicing changed the result at size " << size;
        }
    }
}

TEST(ResumableFft, ReorderedInputSkipsTheReordering) {
    dsp::resumable_fft fft;
    fft.prepare(16);
    std::vector<double> re(16), im(16, 0.0), rr(16), ri(16, 0.0);
    for (int i = 0; i < 16; i++) {
        re[static_cast<size_t>(i)] = i * 0.25 - 1.0;
        int j = 0;
        for (int b = 0, v = i; b < 4; b++, v >>= 1)
            j = (j << 1) | (v & 1);
        rr[static_cast<size_t>(j)] = re[static_cast<size_t>(i)];
    }
    fft.start(re.data(), im.data(), 16);
    while (!fft.done())
        fft.step(100);
    fft.start(rr.data(), ri.data(), 16, true);
    while (!fft.done())
        fft.step(100);
    EXPECT_EQ(re, rr);
    EXPECT_EQ(im, ri);
}

TEST(ResumableFft, InvalidLengthsAreEmpty) {
    dsp::resumable_fft fft;
    fft.prepare(64);
    std::vector<double> re(128, 1.0), im(128, 0.0);
    for (int size : {0, 1, 3, 48, 128}) {
        fft.start(re.data(), im.data(), size);
        EXPECT_TRUE(fft.done()) << size;
    }
    EXPECT_EQ(re, std::vector<double>(128, 1.0));
}

// ---- the rough period

TEST(PeriodSearch, FindsThePeriodOfAHarmonicToneAndNoneInNoise) {
    dsp::period_search search;
    search.prepare(200);
    std::vector<double> tone(600), noise(600);
    signals::Noise n(5);
    for (size_t t = 0; t < tone.size(); t++) {
        const double phase = 2.0 * M_PI * static_cast<double>(t) / 37.3;
        tone[t] = std::sin(phase) + 0.5 * std::sin(2 * phase + 1) + 0.3 * std::sin(3 * phase);
        noise[t] = n.next();
    }
    search.start(tone.data(), 600, 2, 200, 0.15);
    while (!search.done())
        search.step(50);
    EXPECT_NEAR(search.period(), 37.3, 0.2);
    EXPECT_LT(search.aperiodicity(), 0.1);

    search.start(noise.data(), 600, 2, 200, 0.15);
    while (!search.done())
        search.step(1 << 20);
    EXPECT_GT(search.aperiodicity(), 0.5);

    // Lags beyond the prepared maximum, or a stretch too short for them: no search at all.
    search.start(tone.data(), 600, 2, 201, 0.15);
    EXPECT_TRUE(search.done());
    EXPECT_EQ(search.period(), 0.0);
    search.start(tone.data(), 150, 2, 150, 0.15);
    EXPECT_TRUE(search.done());
}

// ---- the comb fit

struct model_amplitudes {
    double y[dsp::comb_fit::max_harmonics], w[dsp::comb_fit::max_harmonics],
        eps[dsp::comb_fit::max_harmonics];
};

model_amplitudes two_combs(double beta, double gamma, double tilt, int count, double floor = 1e-4) {
    model_amplitudes m{};
    for (int i = 0; i < count; i++) {
        const double n = i + 1.0;
        const double comb = std::fabs(std::sin(n * M_PI * beta) * std::sin(n * M_PI * gamma));
        m.y[i] = -tilt * std::log(n) + std::log(comb + floor);
        m.w[i] = 1.0;
        m.eps[i] = floor;
    }
    return m;
}

double fit_position(const model_amplitudes &m, int count, double *pickup = nullptr,
                    double *residual = nullptr, double known_pickup = 0.0) {
    dsp::comb_fit fit;
    fit.start(m.y, m.w, m.eps, count, known_pickup);
    while (!fit.done())
        fit.step(37);
    if (pickup)
        *pickup = fit.pickup();
    if (residual)
        *residual = fit.residual();
    return fit.position();
}

TEST(CombFit, RecoversBothCombsAndReportsTheOneNearerTheMiddle) {
    for (double beta : {0.07, 0.2, 0.33, 0.5}) {
        double pickup = 0, residual = 0;
        EXPECT_NEAR(fit_position(two_combs(beta, 0.04, 1.0, 48), 48, &pickup, &residual), beta,
                    0.003);
        EXPECT_NEAR(pickup, 0.04, 0.01) << beta;
        EXPECT_LT(residual, 0.05) << beta;
    }
    // Two combs whose pair lies between the pickup's coarse places (a place moves a comb's
    // notches by up to a few harmonics): found, not one comb or a pair beside them.
    struct pair {
        double beta, gamma, floor;
        int count;
    };
    for (const pair c : {pair{0.2201, 0.1667, 1e-4, 35}, pair{0.1472, 0.1327, 0.0014, 38},
                         pair{0.2939, 0.2031, 0.0017, 26}}) {
        double pickup = 0;
        EXPECT_NEAR(
            fit_position(two_combs(c.beta, c.gamma, 1.0, c.count, c.floor), c.count, &pickup),
            c.beta, 0.003)
            << c.beta << " " << c.gamma;
        EXPECT_NEAR(pickup, c.gamma, 0.003) << c.beta << " " << c.gamma;
    }
    // The combs are interchangeable: the one farther from the end is the position.
    EXPECT_NEAR(fit_position(two_combs(0.06, 0.3, 2.0, 48), 48), 0.3, 0.003);
    // With a known pickup the pluck comb is fitted beside it.
    for (double beta : {0.15, 0.33}) {
        double pickup = 0;
        const double found = fit_position(two_combs(beta, 0.1, 1.0, 48), 48, &pickup, nullptr, 0.1);
        EXPECT_NEAR(found, beta, 0.003);
        EXPECT_NEAR(pickup, 0.1, 0.003) << beta;
    }
}

TEST(CombFit, FollowsASmoothRollOffWithoutTakingItForAComb) {
    // A wide finger released slowly: its spectrum falls as a sinc's main lobe, a bend that the
    // tilt and the linear decay alone answered with a comb near the end.
    for (double beta : {0.13, 0.22, 0.31, 0.44}) {
        model_amplitudes m = two_combs(beta, 0.04, 1.0, 40);
        for (int i = 0; i < 40; i++) {
            const double n = i + 1.0, x = M_PI * n / 45.0;
            m.y[i] = -std::log(n) + std::log(std::fabs(std::sin(n * M_PI * beta)) + 1e-4) +
                     std::log(std::sin(x) / x);
        }
        EXPECT_NEAR(fit_position(m, 40), beta, 0.003) << beta;
    }
}

TEST(CombFit, ASecondCombMustEarnItsPlace) {
    // One comb, its partials scattered by 0.3 nepers as a body or a ringing string leaves them:
    // a second comb fits the scatter a little better, never enough to be kept.
    signals::Noise scatter(5);
    int paired = 0, wrong = 0;
    for (double beta : {0.12, 0.15, 0.22, 0.27, 0.31, 0.36}) {
        model_amplitudes m = two_combs(beta, 0.04, 1.0, 30);
        for (int i = 0; i < 30; i++) {
            const double n = i + 1.0;
            m.y[i] = -std::log(n) + std::log(std::fabs(std::sin(n * M_PI * beta)) + 1e-2) +
                     0.3 * scatter.next();
            m.eps[i] = 1e-2;
        }
        double pickup = 0;
        wrong += std::fabs(fit_position(m, 30, &pickup) - beta) > 0.02;
        paired += pickup > 0.0;
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_LE(paired, 1);
}

TEST(CombFit, OneHarmonicOffTheModelIsNoSecondComb) {
    // A noise peak, a ringing string's partial or a body's resonance moves one partial of few: a
    // second comb's notch or hump fits that harmonic, not the string.
    struct off {
        double beta;
        int count, harmonic;
        double by; // nepers
    };
    signals::Noise scatter(7);
    int paired = 0, wrong = 0, cases = 0;
    for (const off c : {off{0.3, 10, 4, -1.5}, off{0.36, 8, 2, -1.5}, off{0.25, 9, 6, -1.5},
                        off{0.4, 10, 5, 1.2}, off{0.2, 12, 8, -1.5}, off{0.45, 9, 3, -1.5},
                        off{0.33, 24, 1, 1.5}, off{0.18, 24, 13, -1.5}}) {
        model_amplitudes m = two_combs(c.beta, 0.04, 1.0, c.count);
        for (int i = 0; i < c.count; i++) {
            const double n = i + 1.0;
            m.y[i] = -std::log(n) + std::log(std::fabs(std::sin(n * M_PI * c.beta)) + 1e-2) +
                     (i + 1 == c.harmonic ? c.by : 0.0) + 0.1 * scatter.next();
            m.eps[i] = 1e-2;
        }
        double pickup = 0;
        const double found = fit_position(m, c.count, &pickup);
        wrong += std::fabs(found - c.beta) > 0.02;
        paired += pickup > 0.0;
        cases++;
    }
    EXPECT_EQ(paired, 0) << "of " << cases;
    EXPECT_EQ(wrong, 0) << "of " << cases;
}

TEST(CombFit, TooFewHarmonicsGiveNoPosition) {
    model_amplitudes m = two_combs(0.3, 0.04, 1.0, 4);
    EXPECT_EQ(fit_position(m, 4), 0.0);
    m = two_combs(0.3, 0.04, 1.0, 20);
    for (int i = 0; i < 20; i++)
        m.y[i] = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(fit_position(m, 20), 0.0);
}

// ---- the tracker

struct played {
    std::vector<dsp::pluck_estimate> estimates;
    std::vector<int64_t> at; // samples pushed when each arrived
};

// Plays `audio` in blocks of n; the block after each one listed (by index) is busy, as the
// object's analysis block after an onset.
played play(dsp::pluck_tracker &tracker, const std::vector<float> &audio, int n,
            const std::vector<size_t> &onset_blocks, bool busy_after_onset = true) {
    played p;
    std::vector<float> in(static_cast<size_t>(n));
    bool busy = false;
    for (size_t b = 0; b * in.size() < audio.size() + 20000; b++) {
        for (size_t i = 0; i < in.size(); i++) {
            const size_t j = b * in.size() + i;
            in[i] = j < audio.size() ? audio[j] : 0.0f;
        }
        tracker.push(in.data(), n);
        const bool onset =
            std::find(onset_blocks.begin(), onset_blocks.end(), b) != onset_blocks.end();
        dsp::pluck_estimate e{-1, -1, -1, -1, -2};
        if (tracker.advance(n, !busy, e)) {
            p.estimates.push_back(e);
            p.at.push_back(tracker.samples_pushed());
        }
        busy = onset && busy_after_onset;
    }
    return p;
}

signals::rendered_note pluck(double f0, double beta, bool velocity, int rate = 44100,
                             int lead = 3000) {
    signals::string_pluck p;
    p.f0 = f0;
    p.position = beta;
    p.pickup = 0.03;
    p.velocity = velocity;
    p.rate = rate;
    p.seconds = 0.35;
    return signals::render_string(p, lead);
}

size_t pull_block(const signals::rendered_note &note, int n, int rate) {
    return static_cast<size_t>((note.release - static_cast<int>(0.03 * rate)) / n);
}

TEST(PluckTracker, CleanPlucksAtEveryOutput) {
    struct item {
        double f0, beta;
        bool velocity;
    };
    for (const item c : {item{82.4, 0.2, true}, item{196.0, 0.35, false}, item{440.0, 0.12, true},
                         item{41.2, 0.5, false}, item{659.3, 0.27, false}}) {
        dsp::pluck_tracker tracker;
        tracker.prepare(44100, 64);
        const auto note = pluck(c.f0, c.beta, c.velocity);
        const played p = play(tracker, note.samples, 64, {pull_block(note, 64, 44100)});
        ASSERT_EQ(p.estimates.size(), 1u) << c.f0;
        EXPECT_NEAR(p.estimates[0].position, c.beta, 0.05) << c.f0;
        EXPECT_NEAR(p.estimates[0].f0, c.f0, 0.005 * c.f0);
        EXPECT_GT(p.estimates[0].confidence, 0.5) << c.f0;
        EXPECT_LE(p.estimates[0].confidence, 1.0);
        // The release itself is found, not the gate's block in the pull: its first wave reaches
        // the pickup within half a period.
        // (The estimate's own release: the note's abrupt end is a candidate of its own.)
        const int64_t release = p.estimates[0].release_sample;
        EXPECT_GE(release, note.release - 0.002 * 44100) << c.f0;
        EXPECT_LE(release, note.release + 0.5 * 44100 / c.f0 + 0.002 * 44100);
        // Within about a quarter of a second of the release (a 41 Hz string's takes 250 ms).
        EXPECT_LT(p.at[0] - note.release, 0.26 * 44100) << c.f0;
    }
}

TEST(PluckTracker, LowConfidenceForNoiseBarsAndChords) {
    dsp::pluck_tracker tracker;
    tracker.prepare(44100, 64);
    // A burst of noise has no period: no note at all, or one of low confidence.
    const auto burst = signals::render_noise_burst(0.3, 0.05, 0.6, 9, 44100, 3000);
    played p = play(tracker, burst.samples, 64, {3000 / 64});
    ASSERT_LE(p.estimates.size(), 1u);
    if (!p.estimates.empty()) {
        EXPECT_LT(p.estimates[0].confidence, 0.2);
    }

    const auto bar = signals::render_bar(330.0, 0.35, 0.6, 44100, 3000);
    p = play(tracker, bar.samples, 64, {3000 / 64});
    ASSERT_EQ(p.estimates.size(), 1u);
    EXPECT_LT(p.estimates[0].confidence, 0.2);

    auto chord = pluck(110.0, 0.2, true);
    signals::mix_into(chord, pluck(110.0 * std::pow(2.0, 4 / 12.0), 0.33, true));
    signals::mix_into(chord, pluck(110.0 * std::pow(2.0, 7 / 12.0), 0.41, true));
    p = play(tracker, chord.samples, 64, {pull_block(chord, 64, 44100)});
    ASSERT_EQ(p.estimates.size(), 1u);
    EXPECT_LT(p.estimates[0].confidence, 0.2);
}

TEST(PluckTracker, OneEstimatePerNoteAndOnsetsWhileGatheringIgnored) {
    dsp::pluck_tracker tracker;
    tracker.prepare(44100, 64);
    const auto note = pluck(196.0, 0.3, true);
    // Two notes a second apart, the gate firing in every block of the first half second of each.
    std::vector<float> audio(note.samples);
    audio.resize(44100, 0.0f);
    audio.insert(audio.end(), note.samples.begin(), note.samples.end());
    std::vector<size_t> onsets;
    const size_t first = pull_block(note, 64, 44100);
    // (every third block: the gate holds off between events, so analysis blocks stay apart)
    for (size_t b = first; b < first + 340; b += 3) {
        onsets.push_back(b);
        onsets.push_back(b + 44100 / 64);
    }
    const played p = play(tracker, audio, 64, onsets);
    ASSERT_EQ(p.estimates.size(), 2u);
    for (const auto &e : p.estimates)
        EXPECT_NEAR(e.position, 0.3, 0.03);
    EXPECT_GT(p.at[1], 44100);
}

TEST(PluckTracker, FindsNotesWithoutTheGateAndAClickIsNone) {
    dsp::pluck_tracker tracker;
    tracker.prepare(44100, 64);
    const auto note = pluck(110.0, 0.3, true);
    const played found = play(tracker, note.samples, 64, {});
    ASSERT_EQ(found.estimates.size(), 1u);
    EXPECT_NEAR(found.estimates[0].position, 0.3, 0.02);
    EXPECT_FALSE(tracker.busy());
    // A click rises like a release but leaves no period: no note.
    std::vector<float> click(20000, 0.0f);
    click[700] = 0.5f;
    EXPECT_TRUE(play(tracker, click, 64, {10}).estimates.empty());
    EXPECT_FALSE(tracker.busy());
}

TEST(PluckTracker, ResetForgetsANoteInProgress) {
    dsp::pluck_tracker tracker;
    tracker.prepare(44100, 64);
    const auto note = pluck(110.0, 0.3, true);
    std::vector<float> head(note.samples.begin(), note.samples.begin() + note.release + 640);
    play(tracker, head, 64, {pull_block(note, 64, 44100)});
    tracker.reset();
    EXPECT_FALSE(tracker.busy());
    EXPECT_TRUE(play(tracker, std::vector<float>(30000, 0.0f), 64, {}).estimates.empty());
}

TEST(PluckTracker, NonFiniteAndHugeInputEndInOneResult) {
    const float specials[3] = {std::numeric_limits<float>::quiet_NaN(),
                               std::numeric_limits<float>::infinity(),
                               -std::numeric_limits<float>::max()};
    for (int k = 0; k < 3; k++) {
        dsp::pluck_tracker tracker;
        tracker.prepare(44100, 64);
        auto note = pluck(196.0, 0.3, true);
        for (size_t i = static_cast<size_t>(note.release) + 500; i < note.samples.size(); i += 97)
            note.samples[i] = specials[k];
        const played p = play(tracker, note.samples, 64, {pull_block(note, 64, 44100)});
        ASSERT_EQ(p.estimates.size(), 1u) << k;
        const auto &e = p.estimates[0];
        EXPECT_TRUE(std::isfinite(e.position) && std::isfinite(e.f0) &&
                    std::isfinite(e.confidence));
        EXPECT_GE(e.confidence, 0.0);
        EXPECT_LE(e.confidence, 1.0);
        if (k < 2) {
            EXPECT_EQ(e.confidence, 0.0) << "a note with non-finite samples";
        }
    }
    dsp::pluck_tracker tracker; // every sample huge
    tracker.prepare(44100, 64);
    std::vector<float> loud(20000, 3e38f);
    for (size_t i = 0; i < loud.size(); i += 2)
        loud[i] = -3e38f;
    const played p = play(tracker, loud, 64, {0});
    ASSERT_EQ(p.estimates.size(), 1u);
    EXPECT_TRUE(std::isfinite(p.estimates[0].confidence));
}

TEST(PluckTracker, EveryBlockSizeAndSampleRate) {
    struct item {
        int rate, block;
    };
    for (const item c : {item{44100, 1}, item{44100, 64}, item{44100, 100}, item{44100, 2048},
                         item{22050, 64}, item{48000, 512}, item{96000, 64}, item{192000, 2048}}) {
        dsp::pluck_tracker tracker;
        tracker.prepare(c.rate, c.block);
        const auto note = pluck(220.0, 0.22, true, c.rate, c.rate / 10);
        const played p = play(tracker, note.samples, c.block, {pull_block(note, c.block, c.rate)});
        ASSERT_EQ(p.estimates.size(), 1u) << c.rate << " " << c.block;
        EXPECT_NEAR(p.estimates[0].position, 0.22, 0.03) << c.rate << " " << c.block;
        EXPECT_NEAR(p.estimates[0].f0, 220.0, 0.5) << c.rate << " " << c.block;
    }
}

TEST(PluckTracker, UnpreparedOrOddSetupsAreSafe) {
    dsp::pluck_tracker idle;
    const float x[4] = {0.1f, -0.2f, 0.3f, 0.0f};
    idle.push(x, 4);
    dsp::pluck_estimate e{};
    EXPECT_FALSE(idle.advance(4, true, e));
    for (double sr : {std::numeric_limits<double>::quiet_NaN(), 0.0, -5.0, 1e9}) {
        dsp::pluck_tracker t;
        t.prepare(sr, 0);
        EXPECT_GT(t.sample_rate(), 0.0);
        t.push(x, 4);
        t.advance(4, true, e);
    }
}

} // namespace

namespace {

TEST(PluckTracker, ANoteStillAnalysedWhenTheNextComesGetsItsRow) {
    // At blocks of 2048 a low string's analysis outlasts the 150 ms confirmation: a note 170 ms
    // later (10 dB above it, so that it is a note of its own) must not take the first one's row
    // with it. 200 ms later the first is in its comb fit, which it finishes before the next note
    // is taken up: it keeps its position.
    const auto low = pluck(41.2, 0.3, true, 44100, 3000);
    const auto high = pluck(220.0, 0.2, true, 44100, 3000);
    for (const double later : {0.17, 0.2}) {
        dsp::pluck_tracker tracker;
        tracker.prepare(44100, 2048);
        std::vector<float> audio(low.samples);
        for (float &v : audio)
            v *= 0.1f;
        const size_t second = static_cast<size_t>(low.release + later * 44100 - high.release);
        audio.resize(std::max(audio.size(), second + high.samples.size()), 0.0f);
        for (size_t i = 0; i < high.samples.size(); i++)
            audio[second + i] += high.samples[i];
        const played p = play(tracker, audio, 2048, {});
        ASSERT_EQ(p.estimates.size(), 2u) << later;
        EXPECT_NEAR(static_cast<double>(p.estimates[0].release_sample), low.release, 0.01 * 44100);
        EXPECT_NEAR(p.estimates[0].f0, 41.2, 0.01 * 41.2);
        if (later > 0.17) {
            EXPECT_NEAR(p.estimates[0].position, 0.3, 0.02);
        }
        EXPECT_NEAR(p.estimates[1].position, 0.2, 0.02) << later;
    }
}

} // namespace
