// Where a string held ringing by the finger was let go. The note measured from the push was the
// held string; its release made no rise the detector heard, only a change of pitch. The input
// repeats at the held string's period up to the release and not after it: the first short
// stretch that no longer does lies just past the release.
#pragma once

#include <cstdint>

#include "position/input_history.h"
#include "position/stage.h"

namespace dsp {

// Stretches of 4 ms (shorter than a release's reflections take to blur the picture, longer
// than a sample's noise), each correlated with the input one held period back. A unit a sample
// (three products and sums); no allocation, usable on the audio thread.
class held_release {
  public:
    void prepare(double sr);
    // Searches [from, to) at lag `lag` (samples), from where the string was still held; from is
    // moved up to what the history holds with `reserve` samples still to arrive before the scan
    // gets under way.
    void begin(const input_history &h, int64_t from, int64_t to, int lag, int64_t reserve);
    stage_step step(const input_history &h, int64_t budget);
    // When done: the first sample of the first stretch that left the period after one stood at
    // it, or -1 for none (also where the history no longer held the string while still held).
    int64_t found() const { return found_; }
    // The stretch's length: the release lies less than two stretches before found().
    int stretch() const { return stretch_; }

  private:
    int stretch_ = 1, lag_ = 1;
    int64_t cursor_ = 0, to_ = 0, stretch_start_ = 0, found_ = -1;
    bool seen_held_ = false;
    double xy_ = 0.0, xx_ = 0.0, yy_ = 0.0;
    bool done_ = true;
};

} // namespace dsp
