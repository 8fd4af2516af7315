// Where a string was plucked: for each note that the gate finds, the pluck point, an accurate
// fundamental and how well the note fits a plucked string, measured from the tracker's own
// history of the input and computed in bounded slices across audio blocks.
#pragma once

#include <cstdint>
#include <vector>

#include "dsp/biquad.h"
#include "dsp/resumable_fft.h"
#include "position/comb_fit.h"
#include "position/note_detector.h"
#include "position/period_search.h"
#include "position/pluck_estimate.h"

namespace dsp {

// How the latest estimate came about, for tests and evaluation.
struct pluck_details {
    double pickup;        // the other comb's position, 0 when none was found
    double residual;      // of the comb fit, nepers (root mean square)
    double spread;        // of the partials around the fitted series, in units of f0
    double aperiodicity;  // of the rough period search, 0..~1
    double inharmonicity; // B fitted to the partials
    int partials;         // searched
    int window;           // samples analysed
};

// The method. A string released from rest at a fraction beta of its length vibrates in modes
// n = 1, 2, ... whose amplitudes follow |sin(n*pi*beta)| (the pluck comb) times a smooth
// envelope: 1/n^2 in displacement, 1/n in velocity, times |sin(n*pi*gamma)| for a pickup at
// gamma, and the faster decay of high modes. The tracker
//   1. finds the release itself (its first wave at the pickup): the first rise of the energy
//      of a 1 ms second difference to a tenth of its largest value in a stretch from one block
//      and 5 ms before the gate's onset block to 50 ms after it (the slow pull of a string
//      before the release has almost no such energy, and the gate may fire at its start);
//   2. finds a rough period from the release on, in a copy low-passed at 1 kHz and decimated
//      to about 5.5 kHz, over
//      14, 29 and then 58 ms (periods down to 1/160, 1/80 and 1/40 s), whichever first shows
//      a clear period;
//   3. takes a Hann window of four periods (at least 23 ms) from the release, transforms it, and
//      follows the partials upward, each one searched near n*f0*sqrt(1 + B*n^2) with f0 and the
//      inharmonicity B refitted as partials are found; peaks are refined by parabolas through
//      the log magnitudes; f0 is the final weighted fit;
//   4. fits the log amplitudes of up to 48 partials to the two-comb model (comb_fit), the comb
//      nearer the middle being the pluck point.
// Confidence: the product of three factors, each 1 for an ideal pluck: the period is clear
// (low aperiodicity at step 2), the partials lie on the harmonic series with at most a string's
// inharmonicity (their frequency spread around the fitted series), and their amplitudes follow
// the comb model (the residual of the fit). Noise bursts, struck bars and chords fail one or
// more of them. A note that held a non-finite sample gets confidence 0.
//
// One note: an onset while the tracker is idle starts a note when the input rises in it (the
// onset block's largest |sample| above twice the input's peak level before it, a level that
// decays with a time constant of 50 ms); an onset without such a rise is the gate reacting to
// the ringing of a note already measured (at small blocks the energy of a low string's pulses
// varies tenfold from block to block). Onsets while the tracker gathers or analyses belong to
// the note in progress and are ignored. Every note ends with exactly one estimate;
// when nothing can be measured (no release, no period, too few partials, or the history
// overwritten) it is {0, 0, 0}, or {0, f0, 0} when only the fundamental could be measured.
//
// Threads: prepare() and reset() allocate or clear and belong off the audio thread (at the chain
// build). push(), onset() and advance() allocate nothing, take no lock, do no I/O, and do work
// bounded by the block length: advance() spends at most about units_per_sample * n units of
// work (a unit is about one butterfly of the transform).

class pluck_tracker {
  public:
    static constexpr double lowest_f0 = 40.0;    // Hz
    static constexpr double highest_f0 = 1500.0; // Hz
    static constexpr int units_per_sample = 24;

    // Sizes every buffer for sample rate sr (Hz; clamped to 4000..768000) and blocks of up to
    // max_block samples (clamped to 1..65536). Allocates here, and only here.
    void prepare(double sr, int max_block);
    // Forgets the history and any note in progress.
    void reset();
    // The block's raw input, in stream order (n <= max_block: a longer block is stored whole,
    // but leaves the history shorter than planned). Non-finite samples are stored as 0.
    void push(const float *in, int n);
    // The known pickup position, a fraction of the length from the nearer end in (0, 0.5]; 0 (or
    // anything outside) for none. With it the comb nearer g is the pickup's.
    void set_pickup(double g) { pickup_ = g > 0.0 && g <= 0.5 ? g : 0.0; }
    // Kept for callers of the gate's onsets; the tracker finds its notes itself.
    void onset() {}
    // Advances pending work; with spare false only the light first step runs. Returns true, once
    // per note, when the estimate is written to out.
    bool advance(int n, bool spare, pluck_estimate &out);

    // A note is being gathered or analysed, or its estimate waits for confirmation.
    bool busy() const { return state_ != state::idle || pending_; }
    // Stream index (samples pushed since reset) of the release found for the latest note, or -1.
    int64_t release_index() const { return release_; }
    int64_t samples_pushed() const { return total_; }
    // Work units the last advance() spent (the release search's count a sample each).
    int64_t last_units() const { return last_units_; }
    double sample_rate() const { return sr_; }
    pluck_details details() const {
        return {fit_.pickup(),  fit_.residual(), spread_,    aperiodicity_,
                inharmonicity_, partial_count_,  window_len_};
    }

  private:
    enum class state {
        idle,
        search,
        release,
        rough_wait,
        rough_decimate,
        rough_period,
        window_wait,
        window,
        transform,
        partials,
        prepare_fit,
        fit,
    };
    double sample(int64_t i) const; // 0 before the stream's start
    double edge_energy(int64_t i) const;
    double power(int k) const; // |X[k]|^2 of the transformed window, k in [0, M]
    void fail(double f0);
    void final_series_fit();
    bool restart_on_multiple();
    void start_fit();
    pluck_estimate conclude() const;

    int64_t step_search(int64_t budget);
    int64_t step_release(int64_t budget);
    int64_t step_decimate(int64_t budget);
    bool conclude_period(); // false when no period: the next stretch, or the end
    int64_t step_window(int64_t budget);
    int64_t step_partials(int64_t budget);

    // Sizes.
    double sr_ = 0.0;
    int max_block_ = 0;
    int edge_ = 1;        // second-difference spacing of the release search, samples (1 ms)
    int pre_ = 0;         // search starts this far before the block before the onset block
    int after_ = 0;       // and ends this far after the onset block
    int decimation_ = 1;  // of the rough period search
    int stretch_[3] = {}; // rough period stretches, samples
    int fft_max_ = 0;     // largest real transform length

    // History.
    std::vector<float> ring_;
    int64_t mask_ = 0;
    int64_t total_ = 0;     // samples pushed since reset
    int last_n_ = 0;        // length of the last block pushed
    int64_t last_bad_ = -1; // stream index of the latest non-finite sample
    note_detector detector_;
    int64_t candidate_ = -1; // the latest candidate release not yet taken up, or -1
    double pickup_ = 0.0;    // known pickup position, 0 for none
    void begin_note(int64_t at);
    int64_t last_units_ = 0;
    int confirm_ = 0;      // samples after a release before its estimate is given
    bool pending_ = false; // an estimate waits until confirm_ after its release
    pluck_estimate waiting_{};

    // The note in progress.
    state state_ = state::idle;
    int64_t start_ = 0, end_ = 0; // release search stretch [start_, end_)
    int64_t cursor_ = 0;          // next sample (search) or entry (release scan)
    std::vector<double> envelope_;
    double running_ = 0.0, largest_ = 0.0;
    bool scanning_max_ = true;
    int64_t release_ = -1, window_start_ = 0;

    int stretch_index_ = 0;
    struct section {
        biquad c;
        double z1, z2;
    };
    section lowpass_[2] = {};
    int64_t filtered_to_ = 0; // next input sample for the low-pass
    std::vector<double> decimated_;
    int decimated_len_ = 0;
    period_search period_;
    double period_samples_ = 0.0, aperiodicity_ = 1.0;

    int window_len_ = 0, fft_len_ = 0; // real lengths; the complex transform has fft_len_/2
    int zeroed_ = 0;                   // entries of re_/im_ cleared for the window
    std::vector<double> re_, im_;
    double hann_c_ = 0.0, hann_s_ = 0.0, hann_rc_ = 0.0, hann_rs_ = 0.0;
    resumable_fft fft_;

    static constexpr int max_partials = comb_fit::max_harmonics;
    // The fit's preparation (the floor, the final series fit, the weights and the comb fit's
    // normal matrix), indivisible: about as long as 400 butterflies.
    static constexpr int64_t fit_setup_units = 400;
    int partial_ = 0, partial_count_ = 0; // next partial (1-based) and how many were searched
    int restarts_ = 0;                    // searches begun again from a higher fundamental
    double f0_ = 0.0, inharmonicity_ = 0.0;
    double log_amp_[max_partials] = {}, power_[max_partials] = {};
    double freq_[max_partials] = {}, valley_[max_partials] = {};
    // Weighted least squares of (f_n / n)^2 on n^2, for f0 and B.
    struct series_fit {
        double sw = 0, su = 0, sv = 0, suv = 0, svv = 0, suu = 0;
        int found = 0, highest = 0;
        void add(double n, double freq, double w);
        bool solve(double &f0, double &b) const; // false (f0, b unchanged) without a fit
    };
    series_fit progress_; // as partials are found, weighted by their power
    bool peak_[max_partials] = {};
    double floor_ = 0.0, spread_ = 0.0;
    comb_fit fit_;
};

} // namespace dsp
