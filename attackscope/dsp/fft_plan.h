// The transform's plan: the radices of a length and the tables its stages run by. Used only by
// fft.cpp; fft_split_length and fft_length_supported (fft.h) are the public part.
#pragma once

#include "dsp/fft.h"

namespace dsp::fft_parts {

// Stage tables are indexed by stage 1..K; entry 0 of rest holds N.
inline constexpr int stage_table_size = fft_max_stages + 1;

// Stage i has radix[i]; span[i] is the product of the radices before it, rest[i] = N / (span[i]
// * radix[i]), so span[i] * radix[i] * rest[i] = N and rest[count] = 1.
struct fft_stages {
    int count;
    int radix[stage_table_size];
    int span[stage_table_size];
    int rest[stage_table_size];
};

// The stages for length N >= 1. A radix above maxPrimeFactor is the transform's fatal stop: two
// lines on standard output and exit status 1.
void fft_plan_stages(int N, fft_stages &st);

} // namespace dsp::fft_parts
