// Mixed-radix complex FFT for any length whose prime factors are at most 1024.
#pragma once

#include <cstddef>

#include "dsp/simd_level.h"

namespace dsp {

// The largest radix the transform accepts; it sizes the workspace's arrays of one butterfly.
inline constexpr int maxPrimeFactor = 1024;

// Most stages any positive int length needs: at most one radix is 2, every other one is 3 or more.
inline constexpr int fft_max_stages = 19;

// Lengths up to this keep their stage rotations in the workspace from call to call.
inline constexpr int fft_rotation_cache_max = 8192;

// Everything a transform writes besides its outputs: the arrays of a general butterfly, the
// rotations of the last length up to fft_rotation_cache_max (made exactly as the running rotation
// would make them, so a repeated length skips that work and gives the same bits), and the
// rotations of longer lengths, made a bounded chunk at a time. One workspace serves one
// transform at a time: the caller owns it (about 230 KiB: allocate it, not on the stack), and
// two threads, or two objects at different lengths, each use their own and never disturb each
// other. Created empty; nothing else is needed before the first call.
struct fft_workspace {
    static constexpr int pair_table_size = (maxPrimeFactor + 1) / 2;
    static constexpr int rotation_chunk = 256;
    static constexpr int max_dedicated_radix = 10;

    double work_re[maxPrimeFactor], work_im[maxPrimeFactor];
    double root_re[maxPrimeFactor], root_im[maxPrimeFactor];
    double rot_re[maxPrimeFactor], rot_im[maxPrimeFactor];
    double sum_re[pair_table_size], dif_im[pair_table_size];
    double dif_re[pair_table_size], sum_im[pair_table_size];
    int cached_length = 0; // the length whose rotations are in cached_re/im; 0: none
    int cached_offset[fft_max_stages + 1];
    double cached_re[fft_rotation_cache_max], cached_im[fft_rotation_cache_max];
    double chunk_re[(max_dedicated_radix - 1) * rotation_chunk];
    double chunk_im[(max_dedicated_radix - 1) * rotation_chunk];
};

// Forward complex DFT, unscaled, exponent sign minus, output in natural order:
//   X[k] = sum over m = 0..N-1 of x[m] * exp(-2*pi*i*m*k/N),  k = 0..N-1,
// with x[m] = (in_re[m], in_im[m]) and X[k] = (out_re[k], out_im[k]). No division by N.
// Reads in_re/in_im[0..N-1], leaving them unchanged; writes every element of out_re/out_im[0..N-1].
// The caller owns all four arrays; the outputs must not overlap the inputs. N < 1 does nothing.
// A length with a prime factor above maxPrimeFactor is fatal: two lines go to standard output
// and the process exits with status 1, before anything is written to the outputs.
// Work grows with N times the sum of the radices (an odd prime radix R above 10 costs about R
// real products per point of its stage). Writes only the outputs and ws; allocates nothing and
// takes no lock, so it may run on the audio thread. Calls with different workspaces may run at
// once in any threads; the result does not depend on what ws held before.
void fft_transform(fft_workspace &ws, int N, const double *in_re, const double *in_im,
                   double *out_re, double *out_im);

// The same on a chosen vector unit, which the processor must support; the result is the same on
// every one. For tests and benchmarks.
void fft_transform_on(simd_level level, fft_workspace &ws, int N, const double *in_re,
                      const double *in_im, double *out_re, double *out_im);

// The radices the transform uses for length N >= 1, in the order its stages run: writes
// radices[0..K-1] (K <= fft_max_stages) and returns K. N = 1 gives the single radix 1; N < 1
// writes nothing and returns 0.
// Power-of-two lengths of 4 or more use only 4 and 8. Pure function; the transform's planner.
int fft_split_length(int N, int *radices);

// Four arrays of N doubles for a transform and the one after it (input and output, real and
// imaginary parts), laid out in one block so that they start on cache lines and the two parts of
// one index fall into distant cache sets: with power-of-two lengths the late stages touch eight
// lines a power of two apart, and two arrays a multiple of 4 KiB apart would put all sixteen into
// one set.
struct fft_arrays {
    double *in_re, *in_im, *out_re, *out_im;
};
inline constexpr int fft_arrays_gap = 264; // doubles: 2 KiB and one line, half the sets

// Doubles a block must hold for fft_arrays_in(block, N).
constexpr std::size_t fft_arrays_size(int N) {
    const std::size_t whole_lines = (static_cast<std::size_t>(N) + 7) / 8 * 8;
    return 4 * whole_lines + 3 * fft_arrays_gap + 7;
}
fft_arrays fft_arrays_in(double *block, int N);

// Whether fft_transform takes length N without its fatal stop: N >= 1 and no prime factor above
// maxPrimeFactor. Callers that cannot choose their length ask this first.
bool fft_length_supported(int N);

} // namespace dsp
