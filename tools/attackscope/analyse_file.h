// Runs the engine of attackscope~ over a sound file, block by block, as the object runs over a
// recording that tabplay~ plays into it from the first block after a DSP start.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "options.h"
#include "position/pluck_estimate.h"

// One line of output: an analysis block's outcome, with --energies a gate block's energy, with
// --position a note's pluck-position estimate.
struct event_row {
    enum class kind { ratio, dropped, clip, none, energy, note } what;
    int64_t onset_block; // the event's onset block; an energy row's own block; the block that
                         // holds a note's release
    double onset_s;      // that block's first sample in the file, s; a note's release itself
    float onset_energy;  // the value the object sent for the onset block (events only)
    double f0;           // the pitch estimate of the capture, Hz (events only)
    float sent;          // the shape-ratio outlet's value (ratio), or the energy outlet's (energy)
    double ratio;        // the accepted ratio behind `sent` (ratio only)
    dsp::pluck_estimate note; // note rows only
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
