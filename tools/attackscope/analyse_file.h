// Runs the engine of attackscope~ over a sound file, block by block, as the object runs over a
// recording that tabplay~ plays into it from the first block after a DSP start.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "options.h"
#include "position.h"

// One line of output: an analysis block's outcome, or with --energies a gate block's energy.
struct event_row {
    enum class kind { ratio, dropped, clip, none, energy } what;
    int64_t onset_block; // the onset block of the event; for an energy row, its own block
    double onset_s;      // the time of that block's first sample in the file, s
    float onset_energy;  // the value the object sent for the onset block (unused for energy)
    double f0;           // the pitch estimate of the capture, Hz (unused for energy)
    float sent;          // the shape-ratio outlet's value (ratio), or the energy outlet's (energy)
    double ratio;        // the accepted ratio behind `sent` (ratio only)
    std::optional<position_estimate> position;
};

struct file_analysis {
    std::vector<event_row> rows;
    std::string note;         // for stderr: the resampling, when it happened
    std::string error;        // why the file could not be read or decoded; empty when it was
    double audio_seconds = 0; // length of the audio analysed
};

// The whole file. An unreadable file gives its reason in `error` and no rows; a failure while
// decoding keeps the rows of the blocks before it.
file_analysis analyse_file(const std::string &path, const run_options &options);
