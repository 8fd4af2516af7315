// Runs the benchmarks, then prints three tables: every "<what>/ours/<size>" time as a ratio to each
// "<what>/<peer>/<size>" of the same run; where a "<what>/empty/<size>" baseline ran too, the same
// ratio net of that baseline; and every benchmark with a "block_seconds" counter as a share of that
// real-time block length.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Figure {
    double ns = 0;       // real time per iteration: the median of repetitions, else the fastest
    bool median = false; // whether ns is a median
    double block_seconds = 0;
};

class RatioReporter : public benchmark::ConsoleReporter {
  public:
    RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &run : runs)
            record(run);
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        print_ratios();
        print_net_ratios();
        print_block_shares();
    }

  private:
    void record(const Run &run) {
        if (run.error_occurred || run.iterations == 0)
            return;
        const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
        if (run.run_type == Run::RT_Aggregate && !median)
            return;
        // Without the "iterations:", "repeats:" and time-type parts, which the name of a peer run
        // with other settings would not share.
        std::string name = run.run_name.function_name;
        if (!run.run_name.args.empty())
            name += "/" + run.run_name.args;
        const double ns = run.real_accumulated_time * 1e9 / static_cast<double>(run.iterations);
        if (figures_.find(name) == figures_.end())
            order_.push_back(name);
        Figure &f = figures_[name];
        if (median || (!f.median && (f.ns == 0 || ns < f.ns))) {
            f.ns = ns;
            f.median = median;
        }
        if (const auto c = run.counters.find("block_seconds"); c != run.counters.end())
            f.block_seconds = c->second.value;
    }

    // "<what>/<impl>/<size>" -> {"<what>/<size>", impl}; other names give an empty impl.
    static std::pair<std::string, std::string> split(const std::string &name) {
        const auto a = name.find('/');
        const auto b = a == std::string::npos ? a : name.find('/', a + 1);
        if (b == std::string::npos)
            return {name, ""};
        return {name.substr(0, a) + name.substr(b), name.substr(a + 1, b - a - 1)};
    }

    // Calls f(ours, peer) for every "ours" figure and each other implementation of the same
    // "<what>/<size>", in the order they ran.
    template <class F> void for_each_peer(F f) const {
        for (const std::string &name : order_) {
            const auto [key, impl] = split(name);
            if (impl != "ours")
                continue;
            for (const std::string &peer : order_) {
                const auto [peer_key, peer_impl] = split(peer);
                if (peer_key == key && !peer_impl.empty() && peer_impl != "ours")
                    f(name, peer);
            }
        }
    }

    void print_ratios() const {
        bool header = false;
        for_each_peer([&](const std::string &name, const std::string &peer) {
            if (!header) {
                std::printf("\n%-22s %-26s %12s %12s %8s\n", "ours", "peer", "ours ns", "peer ns",
                            "ratio");
                header = true;
            }
            const double ours = figures_.at(name).ns, theirs = figures_.at(peer).ns;
            std::printf("%-22s %-26s %12.0f %12.0f %8.2f\n", name.c_str(), peer.c_str(), ours,
                        theirs, ours / theirs);
        });
    }

    // The object's own cost against the peer's: (ours - empty) / (peer - empty), in seconds, where
    // "empty" runs the same host and input with nothing measured.
    void print_net_ratios() const {
        bool header = false;
        for_each_peer([&](const std::string &name, const std::string &peer) {
            const std::string key = split(name).first; // "<what>/<size>"
            const auto slash = key.find('/');
            const std::string empty_name = key.substr(0, slash) + "/empty" + key.substr(slash);
            if (split(peer).second == "empty" || figures_.count(empty_name) == 0)
                return;
            if (!header) {
                std::printf("\n%-22s %-26s %12s %12s %12s %8s\n", "ours", "peer", "empty s",
                            "ours net s", "peer net s", "net");
                header = true;
            }
            const double base = figures_.at(empty_name).ns;
            const double ours = figures_.at(name).ns - base;
            const double theirs = figures_.at(peer).ns - base;
            std::printf("%-22s %-26s %12.3f %12.3f %12.3f %8.2f\n", name.c_str(), peer.c_str(),
                        base * 1e-9, ours * 1e-9, theirs * 1e-9, ours / theirs);
        });
    }

    void print_block_shares() const {
        for (const std::string &name : order_) {
            const Figure &f = figures_.at(name);
            if (f.block_seconds > 0)
                std::printf("\n%s: %.0f ns per call, %.3f%% of a %.2f ms block\n", name.c_str(),
                            f.ns, 100 * f.ns * 1e-9 / f.block_seconds, f.block_seconds * 1e3);
        }
    }

    std::map<std::string, Figure> figures_;
    std::vector<std::string> order_;
};

} // namespace

// A process started by the first-block benchmark to measure one cold start; -1 for any other call.
int run_first_block_child(const char *arg);

int main(int argc, char **argv) {
    if (argc == 2) {
        if (const int status = run_first_block_child(argv[1]); status >= 0)
            return status;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
