// Where a string was plucked: for each note the tracker finds, the pluck point, an accurate
// fundamental and how well the note fits a plucked string, measured from the tracker's own
// history of the input and computed in bounded slices across audio blocks.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "position/comb_fit.h"
#include "position/held_release.h"
#include "position/input_history.h"
#include "position/note_detector.h"
#include "position/own_edge.h"
#include "position/partial_series.h"
#include "position/pitch_check.h"
#include "position/pitch_watch.h"
#include "position/pluck_estimate.h"
#include "position/release_search.h"
#include "position/rough_period.h"
#include "position/spectrum.h"

namespace dsp {

// How the latest estimate came about, for tests and evaluation.
struct pluck_details {
    double pickup;        // the other comb's position, 0 when none was found
    double residual;      // of the comb fit, nepers (root mean square)
    double spread;        // of the partials around the fitted series, in units of f0
    double aperiodicity;  // of the rough period search, 0..~1
    double inharmonicity; // B fitted to the partials
    double margin;        // of the comb fit: how clearly its comb stands out (>= 1)
    int used;             // harmonics the comb fit could use
    int partials;         // searched
    int window;           // samples analysed
};

// The method. A string released from rest at a fraction beta of its length vibrates in modes
// n = 1, 2, ... whose amplitudes follow |sin(n*pi*beta)| (the pluck comb) times a smooth
// envelope: 1/n^2 in displacement, 1/n in velocity, times |sin(n*pi*gamma)| for a pickup at
// gamma, and the faster decay of high modes. The tracker is a small state machine over its
// stages, each a type of its own:
//   note_detector   candidates: a sudden rise of energy, in one of three bands from 250 Hz to
//                   4 kHz, over anything recent (a dim one only where the input then leaves
//                   the period of the string that rang before: a new string under it);
//   release_search  the release itself, around a candidate;
//   rough_period    a rough period from the release on, searched again from 30 ms later
//                   and so on until its stretch reaches past the longest hold (a finger may
//                   still hold the string; no period at all: no note);
//   spectrum        a Hann window of four periods from the release, transformed, a longer
//                   one for the partials' frequencies, and one of 46 ms up to where the
//                   finger touched the string (the release, where no push was heard);
//   partial_series  the partials up the stretched series, f0 and B refitted as they are found;
//   pitch_watch     whether the input goes on repeating at that series' period (a string held
//                   ringing by the finger and let go without a rise leaves it), or never did
//                   (with no confidence: the push or a louder ringing string was measured): if
//                   so, the note is measured once more when its estimate is due;
//   held_release    where it left that period, and there the let-go's edge: its release;
//   pitch_check     whether that series is the note's own (and not a string that rang before
//                   the release, seen in a window that ends there); if not, the note is
//                   measured again, at most twice, from the one that is;
//   comb_fit        their log amplitudes fitted to the two-comb model;
//   own_edge        whether the edge a let-go replaced its note by repeats the input a period
//                   before it (a low string's recorded attack sharpening: its own edge come
//                   round): if so, the note is reported at the release of the note it cut;
//   judge()         the confidence, and which comb is the pluck's.
// A later candidate while a note is measured, or within confirm (150 ms) of its release before
// its estimate is out, replaces it: the first was the finger's push, a knock or the start of
// noise. A stretch without a release edge or a clear period is no note and ends silently (a
// rise within it that was set aside as its swelling is then taken up: it was the let-go), and
// so is a rise in the lowest band alone where the latest note's string was only fading;
// every other note ends with exactly one estimate, {0, f0, 0} (f0 possibly 0) when its partials
// or comb cannot be measured, or when a later note cuts its analysis short after its
// confirmation (the rough f0 then; a note whose comb fit alone is left finishes it first).
//
// Threads: prepare() and reset() allocate or clear and belong off the audio thread (at the chain
// build). push() and advance() allocate nothing, take no lock, do no I/O, and do work
// bounded by the block length: advance() spends at most units_per_sample * n units of work (a
// unit is about one butterfly of the transform), overrun by at most one indivisible step and, in
// the block a note's analysis ends in, the check of its edge (at most watch_units + 1).

class pluck_tracker {
  public:
    static constexpr double lowest_f0 = 40.0;    // Hz: below a bass's low E
    static constexpr double highest_f0 = 1500.0; // Hz: above a guitar's highest fret
    // A unit took about 2 ns where this was measured: 24 a sample are about 0.2% of real time at
    // 44.1 kHz, a fifth of the 1% a block may take; the rest is for slower machines, cold caches
    // and the rest of the object.
    static constexpr int units_per_sample = 24;
    // The fit's preparation (the floor, the final series fit in three rounds, the weights and
    // the comb fit's normal matrix and its inverse), indivisible: about as long as 1200
    // butterflies, as measured.
    static constexpr int64_t fit_setup_units = 1200;

    // Sizes every buffer for sample rate sr (Hz; clamped to 4000..768000) and blocks of up to
    // max_block samples (clamped to 1..65536). Allocates here, and only here.
    void prepare(double sr, int max_block);
    // Forgets the history and any note in progress.
    void reset();
    // The block's raw input, in stream order (n <= max_block: a longer block is stored whole,
    // but leaves the history shorter than planned). Non-finite samples are stored as 0.
    void push(const float *in, int n);
    // The known pickup position, a fraction of the length from the nearer end in (0, 0.5]; 0 (or
    // anything outside) for none. With it the comb fit holds a comb near g, and the comb nearer
    // g is the pickup's.
    void set_pickup(double g) { pickup_ = g > 0.0 && g <= 0.5 ? g : 0.0; }
    // Kept for callers of the gate's onsets; the tracker finds its notes itself.
    // Advances pending work; with spare false only the light first step runs. Returns true, once
    // per note, when the estimate is written to out.
    bool advance(int n, bool spare, pluck_estimate &out);

    // A note is being gathered or analysed, or its estimate waits for confirmation.
    bool busy() const { return stage_ != stage::idle || pending_; }
    // Stream index (samples pushed since reset) of the release found for the latest note, or -1.
    int64_t release_index() const { return release_.release(); }
    int64_t samples_pushed() const { return history_.total(); }
    // Work units the last advance() spent (the release search's count a sample each).
    int64_t last_units() const { return last_units_; }
    double sample_rate() const { return sr_; }
    // Of the estimate advance() last gave (a note measured again may give its first).
    pluck_details details() const { return details_; }

  private:
    pluck_details live_details() const {
        return {fit_.pickup(),
                fit_.residual(),
                partials_.spread(),
                period_.aperiodicity(),
                partials_.inharmonicity(),
                fit_.margin(),
                fit_.used(),
                partials_.count(),
                spectrum_.window()};
    }
    enum class stage {
        idle,
        locate, // where a string held ringing was let go: its release
        release,
        period,
        before,
        spectrum,
        fine,
        partials,
        watch,
        check,
        back, // where the note cut short by the string's own edge was released
        prepare_fit,
        fit
    };
    bool gathering() const { return stage_ == stage::release && release_.gathering(); }
    // Whether `e` was measured on a string still held (the input has since left its period), on
    // no free string (the input never repeated at its period, and `e` has no confidence), or
    // gave no position; if so, the note is measured again from now, its release placed where a
    // held string was let go (else where it was heard), or from a rise set aside after its
    // release, and `e` kept in reserve.
    bool measure_again(const pluck_estimate &e, const pluck_details &d);
    // Gives `e` as the note's estimate: always true.
    bool give(const pluck_estimate &e, const pluck_details &d, pluck_estimate &out);
    // Starts measuring the note again, `e` (and its details) kept in reserve.
    void begin_again(const pluck_estimate &e, const pluck_details &d);
    // Where the 150 ms of the note now measured run from: the later of its release and the rise
    // it was heard by (in noise the release search may place a push's edge up to 4 ms before
    // its rise, and a let-go 150 ms after that rise would be taken for the next note).
    int64_t confirmed_from() const { return std::max(release_.release(), note_start_); }
    // A rise at stream index i becomes the candidate, or is kept aside as the note's swelling.
    void take_rise(int64_t i, bool sharp) {
        if (candidate_ < 0) {
            first_rise_ = i;
            earlier_rise_ = -1;
        } else if (i >= candidate_ + release_.reach()) {
            earlier_rise_ = candidate_;
        }
        candidate_ = i;
        candidate_sharp_ = sharp;
    }
    void set_aside(int64_t i, bool sharp) {
        set_aside_ = i;
        set_aside_sharp_ = sharp;
    }
    // Sets rang_before_ to sounded_before(); the units spent.
    int64_t rang_before(double f0, int64_t release);
    // Whether the input's mean energy over the 30 ms from `at` (as far as it has arrived) is
    // below half of that over the 30 ms before; `units` gets what it cost.
    bool fell_after(int64_t at, int64_t &units) const;
    // Whether the input repeated at the period of f0 (Hz) over the 30 ms before `release` (true
    // where the history no longer holds them); `units` gets what it cost.
    bool sounded_before(double f0, int64_t release, int64_t &units) const;
    // Starts the watch on the series just found; the units spent.
    int64_t watch_from_here();
    // Whether the edge the note was heard by repeats the input a period before (its string's
    // own, come round: see own_edge); if so, the note is reported where the note it cut short
    // was released, searched for first where that was not yet found. The units spent.
    int64_t place_back();
    // Remembers the note a rise taken up now cuts short (see cut_rise_), as a let-go if `let_go`.
    void remember_cut(bool let_go);
    // The input's correlation with itself `lag` back over [from, to), taken over at most
    // watch_units samples; `units` gets what it cost.
    double correlation_at(int64_t from, int64_t to, int lag, int64_t &units) const;

    double sr_ = 0.0;
    int max_block_ = 0;
    int confirm_ = 0;     // samples after a release before its estimate is given
    int retry_delay_ = 0; // each period search again starts this much later than the last
    double pickup_ = 0.0; // known pickup position, 0 for none

    input_history history_;
    note_detector detector_;
    pitch_watch watch_; // the note's period still in the input
    // The latest estimate's period, watched while no note is in hand: a new string under a
    // ringing one may rise only dimly, but the input then leaves the ringing string's period.
    pitch_watch ringing_;
    int64_t dim_at_ = -1; // a dim rise waiting to learn whether it did, or -1
    bool dim_sharp_ = false;
    double dim_correlation_ = 0.0; // at the ringing period, where the dim rise came
    int dim_wait_ = 0;             // samples after the dim rise before that is judged
    int64_t dim_taken_ = -1;       // the latest dim rise taken for a note
    double latest_f0_ = 0.0;       // of the latest estimate given, Hz (0: none)
    // The correlation where the note was measured: a sample a unit (three products and sums),
    // at most this many samples.
    static constexpr int64_t watch_units = 1000;
    bool restarted_ = false;  // the note was measured again once already
    bool restarting_ = false; // the analysis running measures it again
    bool rang_before_ = true; // the series measured again sounded before the first release
    bool never_held_ = false; // it is measured again because its first period never held
    bool from_rise_ = false;  // it is measured again from a rise set aside within it
    double last_f0_ = 0.0;    // of the latest estimate given with a position, Hz (0: none)
    // The tests left on a note that may be the latest string still sounding: whether the
    // input's energy fell after its release, then whether its series sounded before it.
    enum class still { none, energy, period };
    still still_ = still::none;
    held_release held_;         // where it was let go
    bool placing_ = false;      // the release search places that let-go
    int64_t let_go_ = -1;       // the let-go placed, or -1
    pluck_estimate fallback_{}; // the note's first estimate
    pluck_details fallback_details_{}, waiting_details_{}, details_{};
    int64_t candidate_ = -1; // the latest candidate release not yet taken up, or -1
    // The first rise since the last was taken up: with large blocks several come in one, and
    // what came before is judged by when the new note was first heard, as with small blocks.
    int64_t first_rise_ = -1;
    int64_t earlier_rise_ = -1; // the latest of them on an edge before the candidate's, or -1
    int64_t note_start_ = -1;   // the candidate the note now measured or confirmed began with
    // The rise the finger's contact began with, when later rises were its let-go, else -1.
    int64_t contact_from_ = -1;
    // The note the latest let-go cut short, should that prove its string's own edge come round
    // again: the rise it began with and its release (-1 where not yet found), else -1 both.
    int64_t cut_rise_ = -1, cut_release_ = -1;
    // A note so placed back: its release as found, and where it is reported.
    int64_t put_back_from_ = -1, put_back_ = -1;
    release_search back_;        // places the release of the note cut short
    pluck_estimate concluded_{}; // the note's estimate while back_ places its release
    int64_t touched_ = -1;       // where the window of what rang before ends, once measured
    // The latest rise set aside as the note's own swelling, or -1: if that note proves no note
    // (no clear period: the finger still held the string there), the rise was its let-go.
    int64_t set_aside_ = -1;
    bool set_aside_sharp_ = false;
    bool candidate_sharp_ = false, note_sharp_ = false; // they rose at 1 or 4 kHz
    release_search release_;
    rough_period period_;
    spectrum spectrum_; // the partials' amplitudes
    spectrum fine_;     // their frequencies
    spectrum before_;   // what rang before the release
    bool have_before_ = false;
    partial_series partials_;
    pitch_check check_;
    comb_fit fit_;

    int64_t start_ = 0;      // the analysis's first sample
    int period_retries_ = 0; // times the period search has begun again from a later start
    int most_period_retries_ = 1;
    double period_samples_ = 0.0; // the rough period, or the corrected one once measured again
    static constexpr int most_remeasures = 2;
    // Two series within 3% are one (a series fit's f0 moves far less between measurements).
    static constexpr double same_series = 0.03;
    static bool one_series(double f, double g) { return std::fabs(f / g - 1.0) < same_series; }
    // Confidence below this is none: the fit found no comb it could tell from another.
    static constexpr double no_confidence = 0.05;
    // A string ringing on repeats at its period near 1 (a recorded loop at 0.999); a new string
    // under it takes that down by 0.2 to 0.6 within 60 ms.
    static constexpr double ringing_held = 0.8, ringing_fall = 0.15;
    int remeasured_ = 0;    // times the note was measured again from a corrected series
    double first_f0_ = 0.0; // the series first followed, Hz
    // The string found ringing under the note, once it is measured again from another series.
    double ringing_f0_ = 0.0, ringing_b_ = 0.0;
    stage stage_ = stage::idle;
    int64_t last_units_ = 0;
    bool pending_ = false; // an estimate waits until confirm_ after waiting_from_
    pluck_estimate waiting_{};
    int64_t waiting_from_ = 0;
};

} // namespace dsp
