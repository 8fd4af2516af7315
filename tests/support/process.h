// Starting a program and waiting for it, for the tests and benchmarks that run the built program,
// pd or themselves: no shell, standard input from /dev/null.
#pragma once

#include <string>
#include <vector>

namespace test_process {

struct process_result {
    int status = -1; // exit status; 128 + signal when killed; -1 when it could not start
    std::string out, err;
    double cpu_seconds = 0; // user and system time of the program
};

// Runs argv[0] with argv in directory dir (when not empty), with this process's environment plus
// `env` ("NAME=value" entries); its standard output and error are kept in files until it ends,
// so a chatty program never blocks on a pipe.
process_result run(const std::vector<std::string> &argv, const std::string &dir = {},
                   const std::vector<std::string> &env = {});

} // namespace test_process
