// Whether the series the partials were followed on is the note's own: its places hold clear
// peaks in the frequency window. A rough period can be a fraction of the true one (the strong
// partials are the true one's even or every third) or belong to something else (a body's thump
// below a high note, which the rough period's 1 kHz low-pass favours); then the note is measured
// again from the series that fits.
#pragma once

#include <cstdint>

#include "position/spectrum.h"
#include "position/stage.h"

namespace dsp {

// A place k f sqrt(1 + B k^2) is clear when the largest power within 0.15 f of it stands 10 dB
// above both valleys half-way to its neighbours. Candidates, in order:
//   f / m for m = 2..4, judged on the places between the found ones alone (half of them clear
//   and holding a little of the power, or fewer holding more);
//   f m for m = 2..8, when the found series' places off the multiples of m hold next to none of
//   its power (a sub-harmonic followed from a body's resonance or a sympathetic string);
//   when the found series rang as strongly before the release (a string still ringing), the
//   peaks that rose take the place of the strongest below;
//   when fewer than a third of the found series' first 12 places are clear (a string plucked at
//   its middle leaves half of them), p / k for the three
//   strongest peaks p below 2 kHz and k = 1..4, the one with most places clear (at least 60%,
//   and 25 points more than the found series).
// Bounded work in steps (a bin a unit, one candidate a step at most): the audio thread may run
// it.
class pitch_check {
  public:
    void prepare(double sr, double lowest_f0, double highest_f0);
    // The series found: f0 (Hz) and B, searched over `partials` places; `before`, when not
    // null, the window that ends where the finger touched the string, or at the release (it must
    // outlive the check).
    void begin(double f0, double inharmonicity, int partials, const spectrum *before = nullptr);
    stage_step step(const spectrum &fine, int64_t budget);
    // When done: the fundamental to measure the note again from, or 0 to keep the found one.
    double corrected() const { return corrected_; }
    // The series found, when it rang before the release (f0 0 otherwise).
    double ringing_f0() const { return ringing_ ? f0_ : 0.0; }
    double ringing_inharmonicity() const { return ringing_ ? b_ : 0.0; }

  private:
    // Share of the places k = 1..count (those off the multiples of `skip` when skip > 1) that
    // are clear; the places counted go to `places`.
    double clear_share(const spectrum &fine, double f, double b, int count, int skip, int &places,
                       int64_t &units) const;
    // Share of the power at the places k = 1..count of the series f, b that lies off the
    // multiples of m.
    double off_share(const spectrum &fine, double f, double b, int m, int count,
                     int64_t &units) const;
    // The power `before` held within width_hz of hz, scaled to the frequency window's length.
    double before_power(const spectrum &fine, double hz, double width_hz, int64_t &units) const;
    // How many times the power at the first places of the series f, b rose over `before`. For
    // the found series: judged by its peaks as series_rose judges a candidate's, a ringing
    // string's places hold the new note's partials beside them too often.
    double series_rise(const spectrum &fine, double f, double b, int64_t &units) const;
    // Whether the series f, b rose over `before` at its first places (with between > 1, at the
    // places off its multiples alone): their power by ringing_rise, or half of it at places that
    // each rose so.
    bool series_rose(const spectrum &fine, double f, double b, int between, int64_t &units) const;
    // The three strongest peaks (those that rose, when the found series was ringing).
    void strongest_peaks(const spectrum &fine, int64_t &units);

    double sr_ = 0.0, lowest_f0_ = 0.0, highest_f0_ = 0.0;
    double f0_ = 0.0, b_ = 0.0;
    int partials_ = 0;
    // Next candidate: -1 whether the series rang before, 0..2 the fractions, 3..9 the
    // multiples, then 10 + 4 * peak + (k - 1).
    int cursor_ = 0;
    const spectrum *before_ = nullptr;
    bool ringing_ = false; // the found series rang before the release
    double found_share_ = 0.0, best_share_ = 0.0;
    double peaks_[3] = {};
    int peak_count_ = 0;
    double corrected_ = 0.0;
    bool done_ = true;
};

} // namespace dsp
