#include "jobs.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <vector>

namespace {

// The report on the pipe: failed (1 byte), audio seconds (a double), the lengths of out and err
// (64 bits each), then their bytes, all in this machine's byte order.
std::string encode(const file_report &r) {
    std::string bytes(1 + 8 + 8 + 8, '\0');
    bytes[0] = r.failed ? 1 : 0;
    const uint64_t lengths[2] = {r.out.size(), r.err.size()};
    std::memcpy(&bytes[1], &r.audio_seconds, 8);
    std::memcpy(&bytes[9], lengths, 16);
    return bytes + r.out + r.err;
}

std::optional<file_report> decode(const std::string &bytes) {
    if (bytes.size() < 25)
        return std::nullopt;
    file_report r;
    uint64_t lengths[2];
    r.failed = bytes[0] != 0;
    std::memcpy(&r.audio_seconds, &bytes[1], 8);
    std::memcpy(lengths, &bytes[9], 16);
    if (lengths[0] > bytes.size() - 25 || lengths[1] != bytes.size() - 25 - lengths[0])
        return std::nullopt;
    r.out = bytes.substr(25, lengths[0]);
    r.err = bytes.substr(25 + lengths[0]);
    return r;
}

bool write_all(int fd, const std::string &bytes) {
    for (std::size_t at = 0; at < bytes.size();) {
        const ssize_t put = write(fd, bytes.data() + at, bytes.size() - at);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        at += static_cast<std::size_t>(put);
    }
    return true;
}

struct worker {
    pid_t pid;
    std::size_t index;
    std::string received;
};

file_report worker_failure(const std::string &why) {
    file_report r;
    r.failed = true;
    r.err = why;
    return r;
}

// What a worker that has closed its pipe left: its report, or why there is none.
file_report collect(worker &w) {
    int status = 0;
    while (waitpid(w.pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status))
        return worker_failure(std::string("the analysis died: ") + strsignal(WTERMSIG(status)));
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return worker_failure("the analysis ended with status " +
                              std::to_string(WEXITSTATUS(status)));
    std::optional<file_report> r = decode(w.received);
    return r ? *r : worker_failure("the analysis sent an incomplete report");
}

} // namespace

void run_jobs(std::size_t count, int jobs, const std::function<file_report(std::size_t)> &work,
              const std::function<void(std::size_t, const file_report &)> &deliver,
              const std::function<void(const file_report &)> &finished) {
    if (jobs <= 1 || count <= 1) {
        for (std::size_t i = 0; i < count; i++) {
            const file_report r = work(i);
            finished(r);
            deliver(i, r);
        }
        return;
    }
    std::fflush(nullptr);          // nothing buffered is written twice by a worker
    std::map<int, worker> running; // by the read end of its pipe
    std::vector<std::optional<file_report>> done(count);
    std::size_t next = 0, delivered = 0;
    while (delivered < count) {
        while (next < count && running.size() < static_cast<std::size_t>(jobs)) {
            int fds[2];
            if (pipe2(fds, O_CLOEXEC) != 0) {
                done[next++] = worker_failure(std::string("pipe: ") + std::strerror(errno));
                finished(*done[next - 1]);
                continue;
            }
            const pid_t pid = fork();
            if (pid == 0) {
                close(fds[0]);
                // The report is the worker's only output: anything the engine would print
                // (its fatal stop) goes to stderr, never into the rows.
                dup2(STDERR_FILENO, STDOUT_FILENO);
                const bool sent = write_all(fds[1], encode(work(next)));
                _exit(sent ? 0 : 3);
            }
            close(fds[1]);
            if (pid < 0) {
                close(fds[0]);
                done[next++] = worker_failure(std::string("fork: ") + std::strerror(errno));
                finished(*done[next - 1]);
                continue;
            }
            running.emplace(fds[0], worker{pid, next++, {}});
        }
        if (!running.empty()) {
            std::vector<pollfd> polled;
            for (const auto &[fd, w] : running)
                polled.push_back({fd, POLLIN, 0});
            if (poll(polled.data(), polled.size(), -1) < 0) {
                if (errno == EINTR)
                    continue;
                // Cannot wait for the pipes any more: every running file fails (a worker still
                // writing ends on the closed pipe) rather than being left out unnoticed.
                for (auto &[fd, w] : running) {
                    close(fd);
                    done[w.index] = collect(w);
                    done[w.index]->failed = true;
                    finished(*done[w.index]);
                }
                running.clear();
                continue;
            }
            for (const pollfd &p : polled) {
                if (!p.revents)
                    continue;
                worker &w = running.at(p.fd);
                char buf[65536];
                const ssize_t got = read(p.fd, buf, sizeof buf);
                if (got > 0) {
                    w.received.append(buf, static_cast<std::size_t>(got));
                } else if (got == 0 || errno != EINTR) {
                    close(p.fd);
                    done[w.index] = collect(w);
                    finished(*done[w.index]);
                    running.erase(p.fd);
                }
            }
        }
        while (delivered < count && done[delivered]) {
            deliver(delivered, *done[delivered]);
            done[delivered].reset();
            delivered++;
        }
    }
}
