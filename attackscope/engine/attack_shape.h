// The steps of measuring one attack, over plain arrays: from a capture of four blocks and its
// fundamental frequency to the shape ratio. analyse_event strings them together.
//
// Indices count from the first (oldest) sample of the capture. Every read of the capture goes
// through capture_at(), which treats samples outside it as 0, as if the capture were padded with
// silence on both sides: peaks near either edge then still give a segment, and no read leaves
// the array.
#pragma once

namespace attack {

// Fixed high-pass applied to the capture before the envelope (zero state at the start).
void analysis_filter(const double *in, double *out, int count);

// The period-derived sizes of one event.
struct Period {
    double samples; // sr / f0
    int whole;      // the period truncated toward zero (at least 29 for f0 <= 1500 at 44100 Hz)
    int half;       // sr / f0 / 2.0 truncated: the envelope window length
    int hop;        // half / 2: the envelope hop
    int windows;    // envelope windows covering about 3.5 blocks of n samples (0 if too few)
};
Period period_of(int sr, double f0, int n);

// e[k] = energy of filtered[k*hop .. k*hop+half-1], k = 0..windows-1.
void envelope(const double *filtered, const Period &p, double *e);

// First k in 3..windows-2 where the envelope rises more than `rise` times over the window before
// and the next window keeps more than 1/rise of it (strict); 0 when there is none.
int attack_window(const double *e, int windows, double rise);

// First index in [begin, end) of the largest magnitude.
int peak_index(const double *capture, int begin, int end);

double capture_at(const double *capture, int count, int i);

// Distance back from `peak` to the first sign change (0 counts as positive), at most `whole`.
int sign_change_distance(const double *capture, int count, int peak, int whole);

// s[k] = capture_at(start + k), k = 0..length-1.
void copy_segment(const double *capture, int count, int start, int length, double *s);

// First lag of the smallest value below 99999999.0 (0 when none is below).
int minimum_lag(const double *r, int length);

// The minimum lag refined by a parabola through its neighbours, when it has both.
double refined_lag(const double *r, int length, int lag);

// 1 - (lag - 1) * f0 / sr, in the order of operations that fixes its rounding.
double shape_ratio(double lag, int sr, double f0);

// Ratios outside [0, 0.5], or NaN, fall back to the last accepted one.
double accepted_ratio(double ratio, double last);

// The value sent: the ratio times 240, or 0 / 100 (times 240) when the switch is exactly 1.
float output_value(double ratio, float two_valued);

} // namespace attack
