// The tracker's own copy of the raw input: a ring of the latest samples, indexed by stream
// position (samples pushed since reset), so a stage reads a note's samples long after their
// block, whatever the block size.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace dsp {

// prepare() allocates (off the audio thread); the rest allocates nothing, takes no lock and
// may run on the audio thread.
class input_history {
  public:
    // Room for at least `span` samples (rounded up to a power of two).
    void prepare(int64_t span);
    void reset();
    bool empty() const { return ring_.empty(); }

    // Appends a block; a non-finite sample is stored as 0 and remembered (last_bad()). Calls
    // each(value, index) for every sample as stored.
    template <class Each> void push(const float *in, int n, Each each) {
        for (int i = 0; i < n; i++) {
            float v = in[i];
            if (!std::isfinite(v)) {
                v = 0.0f;
                last_bad_ = total_ + i;
            }
            ring_[static_cast<size_t>((total_ + i) & mask_)] = v; // masked: inside the ring
            each(v, total_ + i);
        }
        total_ += n;
    }
    // Sample at stream index i; 0 before the stream's start. An index the ring no longer holds
    // (i < total() - size) reads whatever overwrote it: check holds() first.
    double sample(int64_t i) const {
        return i < 0 ? 0.0 : static_cast<double>(ring_[static_cast<size_t>(i & mask_)]);
    }
    // Whether sample i is still in the ring.
    bool holds(int64_t i) const { return !(i < oldest()); }
    int64_t oldest() const { return total_ - (mask_ + 1); } // the earliest index held (may be < 0)
    int64_t total() const { return total_; }                // samples pushed since reset
    int64_t last_bad() const { return last_bad_; } // stream index of the latest non-finite, or -1

  private:
    std::vector<float> ring_;
    int64_t mask_ = 0;
    int64_t total_ = 0;
    int64_t last_bad_ = -1;
};

} // namespace dsp
