// Radix-2 complex FFT that runs in bounded slices, so that a long transform can be spread over
// many audio blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace dsp {

// Forward DFT in place, unscaled, exponent sign minus:
//   X[k] = sum over m = 0..N-1 of x[m] * exp(-2*pi*i*m*k/N),
// x and X in natural order in re[0..N-1], im[0..N-1] (the caller's arrays).
// prepare() allocates the rotation table off the audio thread; start() and step() allocate
// nothing, take no lock and may run on the audio thread.
class resumable_fft {
  public:
    // Room for lengths up to max_size, a power of two >= 2 (smaller values are raised to 2,
    // others rounded up to a power of two).
    void prepare(int max_size);
    int max_size() const { return max_size_; }

    // Begins the transform of re/im, size points; size must be a power of two in
    // [2, max_size()], otherwise the transform is empty and done() at once. With `reordered`
    // the caller has already placed x[m] at the bit-reversed index of m, and the reordering is
    // skipped; the output is in natural order either way.
    void start(double *re, double *im, int size, bool reordered = false);
    // Does at most `budget` units of work (one unit: about one butterfly; an index of the
    // reordering counts three), at least one while not done. Returns the units spent.
    int64_t step(int64_t budget);
    bool done() const { return phase_ == phase::done; }

    // exp(-2*pi*i*k/max_size()) for k in [0, max_size()/2); the rotations of every shorter
    // power-of-two length are this table read with a stride.
    double rotation_re(int k) const { return cos_[static_cast<std::size_t>(k)]; }
    double rotation_im(int k) const { return sin_[static_cast<std::size_t>(k)]; }

  private:
    enum class phase { reorder, stages, done };
    std::vector<double> cos_, sin_; // max_size_/2 entries each
    int max_size_ = 0;
    double *re_ = nullptr, *im_ = nullptr;
    int size_ = 0, bits_ = 0;
    phase phase_ = phase::done;
    int cursor_ = 0;    // reorder: next index; stages: next butterfly of the stage
    int half_bits_ = 0; // stages: log2 of half the current butterfly span
};

} // namespace dsp
