// Several files at once. The engine keeps static state (the transform's storage and rotation
// cache), so parallel analyses run in separate processes, never threads: each file is analysed
// in a forked worker that sends its report back through a pipe.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

struct file_report {
    std::string out;          // for stdout: the file's rows
    std::string err;          // for stderr: notes and the reason of a failure
    bool failed = false;      // the file could not be (fully) analysed
    double audio_seconds = 0; // audio analysed, for the progress line
};

// Runs work(i) for i = 0..count-1, at most `jobs` at a time, and hands each report to
// deliver(i, report) in the order of i, as soon as it and all before it are done. finished(r) is
// called for each report in the order the work ends. With one job, or one file, everything runs
// in this process. A worker that dies gives a failed report that says how.
void run_jobs(std::size_t count, int jobs, const std::function<file_report(std::size_t)> &work,
              const std::function<void(std::size_t, const file_report &)> &deliver,
              const std::function<void(const file_report &)> &finished);
