// Finds the releases of plucked notes in a stream by itself, sample by sample: the moment a
// string leaves the finger or plectrum sends a sharp edge along it, heard as a sudden rise of
// the input's energy far above everything just before it (noise, a string still ringing, the
// finger's slow push).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace dsp {

// Three bands watch the input: the energy e of a first difference over 0.125 ms (a band around
// 4 kHz, above a body's resonances and the low partials that carry most of a note's energy),
// over 0.5 ms (around 1 kHz: a low string's release, heard through a ringing higher one, may
// add little at 4 kHz) and over 2 ms (around 250 Hz: a low string under louder high ones, its
// release adding most where its own first partials lie; a difference over d is deaf at the
// multiples of 1/d, so a 500 Hz string's partials nearly vanish from this band). In each, e
// (smoothed over 0.5 ms) is compared with the recent level as it stood 4 ms before (a release
// of up to 2 ms rises within that): the largest e of the past, decaying with a time constant of
// 50 ms. A candidate is a sample where e of any band
// exceeds three times that band's level and an absolute floor (-100 dBFS of a full-scale edge),
// the first of a rise; so a string's own periodic edges (up to 25 ms apart) or a burst's noise
// do not count again (their e stays within twice its recent largest), while a release 5 dB
// above a held finger's push or a ringing string does.
// A faint candidate is the first of a rise of 2.5 times (4 dB) in any band: a low note under a
// louder ringing one may add no more than that, in every band; the tracker takes one only while
// it has no note in hand (within a note a faint rise is the note's own swelling or beating).
// A dim candidate, the first of a rise of 1.8 times (2.5 dB), is a note only where the string
// ringing before then stops repeating in the input: the tracker watches for that.
// A candidate is not yet a note: whether a string then vibrates freely is for the estimate,
// which also takes a rise in the lowest band alone, while a note that rose at 1 or 4 kHz is
// measured or confirmed, for that note's own (a release is at least as sharp as a push).
// No allocation; a few operations per sample; usable on the audio thread.
class note_detector {
  public:
    // Allocates (off the audio thread).
    void prepare(double sr);
    void reset();
    enum class rise { none, dim, faint, clear };
    // Feeds one sample at stream index `index`; whether a candidate begins there. One rise can
    // give a faint candidate and, a little later, a clear one. Inline: it runs for every input
    // sample, in every block.
    rise feed(double x, int64_t index) {
        high_.feed(x); // all bands see every sample
        low_.feed(x);
        deep_.feed(x);
        const bool clear = high_.clear | low_.clear | deep_.clear;
        const bool faint = high_.faint | low_.faint | deep_.faint;
        const bool dim = high_.dim | low_.dim | deep_.dim;
        const bool warm = index >= warm_;
        rise found = rise::none;
        if (clear && !rising_ && warm) {
            found = rise::clear;
            sharp_ = high_.clear | low_.clear;
        } else if (faint && !faint_rising_ && warm) {
            found = rise::faint;
            sharp_ = high_.faint | low_.faint;
        } else if (dim && !dim_rising_ && warm) {
            found = rise::dim;
            sharp_ = high_.dim | low_.dim;
        }
        rising_ = clear;
        faint_rising_ = faint;
        dim_rising_ = dim;
        return found;
    }
    // Whether the latest candidate rose in the 4 kHz or 1 kHz band, not in the lowest alone.
    bool sharp() const { return sharp_; }

  private:
    static constexpr double clear_rise = 3.0; // 5 dB above anything recent
    static constexpr double faint_rise = 2.5; // 4 dB
    // A new low string under a louder one ringing from its recorded loop rose 2.0-2.3 times.
    static constexpr double dim_rise = 1.8;
    static constexpr double floor_energy = 1e-10; // (-100 dBFS)^2: below it, silence
    static constexpr int max_lag = 256;           // the differences' spacing stays below this

    struct band {
        double history[max_lag] = {};
        int lag = 1, at = 0;
        double smooth = 0.0, decay = 0.0; // per sample
        double energy = 0.0, level = 0.0;
        bool clear = false, faint = false, dim = false; // energy rose above the level 4 ms before
        std::vector<double> past;                       // level over the last 4 ms, a ring
        size_t past_at = 0;

        void prepare(double sr, double spacing_seconds);
        void reset();
        void feed(double x) {
            // at stays in [0, lag], lag < max_lag: a ring of lag + 1 samples.
            const int oldest = at == lag ? 0 : at + 1;
            const double d = x - history[oldest];
            history[at] = x;
            at = oldest;
            energy += smooth * (d * d - energy);
            if (past.empty())
                return;
            // The oldest entry of the ring: the level 4 ms ago (past_at < size).
            const double reference = past[past_at];
            level = std::max(energy, level * decay);
            past[past_at] = level;
            past_at = past_at + 1 == past.size() ? 0 : past_at + 1;
            const bool heard = energy > floor_energy;
            // Without branches: with three thresholds, branching on each took 12 ns a sample.
            clear = heard & (energy > clear_rise * reference);
            faint = heard & (energy > faint_rise * reference);
            dim = heard & (energy > dim_rise * reference);
        }
    };
    band high_, low_, deep_;
    bool rising_ = false;       // a candidate fired and no band has yet fallen below its reference
    bool faint_rising_ = false; // likewise, faintly
    bool dim_rising_ = false;
    bool sharp_ = false;
    int64_t warm_ = 0; // no candidate before this index: the differences have no history yet
};

} // namespace dsp
