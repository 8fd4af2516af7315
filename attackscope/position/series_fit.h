// The stretched harmonic series of a stiff string, f_n = n f0 sqrt(1 + B n^2), fitted to
// measured partials by weighted least squares of (f_n / n)^2 on n^2.
#pragma once

namespace dsp {

// (f_n / n)^2 = f0^2 + f0^2 B n^2 is a straight line in n^2. The stretch B is taken only from
// four partials up to the eighth at least, where it explains a fifth of what a plain harmonic
// series leaves (weak partials pulled by noise otherwise make a stretch, and lower f0 with it),
// and is kept within [0, 2e-3] (beyond any string). Plain sums: usable on the audio thread.
struct series_fit {
    double sw = 0, su = 0, sv = 0, suv = 0, svv = 0, suu = 0;
    int found = 0, highest = 0;
    // Partial n at `freq` Hz with weight w; a non-finite value or a weight <= 0 is left out.
    void add(double n, double freq, double w);
    // false (f0, b unchanged) without a fit.
    bool solve(double &f0, double &b) const;
};

} // namespace dsp
