// What the command-line tests share: running a program, writing sound files, reading the rows.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "process.h"

namespace cli_test {

using test_process::process_result;
using test_process::run;

// Runs the attackscope binary under test with these arguments.
process_result attackscope(const std::vector<std::string> &args);

// A fresh directory for one test's files, removed with its content at exit.
std::string scratch_dir();

// Writes interleaved frames of `channels` channels at rate Hz with libsndfile, in `format`
// (SF_FORMAT_WAV | SF_FORMAT_FLOAT by default).
void write_sound(const std::string &path, const std::vector<float> &frames, int rate,
                 int channels = 1, int format = 0);

// One CSV row split into its fields (the tests' file names need no quoting; quoted fields are
// unquoted).
std::vector<std::string> split_csv(const std::string &line);

// The lines of text, without their newlines.
std::vector<std::string> lines(const std::string &text);

// A CSV output as rows keyed by column name; the header line must be present.
std::vector<std::map<std::string, std::string>> csv_rows(const std::string &text);

} // namespace cli_test
