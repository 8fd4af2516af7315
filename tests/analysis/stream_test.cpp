// Whole streams through the object at several block sizes: one event per separated note, ratios
// only where the capture has a measurable pitch of at most 1500 Hz, "clip" for clipped attacks.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "dsp/pitch.h"
#include "pd_host.h"
#include "pitch_scratch.h"
#include "signals.h"

extern "C" void attackscope_tilde_setup(void);

namespace {

struct StreamResult {
    std::vector<int> analysis_blocks; // blocks that sent no energy
    std::vector<int> ratio_blocks;    // blocks that sent a shape ratio
    std::vector<int> clip_blocks;     // blocks that posted "clip"
    std::vector<double> pitches;      // the estimate of each analysis block's capture
};

StreamResult run(const std::vector<float> &audio, int n, float floor) {
    pdhost::clear_console();
    pdhost::Object obj("attackscope~");
    obj.dsp(n);
    obj.send_float(3, floor);
    pdhost::clear_console();
    StreamResult out;
    std::vector<double> history(static_cast<size_t>(4 * n), 0.0);
    const int blocks = static_cast<int>(audio.size()) / n;
    for (int b = 0; b < blocks; b++) {
        const float *block = audio.data() + static_cast<size_t>(b) * static_cast<size_t>(n);
        history.erase(history.begin(), history.begin() + n);
        history.insert(history.end(), block, block + n);
        const size_t energies = obj.outlet(2).size(), ratios = obj.outlet(1).size(),
                     lines = pdhost::console().size();
        obj.perform(block);
        if (obj.outlet(2).size() == energies) {
            out.analysis_blocks.push_back(b);
            out.pitches.push_back(signals::estimate_pitch(history.data(), 44100, 4 * n));
        }
        if (obj.outlet(1).size() > ratios)
            out.ratio_blocks.push_back(b);
        if (pdhost::console().size() > lines && pdhost::console().back() == "clip")
            out.clip_blocks.push_back(b);
    }
    return out;
}

constexpr int note_gap = 36000; // about 0.8 s between notes

std::vector<float> notes(const std::vector<double> &freqs, bool plucked, double level = 0.5) {
    std::vector<float> audio(static_cast<size_t>(note_gap) * (freqs.size() + 1), 0.0f);
    for (size_t i = 0; i < freqs.size(); i++) {
        const int start = 7001 + note_gap * static_cast<int>(i);
        if (plucked)
            signals::add_pluck(audio, start, freqs[i], 0.6, level, static_cast<uint32_t>(i + 1));
        else
            signals::add_tone(audio, start, freqs[i], 0.6, level, 12, 0.08);
    }
    return audio;
}

// Checks every analysis block's outcome against the capture it saw: no pitch of at most
// 1500 Hz drops the event silently, a clipped block posts "clip", any other sends a ratio.
void expect_outcomes(const std::vector<float> &audio, int n, const StreamResult &r) {
    std::vector<int> clips, ratios;
    for (size_t i = 0; i < r.analysis_blocks.size(); i++) {
        if (!(r.pitches[i] <= 1500.0))
            continue;
        const int b = r.analysis_blocks[i];
        const auto *block = audio.data() + static_cast<size_t>(b) * static_cast<size_t>(n);
        const bool clipped =
            std::count(block, block + n, 1.0f) + std::count(block, block + n, -1.0f);
        (clipped ? clips : ratios).push_back(b);
    }
    EXPECT_EQ(r.clip_blocks, clips);
    EXPECT_EQ(r.ratio_blocks, ratios);
}

class Streams : public ::testing::TestWithParam<int> {
  protected:
    static void SetUpTestSuite() { attackscope_tilde_setup(); }
};

TEST_P(Streams, EachSeparatedNoteIsOneEvent) {
    const int n = GetParam();
    for (bool plucked : {true, false}) {
        // Blocks much shorter than a period see each period's sharp edge in one block and not
        // in the next: a harmonic tone's energy then swings tenfold with no new note.
        if (!plucked && n < 373)
            continue;
        const std::vector<double> freqs = {82.41, 196.0, 440.0, 146.83, 329.63};
        const auto audio = notes(freqs, plucked);
        // For plucks the floor sits below every onset (12 and more) and above the energies of
        // the ringing string (5 at most), which swing more than tenfold within a period when
        // blocks are short.
        const StreamResult r = run(audio, n, plucked ? 8.0f : 0.0f);
        ASSERT_EQ(r.analysis_blocks.size(), freqs.size()) << (plucked ? "plucks" : "tones");
        for (size_t i = 0; i < freqs.size(); i++) {
            const int onset_block = (7001 + note_gap * static_cast<int>(i)) / n;
            EXPECT_LE(r.analysis_blocks[i] - onset_block, 2) << i;
        }
        expect_outcomes(audio, n, r);
        if (n >= 373)
            EXPECT_GE(r.ratio_blocks.size(), 2u) << "low notes may miss the pitch gate, not all";
        else
            EXPECT_TRUE(r.ratio_blocks.empty());
    }
}

TEST_P(Streams, TonesAbove1500HzSendNoRatio) {
    const int n = GetParam();
    std::vector<float> audio(static_cast<size_t>(note_gap) * 4, 0.0f);
    for (int i = 0; i < 3; i++)
        signals::add_tone(audio, 7001 + note_gap * i, 1800.0 + 1100 * i, 0.6, 0.5, 1, 0.08);
    const StreamResult r = run(audio, n, 0.0f);
    EXPECT_EQ(r.analysis_blocks.size(), 3u);
    EXPECT_TRUE(r.ratio_blocks.empty());
    expect_outcomes(audio, n, r);
}

TEST_P(Streams, ClippedAttacksPostClipUntilAnUnclippedBlock) {
    const int n = GetParam();
    auto audio = notes({441.0, 330.0}, false, 4.0);
    signals::clip(audio);
    const StreamResult r = run(audio, n, 0.0f);
    expect_outcomes(audio, n, r);
    // Each clipped analysis block is followed by another analysis block.
    for (int b : r.clip_blocks)
        EXPECT_NE(std::find(r.analysis_blocks.begin(), r.analysis_blocks.end(), b + 1),
                  r.analysis_blocks.end());
    if (n >= 373) {
        EXPECT_GE(r.clip_blocks.size(), 2u);
        EXPECT_EQ(r.ratio_blocks.size(), 2u); // each note measured once its attack stops clipping
    }
}

INSTANTIATE_TEST_SUITE_P(BlockSizes, Streams, ::testing::Values(64, 512, 1024, 2048));

} // namespace
