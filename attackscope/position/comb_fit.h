// Fits the harmonic amplitudes of a note to the spectrum of a plucked string observed at a point:
// a smooth envelope times |sin(n*pi*beta)| (the pluck point) times |sin(n*pi*gamma)| (the
// observation point), found by a staged search that runs in bounded slices.
#pragma once

#include <cstdint>

namespace dsp {

// The model, for harmonics n = 1..count, in natural logarithms:
//   y[n] = c0 + c1*ln(n) + c2*n + c3*n^2 + ln(|sin(n*pi*beta) * sin(n*pi*gamma)| + eps[n])
// c0 the level, c1 the spectral tilt (velocity, displacement, and the 1/n of a point near an
// end), c2 the faster decay of high modes, c3 the bend of a smooth roll-off (a finger's width
// and its release time act as a low-pass whose logarithm falls as n^2 first; charged, and over
// fewer than 12 harmonics all but barred, where it would follow the comb's hump); eps[n] is the
// floor below which a measured amplitude says nothing (noise or leakage, relative to the envelope).
// The fit minimises the weighted squared residual over (beta, gamma), with c0..c3 solved exactly
// for each pair. gamma may also be "none" (no second comb; its near-end 1/n slope is then part of
// c1), and is so unless the pair lowers n*ln(rss) by more than 1.5 ln(n), n the harmonics used, and
// still does so with each fit's worst-fitting harmonic left out. The two combs are
// interchangeable: the result has beta >= gamma. start() and step() allocate nothing and may run
// on the audio thread.
class comb_fit {
  public:
    static constexpr int max_harmonics = 48;
    static constexpr int terms = 4;          // of the envelope: c0..c3
    static constexpr int pickup_places = 50; // the second comb's coarse places, 0.01 apart

    // Copies y, weight and eps for harmonics 1..count (index 0 is harmonic 1); count is clamped
    // to [0, max_harmonics]. Non-finite entries get weight 0.
    // With a known pickup position (in (0, 0.5]; anything else for none) the scan of beta holds
    // its comb and the second comb is looked for only near it.
    void start(const double *y, const double *weight, const double *eps, int count,
               double known_pickup = 0.0);
    // At most about `budget` units (four units: one harmonic of one trial), at least one trial.
    int64_t step(int64_t budget);
    bool done() const { return stage_ == stage::done; }

    double position() const { return beta_; } // (0, 0.5]; 0 when nothing could be fitted
    double pickup() const { return gamma_; }  // [0, beta]; 0 for "none"
    // Root of the weighted mean squared residual at the best fit (nepers); +inf when no fit.
    double residual() const { return residual_; }
    // How clearly the pluck's comb stands out: the scan of beta's least residual sum of squares
    // at pluck positions more than 0.03 from the result, over the least near it (>= 1; 1 when
    // the scan did not run). The scan is the first, of one comb, or with a pickup comb found
    // 0.08 or more from the end, the second, with it. Partials that fit several combs about
    // equally give near 1.
    double margin() const { return margin_; }
    // Harmonics with a weight: those the fit could use.
    int used() const { return used_; }

  private:
    enum class stage { coarse, pickup, refine, simpler, done };
    // Weighted residual sum of squares; notches no deeper than `shallowest` under the envelope.
    double trial(double beta, double gamma, double shallowest = 0.0) const;
    // The same without the harmonic that fits worst there (+inf when nothing could be fitted).
    double trial_without_worst(double beta, double gamma) const;
    // The residuals y - ln(comb + eps) of a trial, before the envelope.
    void comb_residuals(double beta, double gamma, double *r, double shallowest = 0.0) const;
    // The envelope's normal matrix over the harmonics but `skip` (-1 for none), inverted.
    bool envelope_inverse(int skip, double (&out)[terms][terms]) const;
    // Its right-hand side for residuals r, and their weighted square, likewise.
    void envelope_sums(const double *r, int skip, double (&b)[terms], double &rr) const;
    // What the envelope fitted with that inverse takes off the weighted square.
    static double explained(const double (&b)[terms], const double (&inverse)[terms][terms]);
    // Whether a pair with residual sum pair_rss earns its second comb over one with single_rss.
    static bool earns(double single_rss, double pair_rss, int used);
    double refine_place(int i) const; // the i-th place of the refinement's current round
    void take_single();               // the better comb of the pair alone
    void next_stage();
    void finish(); // the result from the best trial

    int count_ = 0;
    double known_gamma_ = 0.0; // 0: none
    double y_[max_harmonics] = {}, w_[max_harmonics] = {}, eps_[max_harmonics] = {};
    double log_n_[max_harmonics] = {};
    double inverse_[terms][terms] = {}; // of the normal matrix of c0..c3
    double weight_sum_ = 0.0;
    bool solvable_ = false;

    stage stage_ = stage::done;
    int cursor_ = 0; // trial index within the stage
    // Coarse stage: the two best local minima in beta (no second comb).
    double coarse_rss_[100] = {};
    double cand_beta_[2] = {}, cand_gamma_[2] = {}, cand_rss_[2] = {};
    double fine_centre_ = 0.0;             // of the pickup's fine places, for the candidate scanned
    double second_centre_ = 0.0;           // the best other local minimum's place
    double gamma_rss_[pickup_places] = {}; // the coarse places' residuals, likewise
    int refine_round_ = 0;
    double best_beta_ = 0.0, best_gamma_ = 0.0, best_rss_ = 0.0;
    double single_rss_[2] = {};   // each comb of the best pair alone
    int single_ = 0;              // the better of them
    double single_trimmed_ = 0.0; // that comb's without its worst harmonic
    double round_rss_[100] = {};  // the longest round is the coarse grid
    double beta_ = 0.0, gamma_ = 0.0, residual_ = 0.0, margin_ = 1.0;
    int used_ = 0;
};

} // namespace dsp
