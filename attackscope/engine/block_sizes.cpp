#include "engine/block_sizes.h"

#include <cstdio>

#include "dsp/fft.h"
#include "dsp/pitch.h"

namespace {

// Four blocks make the capture the pitch search runs on.
constexpr int capture_blocks = 4;

int shortest_ratio_block(int sr) {
    return (dsp::pitch_min_samples(sr) + capture_blocks - 1) / capture_blocks;
}

} // namespace

bool block_gives_ratios(int n, int sr, int blockcap) {
    return n >= shortest_ratio_block(sr) && n <= blockcap &&
           dsp::fft_length_supported(capture_blocks * n);
}

int nearest_ratio_block(int n, int sr, int blockcap, int step) {
    for (int m = n + step; m >= 1 && m <= blockcap; m += step)
        if (block_gives_ratios(m, sr, blockcap))
            return m;
    return 0;
}

bool block_notice(char *text, std::size_t size, int n, int sr, int blockcap) {
    if (n < 1 || n > blockcap || block_gives_ratios(n, sr, blockcap))
        return false;
    const int shortest = shortest_ratio_block(sr);
    if (n < shortest) {
        std::snprintf(text, size,
                      "attackscope~: block size %d gives energies only; shape ratios need blocks "
                      "of %d samples or more (2048 recommended)",
                      n, shortest);
        return true;
    }
    // The capture has a prime factor above the transform's largest radix: every event is dropped.
    const int below = nearest_ratio_block(n, sr, blockcap, -1);
    const int above = nearest_ratio_block(n, sr, blockcap, +1);
    if (above > 0)
        std::snprintf(text, size,
                      "attackscope~: block size %d gives energies only; four blocks make %d "
                      "samples, a length with a prime factor above %d that the pitch transform "
                      "cannot take; the nearest sizes that give shape ratios are %d and %d (2048 "
                      "recommended)",
                      n, capture_blocks * n, dsp::maxPrimeFactor, below, above);
    else
        std::snprintf(text, size,
                      "attackscope~: block size %d gives energies only; four blocks make %d "
                      "samples, a length with a prime factor above %d that the pitch transform "
                      "cannot take; the nearest size that gives shape ratios is %d (2048 "
                      "recommended)",
                      n, capture_blocks * n, dsp::maxPrimeFactor, below);
    return true;
}
