// A plain, unoptimised transcription of the mixed-radix transform, kept as the yardstick that
// the production transform must match bit for bit. Same contract as dsp::fft_transform, except
// that an unsupported length returns false instead of ending the process.
#pragma once

namespace fft_reference {

bool fft_transform(int N, const double *in_re, const double *in_im, double *out_re, double *out_im);

} // namespace fft_reference
