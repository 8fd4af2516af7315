// The engine driven directly, as the sound-file analyser drives it, against the object in the
// in-process host, as Pd drives it: the same stream gives the same events, block for block and
// bit for bit, including a patch that changes the floor in reaction to an energy.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "pd_host.h"
#include "signals.h"

extern "C" void attackscope_tilde_setup(void);

namespace {

// One thing a block did: 'E' an energy sent, 'R' a ratio sent, 'C' "clip" posted.
struct Event {
    int block;
    char what;
    uint32_t bits;
    bool operator==(const Event &) const = default;
};

struct Settings {
    float onset_factor = 10, floor = 0, holdblocks = 5, filtersel = 1, twovalued = 0;
    // A patch that answers every energy above this by raising the floor to it (0: none).
    float raise_floor_above = 0;
};

// The test's sink: records what each block reports, and plays the reacting patch.
class recording_sink final : public engine_sink {
  public:
    recording_sink(attackscope_engine &e, const Settings &s) : e_(e), s_(s) {}
    void energy(float sent) override {
        out.push_back({block, 'E', std::bit_cast<uint32_t>(sent)});
        if (s_.raise_floor_above > 0 && sent > s_.raise_floor_above)
            engine_params(e_).x_floor = sent;
    }
    void event(const event_outcome &o) override {
        if (o.what == event_outcome::kind::ratio)
            out.push_back({block, 'R', std::bit_cast<uint32_t>(o.sent)});
        else if (o.what == event_outcome::kind::clip)
            out.push_back({block, 'C', 0});
    }
    std::vector<Event> out;
    int block = 0;

  private:
    attackscope_engine &e_;
    const Settings &s_;
};

std::vector<Event> through_engine(const std::vector<float> &audio, int n, const Settings &s) {
    attackscope_engine e{};
    EXPECT_TRUE(engine_reset(e, n));
    attackscope_params &p = engine_params(e);
    p.x_onsetratio = s.onset_factor;
    p.x_floor = s.floor;
    p.x_holdblocks = s.holdblocks;
    p.x_filtersel = s.filtersel;
    p.x_twovalued = s.twovalued;
    recording_sink sink(e, s);
    for (; (sink.block + 1) * n <= static_cast<int>(audio.size()); sink.block++)
        engine_run_block(e, audio.data() + sink.block * n, n, sink);
    engine_release(e);
    return sink.out;
}

std::vector<Event> through_object(const std::vector<float> &audio, int n, const Settings &s) {
    pdhost::Object obj("attackscope~");
    obj.dsp(n);
    obj.send_float(1, s.onset_factor);
    obj.send_float(3, s.floor);
    obj.send_float(4, s.holdblocks);
    obj.send_float(5, s.filtersel);
    obj.send_float(6, s.twovalued);
    std::vector<Event> out;
    int b = 0;
    obj.on_outlet(2, [&](float sent) {
        out.push_back({b, 'E', std::bit_cast<uint32_t>(sent)});
        if (s.raise_floor_above > 0 && sent > s.raise_floor_above)
            obj.send_float(3, sent);
    });
    obj.on_outlet(1, [&](float sent) { out.push_back({b, 'R', std::bit_cast<uint32_t>(sent)}); });
    pdhost::clear_console();
    for (; (b + 1) * n <= static_cast<int>(audio.size()); b++) {
        const size_t lines = pdhost::console().size();
        obj.perform(audio.data() + b * n);
        for (size_t i = lines; i < pdhost::console().size(); i++)
            out.push_back({b, pdhost::console()[i] == "clip" ? 'C' : '?', 0});
    }
    return out;
}

// Plucks from low to high, a loud clipped note, a tone above 1500 Hz and silence between.
std::vector<float> mixed_stream() {
    std::vector<float> audio(44100 * 5, 0.0f);
    const double freqs[] = {41.2, 98.0, 196.0, 392.0, 784.0};
    for (int i = 0; i < 5; i++)
        signals::add_pluck(audio, 3000 + 22050 * i, freqs[i], 0.6, 0.5, static_cast<uint32_t>(i));
    std::vector<float> loud(audio.size(), 0.0f);
    signals::add_pluck(loud, 3000 + 22050 * 6, 220.0, 0.5, 3.0, 9);
    signals::clip(loud);
    signals::add_tone(audio, 3000 + 22050 * 8, 2500.0, 0.3, 0.4, 1, 0.05);
    for (size_t i = 0; i < audio.size(); i++)
        audio[i] += loud[i];
    return audio;
}

class EngineStream : public ::testing::TestWithParam<int> {
  protected:
    static void SetUpTestSuite() { attackscope_tilde_setup(); }
};

TEST_P(EngineStream, SameEventsAsTheObjectBitForBit) {
    const int n = GetParam();
    const auto audio = mixed_stream();
    Settings plain;
    Settings busy; // every block may be an onset; no hold-off; filter set 2; two-valued output
    busy.onset_factor = 0;
    busy.floor = 5;
    busy.holdblocks = 0;
    busy.filtersel = 2;
    busy.twovalued = 1;
    Settings reacting; // the patch's new floor counts for the block whose energy it answers
    reacting.raise_floor_above = 20;
    for (const Settings *s : {&plain, &busy, &reacting}) {
        const auto engine = through_engine(audio, n, *s);
        const auto object = through_object(audio, n, *s);
        ASSERT_EQ(engine.size(), object.size()) << "block size " << n;
        for (size_t i = 0; i < engine.size(); i++)
            ASSERT_EQ(engine[i], object[i]) << "event " << i << ", block size " << n;
        const auto ratios = std::count_if(engine.begin(), engine.end(),
                                          [](const Event &e) { return e.what == 'R'; });
        if (n >= 373 && s == &plain) {
            EXPECT_GT(ratios, 0) << "block size " << n;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(BlockSizes, EngineStream, ::testing::Values(1, 64, 373, 1000, 2048));

// Engines share nothing: run side by side in threads, at different block sizes (so different
// transform lengths and rotations), each gives exactly what it gives alone.
TEST(EngineThreads, EnginesInThreadsGiveWhatEachGivesAlone) {
    const auto audio = mixed_stream();
    const int sizes[] = {2048, 512, 1024, 2048};
    std::vector<std::vector<Event>> alone, together(std::size(sizes));
    for (const int n : sizes)
        alone.push_back(through_engine(audio, n, Settings{}));
    std::vector<std::thread> threads;
    for (size_t i = 0; i < std::size(sizes); i++)
        threads.emplace_back([&, i] { together[i] = through_engine(audio, sizes[i], Settings{}); });
    for (std::thread &t : threads)
        t.join();
    for (size_t i = 0; i < std::size(sizes); i++)
        EXPECT_EQ(together[i], alone[i]) << "block size " << sizes[i];
}

} // namespace
