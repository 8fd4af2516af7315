// The command line of attackscope: what to analyse, how, and how to print it.
#pragma once

#include <string>
#include <vector>

enum class output_format { csv, jsonl };

// The values the object's float inlets would receive after a DSP start, as the floats Pd would
// store (a decimal read as a double, then rounded to single precision, as Pd's parser does).
struct inlet_settings {
    float onset_factor = 10.0f; // inlet 1
    float peak_factor = 8.0f;   // inlet 2
    float floor = 0.0f;         // inlet 3
    float holdoff = 5.0f;       // inlet 4
    float filter = 1.0f;        // inlet 5
    float two_valued = 0.0f;    // inlet 6
};

struct run_options {
    std::vector<std::string> files;
    int block = 2048;     // samples per block, 1..2048
    int channel = 0;      // 1-based channel to analyse; 0 for the mean of all channels
    bool resample = true; // files at another rate are resampled to 44100 Hz
    inlet_settings inlets;
    bool energies = false; // a row per gate block as well
    bool position = false; // the pluck-position columns
    output_format format = output_format::csv;
    int jobs = 1; // files analysed at once, each in its own process
};

// Parses the command line into `options`. Returns -1 to go on, or the exit status to end with
// at once: 0 after --help (usage on stdout), 2 after a bad command line (the reason and the
// usage on stderr).
int parse_options(int argc, char **argv, run_options &options);
