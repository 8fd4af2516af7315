// Finds the releases of plucked notes in a stream by itself, sample by sample: the moment a
// string leaves the finger or plectrum sends a sharp edge along it, heard as a sudden rise of
// the input's high-frequency energy far above everything just before it (noise, a string still
// ringing, the finger's slow push).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace dsp {

// The energy e of a first difference over about 0.125 ms (a band around 4 kHz, above a body's
// resonances and the low partials that carry most of a note's energy), smoothed over 0.5 ms, is
// compared with the recent level as it stood 4 ms before (a release of up to 2 ms rises within
// that): the largest e of the past, decaying with a time constant of 50 ms. A candidate is a
// sample where e exceeds ten times that level and an absolute floor (-100 dBFS of a full-scale
// edge), the first of its rise; so a string's own periodic edges (up to 25 ms apart) or a
// burst's noise do not count again, while a release 10 dB above a held finger's push or a
// ringing string does.
// A candidate is not yet a note: whether a string then vibrates freely is for the estimate.
// No allocation; a few operations per sample; usable on the audio thread.
class note_detector {
  public:
    // Allocates (off the audio thread).
    void prepare(double sr);
    void reset();
    // Feeds one sample at stream index `index`; true when it is a candidate. Inline: it runs for
    // every input sample, in every block.
    bool feed(double x, int64_t index) {
        // at_ stays in [0, lag_], lag_ < max_lag: a ring of lag_ + 1 samples.
        const int oldest = at_ == lag_ ? 0 : at_ + 1;
        const double d = x - history_[oldest];
        history_[at_] = x;
        at_ = oldest;
        energy_ += smooth_ * (d * d - energy_);
        if (past_size_ == 0)
            return false;
        // The oldest entry of the ring: the level reference_seconds ago (past_at_ < size).
        double *const past = past_.data();
        const double reference = past[past_at_];
        level_ = std::max(energy_, level_ * decay_);
        past[past_at_] = level_;
        past_at_ = past_at_ + 1 == past_size_ ? 0 : past_at_ + 1;
        const bool above = index >= warm_ && energy_ > floor_energy && energy_ > rise * reference;
        const bool candidate = above && !rising_;
        rising_ = above;
        return candidate;
    }

  private:
    static constexpr double rise = 10.0;          // 10 dB above anything recent
    static constexpr double floor_energy = 1e-10; // (-100 dBFS)^2: below it, silence
    static constexpr int max_lag = 64;            // the difference's spacing stays below this
    double history_[max_lag] = {};
    int lag_ = 1, at_ = 0;
    double smooth_ = 0.0, decay_ = 0.0; // per sample
    double energy_ = 0.0, level_ = 0.0;
    std::vector<double> past_; // level_ over the last 4 ms, a ring
    size_t past_at_ = 0, past_size_ = 0;
    bool rising_ = false; // a candidate fired and e has not yet fallen below its reference
    int64_t warm_ = 0;    // no candidate before this index: the difference has no history yet
};

} // namespace dsp
