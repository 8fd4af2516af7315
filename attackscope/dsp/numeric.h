// Small double-precision routines shared by the pitch estimator and the event analysis.
// Stateless, allocation-free, safe on the audio thread; the caller owns every array.
#pragma once

#include "dsp/simd_level.h"

namespace dsp {

// Offset, in samples from y[1], of the vertex of the parabola through (-1, y[0]), (0, y[1]),
// (1, y[2]); positive toward y[2]. Works for a minimum or a maximum alike. A flat curvature is
// nudged (y[0] raised by 1/2147483647) rather than divided by; a result that is not a finite
// number within [-1, 1] gives 0.
double parabolic_offset(const double *y);

// r[k] = sum over j = 0..n-1-k of x[j] * x[j + k], for k = 0..n-1, summed in ascending j.
// Unnormalised: r[0] is the energy of x. Reads x[0..n-1], writes r[0..n-1]; n <= 0 writes nothing.
// Runs on the widest vector unit available; the result does not depend on which.
void autocorr_direct(const double *x, double *r, int n);

// The same on a chosen vector unit, which the processor must support; for tests and benchmarks.
void autocorr_direct_on(simd_level level, const double *x, double *r, int n);

// Index of the largest of x[0..n-1]; the first of equal maxima wins and NaN is never chosen.
// Returns 0 for n <= 0 (x is not read then).
int argmax_index(const double *x, int n);

} // namespace dsp
