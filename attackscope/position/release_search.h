// Where a note's string left the finger: around a candidate of the note detector, the first
// rise of the energy of a 1 ms second difference to a tenth of its largest value.
#pragma once

#include <cstdint>
#include <vector>

#include "position/input_history.h"
#include "position/stage.h"

namespace dsp {

// The slow pull of a string before the release has almost no second-difference energy; the
// release's edge has much. The search stretch runs from 4 ms before the candidate (the
// detector's reference: the rise began after it) to 12 ms after it (a soft release's edge is
// past by then). Its steps: the energy over the stretch as its samples arrive (a unit a sample,
// light enough for every block), then its largest value, then the first sample reaching a tenth
// of it. prepare() allocates; the rest may run on the audio thread.
class release_search {
  public:
    void prepare(double sr, int max_block);
    // Forgets the release found.
    void reset();
    // A new search around candidate sample `at`, forgetting any other. With `steepest`, the
    // release is where the energy rises most within 1 ms instead: a string held ringing loudly
    // reaches a tenth of its let-go's energy before the let-go.
    void begin(int64_t at, bool steepest = false);
    // One step of at most `budget` units. In a block that is not `spare` (the designed analysis
    // has it) only the energy runs, over at most the block's n samples, and the stage waits.
    stage_step step(const input_history &h, int64_t budget, bool spare, int n);
    // Still gathering the energy: the only work of a designed analysis block.
    bool gathering() const { return phase_ == phase::energy; }

    int64_t start() const { return start_; }     // the stretch's first sample
    int64_t release() const { return release_; } // the release found, or -1
    // Where the note's analysis starts: a little before the release (the string is still before
    // it, and the first edge is not cut).
    int64_t window_start() const { return window_start_; }
    int edge() const { return edge_; }
    int span() const { return pre_ + after_; }
    int reach() const { return after_; } // the stretch ends this far after the candidate

  private:
    enum class phase { energy, largest, first };
    double edge_energy(const input_history &h, int64_t i) const;
    double rise(int64_t i) const; // of the envelope over the edge_ up to entry i

    int edge_ = 1;  // second-difference spacing, samples (1 ms)
    int pre_ = 0;   // the stretch starts this far before the candidate
    int after_ = 0; // and ends this far after it
    std::vector<double> envelope_;
    phase phase_ = phase::energy;
    int64_t start_ = 0, end_ = 0; // the stretch [start_, end_)
    int64_t cursor_ = 0;          // next sample (energy) or entry (scans)
    double running_ = 0.0, largest_ = 0.0;
    bool steepest_ = false;
    double steepest_rise_ = 0.0;
    int64_t release_ = -1, window_start_ = 0;
};

} // namespace dsp
