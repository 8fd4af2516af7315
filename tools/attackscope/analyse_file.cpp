#include "analyse_file.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

#include "engine/engine.h"
#include "sound_source.h"

namespace {

// Pd computes its signals with subnormal numbers flushed to zero, as inputs and as results
// (denormals-are-zero and flush-to-zero on x86); the engine gives the plug-in's values only in the
// same mode. A subnormal sample then counts as silence. The mode is per thread: every thread
// that analyses a file sets it (analyse_file does).
void use_pd_float_mode() {
#if defined(__SSE__)
    _mm_setcsr(_mm_getcsr() | 0x8040);
#endif
}

// The object's life over one stream: a chain build for blocks of n, then the parameters as a
// patch sends them once DSP runs, then one perform call per block, its reports kept as rows.
class block_driver final : public engine_sink {
  public:
    block_driver(const run_options &options, int rate, std::vector<event_row> &rows)
        : options_(options), rate_(rate), rows_(rows) {}
    ~block_driver() { engine_release(e_); }
    block_driver(const block_driver &) = delete;
    block_driver &operator=(const block_driver &) = delete;

    bool start() {
        if (options_.position && !engine_enable_position(e_, options_.pickup))
            return false;
        if (!engine_reset(e_, options_.block) || !engine_reset_position(e_, rate_))
            return false;
        engine_params(e_) = options_.inlets; // after the reset, which restores the defaults
        return true;
    }

    // One block of the file. With `record` false (the silence after the file's end, played only
    // to let a note's position estimate finish) only notes are kept.
    void run(const float *in, bool record = true) {
        record_ = record;
        engine_run_block(e_, in, options_.block, *this);
        block_++;
    }

    // Silence after the end, as Pd's tabplay~ plays it, until the note in progress has its
    // estimate (two seconds at most: more than any note needs).
    void finish_note() {
        std::vector<float> silence(static_cast<std::size_t>(options_.block), 0.0f);
        for (int played = 0; engine_position_busy(e_) && played < 2 * rate_;
             played += options_.block)
            run(silence.data(), false);
    }

    void energy(float sent) override {
        last_energy_ = sent;
        if (record_ && options_.energies)
            rows_.push_back(
                {event_row::kind::energy, block_, block_seconds(block_), 0.0f, 0.0, sent, 0.0, {}});
    }
    void onset() override {
        onset_block_ = block_;
        onset_energy_ = last_energy_;
    }
    void event(const event_outcome &o) override {
        if (!record_)
            return;
        event_row row{kind_of(o.what),
                      onset_block_,
                      block_seconds(onset_block_),
                      onset_energy_,
                      o.f0,
                      o.sent,
                      o.ratio,
                      {}};
        if (o.what != event_outcome::kind::ratio)
            row.sent = 0.0f, row.ratio = 0.0;
        rows_.push_back(row);
    }
    void note(const dsp::pluck_estimate &p) override {
        // A note whose release was never found is placed in the block that ended it.
        const int64_t at = p.release_sample >= 0 ? p.release_sample : block_ * options_.block;
        rows_.push_back({event_row::kind::note, at / options_.block,
                         static_cast<double>(at) / rate_, 0.0f, 0.0, 0.0f, 0.0, p});
    }

  private:
    static event_row::kind kind_of(event_outcome::kind k) {
        switch (k) {
        case event_outcome::kind::ratio:
            return event_row::kind::ratio;
        case event_outcome::kind::dropped:
            return event_row::kind::dropped;
        case event_outcome::kind::clip:
            return event_row::kind::clip;
        case event_outcome::kind::none:
            break;
        }
        return event_row::kind::none;
    }

    double block_seconds(int64_t block) const {
        return static_cast<double>(block) * options_.block / rate_;
    }

    const run_options &options_;
    int rate_;
    std::vector<event_row> &rows_;
    attackscope_engine e_{}; // zero-filled, as Pd creates the object's record
    int64_t block_ = 0;
    bool record_ = true;
    float last_energy_ = 0.0f;
    int64_t onset_block_ = 0;
    float onset_energy_ = 0.0f;
};

} // namespace

file_analysis analyse_file(const std::string &path, const run_options &options) {
    use_pd_float_mode();
    file_analysis result;
    sound_source source(path, options.channel, options.resample, attackscope_analysis_rate);
    if (!source.ok()) {
        result.error = source.error();
        return result;
    }
    if (source.resampled()) {
        char note[160];
        std::snprintf(note, sizeof note, "%d Hz, resampled to %d Hz", source.file_rate(),
                      source.rate());
        result.note = note;
    }
    block_driver driver(options, source.rate(), result.rows);
    if (!driver.start()) {
        result.error = "out of memory for the analysis";
        return result;
    }
    // Whole blocks only: the samples after the last whole block are fewer than one block and
    // are not analysed, so every value printed belongs to a block made of the file's samples.
    const auto n = static_cast<std::size_t>(options.block);
    std::vector<float> block(n);
    std::size_t samples = 0;
    for (std::size_t got; (got = source.read(block.data(), n)) > 0;) {
        samples += got;
        if (got < n)
            break;
        driver.run(block.data());
    }
    driver.finish_note();
    // A note's row is written when its estimate is ready, after rows of later events: in time
    // order, each where its onset lies (the designed rows keep their order among themselves).
    std::stable_sort(result.rows.begin(), result.rows.end(),
                     [](const event_row &a, const event_row &b) { return a.onset_s < b.onset_s; });
    if (!source.ok())
        result.error = source.error();
    result.audio_seconds = static_cast<double>(samples) / source.rate();
    return result;
}
