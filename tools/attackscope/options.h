// The command line of attackscope: what to analyse, how, and how to print it.
#pragma once

#include <string>
#include <vector>

#include "engine/params.h"

enum class output_format { csv, jsonl };

struct run_options {
    std::vector<std::string> files;
    int block = 2048;     // samples per block, 1..2048
    int channel = 0;      // 1-based channel to analyse; 0 for the mean of all channels
    bool resample = true; // files at another rate are resampled to 44100 Hz
    // The inlets' values after a DSP start, as the floats Pd would store (a decimal read as a
    // double, then rounded to single precision, as Pd's parser does).
    attackscope_params inlets = attackscope_defaults;
    bool energies = false; // a row per gate block as well
    bool position = false; // a row per note with its pluck-position estimate
    double pickup = 0.0;   // a known pickup position for the estimate; 0: not known
    output_format format = output_format::csv;
    int jobs = 1; // files analysed at once, each in a thread of its own
};

// Parses the command line into `options`. Returns -1 to go on, or the exit status to end with
// at once: 0 after --help (usage on stdout), 2 after a bad command line (the reason and the
// usage on stderr).
int parse_options(int argc, char **argv, run_options &options);
