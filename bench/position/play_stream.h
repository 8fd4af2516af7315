// Plays a recording through the real attackscope~ in the in-process host, block by block, and a
// pluck_tracker beside it fed the same blocks, as the object does: the object's gate says which
// blocks are onsets and which run the designed analysis (light work only for the estimate).
#pragma once

#include <cstdint>
#include <vector>

namespace evaluation {

struct heard {
    double position = 0, f0 = 0, confidence = 0, other = 0;
    int64_t release = -1; // stream sample the estimator places the release at
    int64_t arrival = 0;  // stream sample at the end of the block that gave the estimate
    double inharmonicity = 0, residual = 0, spread = 0, aperiodicity = 0, margin = 0; // details
    int used = 0;
};

// Every estimate the tracker gives over `audio` (then one second of silence), at blocks of
// `block` samples and `rate` Hz; `pickup` is the known pickup position, 0 for none.
std::vector<heard> play_stream(const std::vector<float> &audio, int block, int rate,
                               double pickup = 0.0);

} // namespace evaluation
