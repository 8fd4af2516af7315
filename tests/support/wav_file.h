// Writes mono 32-bit float WAV files, for the recordings the demo and the benchmarks play.
#pragma once

#include <vector>

namespace signals {

// Writes audio at rate Hz to path, little-endian whatever the host. Prints why and returns false
// when the file cannot be written.
bool write_float_wav(const char *path, const std::vector<float> &audio, int rate);

} // namespace signals
