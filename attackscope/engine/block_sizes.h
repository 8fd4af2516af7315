// Which block sizes give shape ratios, and the line the object prints at a chain build when the
// block size gives none. Knows nothing of Pd.
#pragma once

#include <cstddef>

// Whether blocks of n samples give shape ratios at sample rate sr with arrays of blockcap
// samples: n fits the arrays, and the capture of four blocks is long enough for the pitch search
// and has no prime factor the transform refuses. Other sizes give energies only.
bool block_gives_ratios(int n, int sr, int blockcap);

// The nearest block size below (step -1) or above (step +1) n that gives shape ratios, or 0 when
// there is none within 1..blockcap.
int nearest_ratio_block(int n, int sr, int blockcap, int step);

// For a block size from 1 to blockcap that gives no shape ratios, writes the chain-build notice
// (one console line, at most size - 1 characters) into text and returns true; otherwise returns
// false and leaves text alone. Sizes above blockcap are refused with an error elsewhere.
bool block_notice(char *text, std::size_t size, int n, int sr, int blockcap);
