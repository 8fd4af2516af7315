// Reads the mono 32-bit float WAV files the demo recordings are written as.
#pragma once

#include <string>
#include <vector>

namespace windows_test {

// The samples of a mono 32-bit float WAV file (format 3), little-endian; empty, with the reason in
// `why`, for anything else or a file cut short.
std::vector<float> read_float_wav(const std::string &path, std::string &why);

} // namespace windows_test
