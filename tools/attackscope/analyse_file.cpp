#include "analyse_file.h"

#include <cstdio>
#include <vector>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

#include "engine/engine.h"
#include "sound_source.h"

namespace {

constexpr int analysis_rate = 44100; // the rate the engine's analysis assumes

// Pd computes its signals with subnormal numbers flushed to zero, as inputs and as results
// (denormals-are-zero and flush-to-zero on x86); the engine gives the plug-in's values only in the
// same mode. A subnormal sample then counts as silence. The mode is per thread, and the workers of
// --jobs inherit it.
void use_pd_float_mode() {
#if defined(__SSE__)
    _mm_setcsr(_mm_getcsr() | 0x8040);
#endif
}

// The object's life over one stream: a chain build for blocks of n, then the parameters as a
// patch sends them once DSP runs, then one perform call per block.
class block_driver {
  public:
    block_driver(const run_options &options, int rate, std::vector<event_row> &rows)
        : options_(options), rate_(rate), rows_(rows) {}
    ~block_driver() { engine_release(e_); }
    block_driver(const block_driver &) = delete;
    block_driver &operator=(const block_driver &) = delete;

    bool start() {
        use_pd_float_mode();
        if (options_.position && !engine_enable_position(e_))
            return false;
        if (!engine_reset(e_, options_.block) || !engine_reset_position(e_, rate_))
            return false;
        // After the reset, which restores the defaults of all but the floor.
        const inlet_settings &in = options_.inlets;
        e_.x_onsetratio = in.onset_factor;
        e_.x_peakratio = in.peak_factor;
        e_.x_floor = in.floor;
        e_.x_holdblocks = in.holdoff;
        e_.x_filtersel = in.filter;
        e_.x_twovalued = in.two_valued;
        return true;
    }

    // One block of the file. With `record` false (the silence after the file's end, played only
    // to let a note's position estimate finish) nothing but the estimate is kept.
    void run(const float *in, bool record = true) {
        const int n = options_.block;
        const bool was_busy = estimate_busy(e_);
        const block_start b = engine_begin_block(e_, in, n);
        if (!record) {
            if (b.analysis)
                engine_analyse(e_, n, b.clipped);
            else
                engine_decide(e_, b.energy);
        } else if (!b.analysis) {
            const float sent = energy_value(b.energy);
            if (options_.energies)
                rows_.push_back({event_row::kind::energy, block_, block_seconds(block_), 0.0f, 0.0,
                                 sent, 0.0, std::nullopt});
            if (engine_decide(e_, b.energy)) {
                onset_block_ = block_;
                onset_energy_ = sent;
                // A new note when the estimate took the onset up; onsets while it gathers, or
                // on the ringing of a note already measured, belong to that note.
                if (!was_busy && estimate_busy(e_))
                    gathering_ = true;
            }
        } else {
            const event_outcome o = engine_analyse(e_, n, b.clipped);
            event_row row{kind_of(o.what), onset_block_, block_seconds(onset_block_),
                          onset_energy_,   o.f0,         o.sent,
                          o.ratio,         std::nullopt};
            if (o.what != event_outcome::kind::ratio)
                row.sent = 0.0f, row.ratio = 0.0;
            if (gathering_)
                waiting_.push_back(rows_.size());
            else
                row.position = latest_;
            rows_.push_back(row);
        }
        if (const auto p = engine_estimate(e_, n, b.analysis)) {
            latest_ = p;
            gathering_ = false;
            for (std::size_t row : waiting_)
                rows_[row].position = p;
            waiting_.clear();
        }
        block_++;
    }

    // Silence after the end, as Pd's tabplay~ plays it, until the note in progress has its
    // estimate (two seconds at most: more than any note needs).
    void finish_note() {
        std::vector<float> silence(static_cast<std::size_t>(options_.block), 0.0f);
        for (int played = 0; gathering_ && played < 2 * rate_; played += options_.block)
            run(silence.data(), false);
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
    int64_t onset_block_ = 0;
    float onset_energy_ = 0.0f;
    bool gathering_ = false;                  // the estimate works on a note
    std::vector<std::size_t> waiting_;        // rows of that note, waiting for its estimate
    std::optional<position_estimate> latest_; // of the last note measured
};

} // namespace

file_analysis analyse_file(const std::string &path, const run_options &options) {
    file_analysis result;
    sound_source source(path, options.channel, options.resample, analysis_rate);
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
    if (!source.ok())
        result.error = source.error();
    result.audio_seconds = static_cast<double>(samples) / source.rate();
    return result;
}
