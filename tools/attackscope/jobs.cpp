#include "jobs.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace {

file_report guarded(const std::function<file_report(std::size_t)> &work, std::size_t i) {
    try {
        return work(i);
    } catch (const std::exception &e) {
        file_report r;
        r.err = std::string("attackscope: the analysis stopped: ") + e.what() + "\n";
        r.failed = true;
        return r;
    }
}

} // namespace

void run_jobs(std::size_t count, int jobs, const std::function<file_report(std::size_t)> &work,
              const std::function<void(std::size_t, const file_report &)> &deliver,
              const std::function<void(const file_report &)> &finished) {
    const std::size_t threads =
        std::min<std::size_t>(count, static_cast<std::size_t>(std::max(jobs, 1)));
    if (threads <= 1) {
        for (std::size_t i = 0; i < count; i++) {
            const file_report r = guarded(work, i);
            finished(r);
            deliver(i, r);
        }
        return;
    }

    std::mutex lock;
    std::condition_variable ready;
    std::vector<std::optional<file_report>> reports(count);
    std::vector<std::size_t> done_order; // indices in the order their work ended
    std::size_t next = 0;                // the next index a worker takes

    auto worker = [&] {
        for (;;) {
            std::size_t i;
            {
                std::lock_guard<std::mutex> hold(lock);
                if (next == count)
                    return;
                i = next++;
            }
            file_report r = guarded(work, i);
            {
                std::lock_guard<std::mutex> hold(lock);
                reports[i] = std::move(r);
                done_order.push_back(i);
            }
            ready.notify_one();
        }
    };
    std::vector<std::thread> pool;
    pool.reserve(threads);
    for (std::size_t t = 0; t < threads; t++)
        pool.emplace_back(worker);

    // The calling thread reports: each file's rows as soon as it and all before it are done.
    std::size_t announced = 0, delivered = 0;
    while (delivered < count) {
        std::vector<std::size_t> ended;
        {
            std::unique_lock<std::mutex> hold(lock);
            ready.wait(hold, [&] { return done_order.size() > announced; });
            ended.assign(done_order.begin() + static_cast<std::ptrdiff_t>(announced),
                         done_order.end());
            announced = done_order.size();
        }
        // Reports are written once by their worker before being announced, and read here only
        // after; the lock above orders the two.
        for (const std::size_t i : ended)
            finished(*reports[i]);
        for (; delivered < count; delivered++) {
            std::optional<file_report> *r = nullptr;
            {
                std::lock_guard<std::mutex> hold(lock);
                if (!reports[delivered])
                    break;
                r = &reports[delivered];
            }
            deliver(delivered, **r);
            r->reset(); // the rows of a long corpus need not all stay in memory
        }
    }
    for (std::thread &t : pool)
        t.join();
}
