// attackscope [options] FILE...: finds the attacks in sound files and measures each one with the
// engine of the Pd object attackscope~, printing one row per event on stdout.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "analyse_file.h"
#include "jobs.h"
#include "options.h"
#include "output.h"

namespace {

// "3 of 10 files, 2345 s of audio per s" on stderr, rewritten in place; only on a terminal.
class progress_line {
  public:
    explicit progress_line(std::size_t total) : total_(total), shown_(isatty(STDERR_FILENO)) {}

    void finished(double audio_seconds) {
        done_++;
        audio_ += audio_seconds;
        if (!shown_)
            return;
        const double wall = std::chrono::duration<double>(clock::now() - start_).count();
        std::fprintf(stderr, "\r\033[K%zu of %zu files, %.0f s of audio per s", done_, total_,
                     wall > 0 ? audio_ / wall : 0.0);
        std::fflush(stderr);
    }
    // Clears the line, so that a message starts at the left margin and the shell prompt does too.
    void clear() const {
        if (shown_ && done_ > 0)
            std::fputs("\r\033[K", stderr);
    }

  private:
    using clock = std::chrono::steady_clock;
    std::size_t total_, done_ = 0;
    double audio_ = 0;
    bool shown_;
    clock::time_point start_ = clock::now();
};

file_report analyse_one(const std::string &path, const run_options &options) {
    const file_analysis a = analyse_file(path, options);
    file_report r;
    r.audio_seconds = a.audio_seconds;
    if (!a.note.empty())
        r.err += "attackscope: " + path + ": " + a.note + "\n";
    if (!a.error.empty()) {
        r.err += "attackscope: " + path + ": " + a.error + "\n";
        r.failed = true;
    }
    r.out = format_rows(path, a.rows, options);
    return r;
}

} // namespace

int main(int argc, char **argv) {
    run_options options;
    if (const int status = parse_options(argc, argv, options); status >= 0)
        return status;

    const std::string header = format_header(options);
    std::fwrite(header.data(), 1, header.size(), stdout);
    progress_line progress(options.files.size());
    bool failed = false;
    run_jobs(
        options.files.size(), options.jobs,
        [&options](std::size_t i) { return analyse_one(options.files[i], options); },
        [&](std::size_t, const file_report &r) {
            if (!r.err.empty()) {
                progress.clear();
                std::fflush(stdout);
                std::fputs(r.err.c_str(), stderr);
            }
            std::fwrite(r.out.data(), 1, r.out.size(), stdout);
            failed = failed || r.failed;
        },
        [&progress](const file_report &r) { progress.finished(r.audio_seconds); });
    progress.clear();
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "attackscope: writing the rows: %s\n", std::strerror(errno));
        return 1;
    }
    return failed ? 1 : 0;
}
