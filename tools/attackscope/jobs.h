// Several files at once, on a small pool of threads: each engine owns all it writes, so analyses
// run side by side in one process.
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
// called for each report in the order the work ends. deliver and finished run on the calling
// thread, one at a time; work runs on the pool's threads (on the calling thread alone with one
// job or one file). An exception thrown by work gives a failed report that says what it was.
void run_jobs(std::size_t count, int jobs, const std::function<file_report(std::size_t)> &work,
              const std::function<void(std::size_t, const file_report &)> &deliver,
              const std::function<void(const file_report &)> &finished);
