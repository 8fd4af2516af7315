// Accuracy of the pluck-position estimate against generated ground truth. The real attackscope~
// runs block by block in the in-process host; its gate's onsets drive a pluck_tracker fed the
// same blocks, as the object does. Prints the position error, the f0 error, the latency, the
// confidence and the share of notes with exactly one estimate.
//   scripts/position-eval.sh
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "attackscope.h"
#include "pd_host.h"
#include "plucked_string.h"
#include "position/pluck_position.h"
#include "signals.h"

extern "C" void attackscope_tilde_setup(void);

namespace {

// What one block of the object did: whether its gate started an event, and whether it ran the
// designed analysis (it then sent no energy). The one place that reads the object's record.
struct block_kind {
    bool onset;
    bool analysed;
};
block_kind read_block(const pdhost::Object &obj, size_t energies_before) {
    const bool gate_block = obj.outlet(2).size() > energies_before;
    return {gate_block && obj.as<t_attackscope>()->x_engine.x_state == 1, !gate_block};
}

struct outcome {
    int estimates = 0;
    dsp::pluck_estimate first{0, 0, 0};
    double latency_ms = NAN; // release to the end of the block that gave the first estimate
    dsp::pluck_details details{};
};

// Estimates that end before the note begins (of the gate's event on leading noise) are not the
// note's.
outcome run(const signals::rendered_note &note, int block, int rate) {
    static const bool loaded = (attackscope_tilde_setup(), true);
    (void)loaded;
    pdhost::Object obj("attackscope~");
    obj.dsp(block, static_cast<float>(rate));
    dsp::pluck_tracker tracker;
    tracker.prepare(rate, block);
    outcome o;
    std::vector<float> in(static_cast<size_t>(block));
    const size_t total = note.samples.size();
    // Then silence while a note is in hand, as the program plays it: a note measured again
    // gives its estimate later. The render's abrupt end (its edge placed a few ms before) is no
    // note of it.
    const size_t most = total + 2 * static_cast<size_t>(rate);
    for (size_t at = 0; at < total || (tracker.busy() && at < most);
         at += static_cast<size_t>(block)) {
        for (size_t i = 0; i < in.size(); i++)
            in[i] = at + i < total ? note.samples[at + i] : 0.0f;
        const size_t before = obj.outlet(2).size();
        obj.perform(in.data());
        const block_kind kind = read_block(obj, before);
        tracker.push(in.data(), block);
        dsp::pluck_estimate e;
        const bool note_begun = static_cast<double>(at) + block > note.release - 0.04 * rate;
        if (tracker.advance(block, !kind.analysed, e) && note_begun &&
            e.release_sample < static_cast<int64_t>(total) - rate / 50) {
            if (o.estimates == 0) {
                o.first = e;
                o.details = tracker.details();
                const double end = static_cast<double>(at) + block;
                o.latency_ms = (end - note.release) * 1000.0 / rate;
            }
            o.estimates++;
        }
        if (obj.outlet(2).size() > 4096)
            obj.clear_outlets();
    }
    return o;
}

struct Random {
    signals::Noise noise;
    explicit Random(uint32_t seed) : noise(seed) {}
    double uniform(double lo, double hi) { return lo + (hi - lo) * 0.5 * (noise.next() + 1.0); }
    int below(int n) { return std::min(n - 1, static_cast<int>(uniform(0, n))); }
};

struct trial {
    double f0_label = 0, beta_label = 0; // the grid's values, for grouping
    bool velocity = true;
    int block = 64;
    double truth = NAN;    // pluck position, NAN for material without one
    double f0_truth = NAN; // Hz
    outcome got;
    double error() const { return std::fabs(got.first.position - truth); }
    double f0_error() const { return std::fabs(got.first.f0 / f0_truth - 1.0); }
};
using trials = std::vector<trial>;

double median(std::vector<double> v) {
    v.erase(std::remove_if(v.begin(), v.end(), [](double x) { return !std::isfinite(x); }),
            v.end());
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    const size_t m = v.size() / 2;
    return v.size() % 2 ? v[m] : 0.5 * (v[m - 1] + v[m]);
}

double share(const trials &t, const std::function<bool(const trial &)> &pred) {
    if (t.empty())
        return NAN;
    return 100.0 * static_cast<double>(std::count_if(t.begin(), t.end(), pred)) /
           static_cast<double>(t.size());
}

trials select(const trials &t, const std::function<bool(const trial &)> &pred) {
    trials out;
    std::copy_if(t.begin(), t.end(), std::back_inserter(out), pred);
    return out;
}

void header(const char *title, double tolerance) {
    std::printf("\n| %-28s | %5s | %8s | %10s | %11s | %5s |\n", title, "notes", "one est.",
                "median err", ("within " + std::to_string(tolerance).substr(0, 4)).c_str(),
                "conf.");
    std::printf("|%s|-------|----------|------------|-------------|-------|\n",
                std::string(30, '-').c_str());
}

// Error, share within the tolerance and confidence over the notes that got an estimate; the
// share of notes with exactly one estimate over all.
bool list_misses = false; // --misses: print every note outside the tolerance

void row(const std::string &label, const trials &t, double tolerance) {
    if (list_misses)
        for (const trial &x : t)
            if (!(x.got.estimates == 1 && x.error() <= tolerance))
                std::printf("  miss [%s] f0 %.1f beta %.3f %s block %d: %d estimates, position "
                            "%.4f f0 %.2f conf %.2f pickup %.3f residual %.3f\n",
                            label.c_str(), x.f0_truth, x.truth, x.velocity ? "vel" : "disp",
                            x.block, x.got.estimates, x.got.first.position, x.got.first.f0,
                            x.got.first.confidence, x.got.details.pickup, x.got.details.residual);
    const trials got = select(t, [](const trial &x) { return x.got.estimates > 0; });
    std::vector<double> err, conf;
    for (const trial &x : got) {
        err.push_back(x.error());
        conf.push_back(x.got.first.confidence);
    }
    std::printf("| %-28s | %5zu | %7.1f%% | %10.4f | %10.1f%% | %5.2f |\n", label.c_str(), t.size(),
                share(t, [](const trial &x) { return x.got.estimates == 1; }), median(err),
                share(got, [&](const trial &x) { return x.error() <= tolerance; }), median(conf));
}

std::string fmt(const char *f, double v) {
    char b[64];
    std::snprintf(b, sizeof b, f, v);
    return b;
}

const std::vector<double> grid_f0 = {41.2,  55.0,  82.4,  110.0, 146.8,
                                     196.0, 261.6, 329.6, 440.0, 659.3};
const std::vector<double> grid_beta = {0.05, 0.1, 0.15, 0.2, 0.25, 0.3, 0.35, 0.4, 0.45, 0.5};

// Silence (or noise) before the note. The gate starts an event at the first block that holds
// anything, noise included, then holds off for five blocks, and the tracker takes that event
// for a note until it gives up on it: noisy notes start 250 ms and eight blocks later.
int lead_for(int block, Random &r, bool noisy = false) {
    return (noisy ? 8 * block + 11025 : 2 * block) + 2048 + r.below(block);
}

// Every f0 x beta x output x block of the grid; the seed draws the pickup (0.01..0.06), T60,
// level, a small detuning and where the note falls in a block; `change` sets the row's variant.
trials run_grid(uint32_t seed, const std::vector<int> &blocks,
                const std::function<void(signals::string_pluck &)> &change) {
    Random r(seed);
    trials out;
    for (int block : blocks)
        for (int vel = 1; vel >= 0; vel--)
            for (double f0 : grid_f0)
                for (double beta : grid_beta) {
                    signals::string_pluck p;
                    p.f0 = f0 * r.uniform(0.99, 1.01);
                    p.position = beta;
                    p.pickup = r.uniform(0.01, 0.06);
                    p.velocity = vel == 1;
                    p.t60 = r.uniform(1.0, 5.0);
                    p.peak = r.uniform(0.2, 0.8);
                    p.seconds = 0.4;
                    p.seed = static_cast<uint32_t>(r.below(1 << 30));
                    change(p);
                    const auto note =
                        signals::render_string(p, lead_for(block, r, p.noise_dbfs > -300));
                    trial t;
                    t.f0_label = f0;
                    t.beta_label = beta;
                    t.velocity = p.velocity;
                    t.block = block;
                    t.truth = beta;
                    t.f0_truth = p.f0;
                    t.got = run(note, block, p.rate);
                    out.push_back(t);
                }
    return out;
}

void position_table(const char *title, const trials &t, double tolerance, bool detail) {
    header(title, tolerance);
    row("all", t, tolerance);
    if (!detail)
        return;
    for (double f : grid_f0)
        row(fmt("f0 %.0f Hz", f), select(t, [&](const trial &x) { return x.f0_label == f; }),
            tolerance);
    for (double b : grid_beta)
        row(fmt("beta %.2f", b), select(t, [&](const trial &x) { return x.beta_label == b; }),
            tolerance);
    row("velocity", select(t, [](const trial &x) { return x.velocity; }), tolerance);
    row("displacement", select(t, [](const trial &x) { return !x.velocity; }), tolerance);
    for (int b : {64, 2048})
        row(fmt("block %.0f", b), select(t, [&](const trial &x) { return x.block == b; }),
            tolerance);
}

void f0_and_latency_table(const trials &t) {
    std::printf("\n| %-10s | %16s | %16s | %16s | %16s |\n", "f0", "median f0 error",
                "latency 64 (med)", "latency 64 (max)", "latency 2048 (med)");
    std::printf("|------------|------------------|------------------|------------------|-----------"
                "-------|\n");
    for (double f : grid_f0) {
        const trials s =
            select(t, [&](const trial &x) { return x.f0_label == f && x.got.estimates > 0; });
        std::vector<double> fe, l64, l2048;
        double max64 = 0;
        for (const trial &x : s) {
            fe.push_back(x.f0_error());
            (x.block == 64 ? l64 : l2048).push_back(x.got.latency_ms);
            if (x.block == 64)
                max64 = std::max(max64, x.got.latency_ms);
        }
        std::printf("| %7.0f Hz | %15.3f%% | %13.1f ms | %13.1f ms | %13.1f ms |\n", f,
                    100.0 * median(fe), median(l64), max64, median(l2048));
    }
}

// Random notes drawn independently of the grid (f0, beta, pickup <= 0.06, T60, output, block
// size, sample rate), to check that the grid's results are not an artefact of its values.
trials run_held_out(uint32_t seed, int count) {
    Random r(seed);
    trials out;
    const int blocks[5] = {1, 64, 256, 1024, 2048};
    const int rates[3] = {44100, 48000, 96000};
    for (int i = 0; i < count; i++) {
        signals::string_pluck p;
        p.f0 = 41.0 * std::pow(2.0, r.uniform(0.0, std::log2(660.0 / 41.0)));
        p.position = r.uniform(0.05, 0.5);
        p.pickup = r.uniform(0.005, 0.06);
        p.velocity = r.below(2) == 0;
        p.t60 = r.uniform(0.5, 6.0);
        p.peak = r.uniform(0.1, 0.9);
        p.rate = rates[r.below(i % 10 == 0 ? 3 : 2)];
        p.seconds = 0.4;
        p.seed = static_cast<uint32_t>(r.below(1 << 30));
        const int block = blocks[i % 25 == 0 ? 0 : 1 + r.below(4)];
        const auto note = signals::render_string(p, lead_for(block, r));
        trial t;
        t.velocity = p.velocity;
        t.block = block;
        t.truth = p.position;
        t.f0_truth = p.f0;
        t.got = run(note, block, p.rate);
        out.push_back(t);
    }
    return out;
}

void confidence_table(uint32_t seed, const trials &clean, const trials &noisy) {
    Random r(seed);
    trials ks, chords, bars, bursts;
    for (int i = 0; i < 40; i++) {
        const int block = i % 2 ? 64 : 2048;
        const double f0 = 55.0 * std::pow(2.0, r.uniform(0.0, 3.5));
        trial t;
        t.block = block;
        t.f0_truth = f0;
        const int lead = lead_for(block, r);
        auto ksn =
            signals::render_karplus_strong(f0, r.uniform(0.08, 0.5), 0.4, 0.6,
                                           static_cast<uint32_t>(i + 1), 44100, lead, &t.truth);
        t.got = run(ksn, block, 44100);
        ks.push_back(t);

        // A triad: root, major third and fifth, plucked together at different points.
        signals::rendered_note chord;
        for (int k = 0; k < 3; k++) {
            signals::string_pluck p;
            p.f0 = f0 * std::pow(2.0, (k == 0 ? 0 : k == 1 ? 4 : 7) / 12.0);
            p.position = r.uniform(0.1, 0.45);
            p.velocity = i % 3 != 0;
            p.peak = 0.25;
            p.seconds = 0.4;
            auto n = signals::render_string(p, lead);
            if (k == 0)
                chord = n;
            else
                signals::mix_into(chord, n);
        }
        trial c;
        c.block = block;
        c.got = run(chord, block, 44100);
        chords.push_back(c);

        trial b;
        b.block = block;
        b.got = run(signals::render_bar(2 * f0, 0.4, 0.6, 44100, lead), block, 44100);
        bars.push_back(b);

        trial nb;
        nb.block = block;
        nb.got = run(signals::render_noise_burst(0.4, r.uniform(0.02, 0.2), 0.6,
                                                 static_cast<uint32_t>(100 + i), 44100, lead),
                     block, 44100);
        bursts.push_back(nb);
    }
    std::printf("\n| %-30s | %5s | %9s | %13s | %13s | %8s | %8s | %6s | %6s |\n", "material",
                "notes", "median", "share >= 0.5", "share < 0.2", "one est.", "residual", "spread",
                "aper.");
    std::printf("|--------------------------------|-------|-----------|---------------|------------"
                "---|----------|----------|--------|--------|\n");
    // Over the notes that got an estimate, but for the share with exactly one.
    const auto conf_row = [](const char *label, const trials &all) {
        const trials t = select(all, [](const trial &x) { return x.got.estimates > 0; });
        std::vector<double> c, res, spr, ap;
        for (const trial &x : t) {
            c.push_back(x.got.first.confidence);
            res.push_back(x.got.details.residual);
            spr.push_back(x.got.details.spread);
            ap.push_back(x.got.details.aperiodicity);
        }
        std::printf(
            "| %-30s | %5zu | %9.2f | %12.1f%% | %12.1f%% | %7.1f%% | %8.3f | %6.4f | %6.3f |\n",
            label, all.size(), median(c),
            share(t, [](const trial &x) { return x.got.first.confidence >= 0.5; }),
            share(t, [](const trial &x) { return x.got.first.confidence < 0.2; }),
            share(all, [](const trial &x) { return x.got.estimates == 1; }), median(res),
            median(spr), median(ap));
    };
    conf_row("ideal plucks (main grid)", clean);
    conf_row("ideal plucks, noise -50 dBFS", noisy);
    conf_row("Karplus-Strong plucks", ks);
    conf_row("triads of plucked strings", chords);
    conf_row("struck bars", bars);
    conf_row("noise bursts", bursts);
    std::vector<double> e;
    for (const trial &x : ks)
        e.push_back(x.error());
    std::printf(
        "Karplus-Strong position: median error %.4f, within 0.02 %.1f%%, within 0.05 %.1f%%\n",
        median(e), share(ks, [](const trial &x) { return x.error() <= 0.02; }),
        share(ks, [](const trial &x) { return x.error() <= 0.05; }));
}

} // namespace

// One note in detail: position_eval f0 beta pickup velocity(1|0) block [B] [noise dBFS].
int one_note(int argc, char **argv) {
    signals::string_pluck p;
    p.f0 = std::atof(argv[1]);
    p.position = std::atof(argv[2]);
    p.pickup = std::atof(argv[3]);
    p.velocity = std::atoi(argv[4]) != 0;
    const int block = std::atoi(argv[5]);
    if (argc > 6)
        p.inharmonicity = std::atof(argv[6]);
    if (argc > 7)
        p.noise_dbfs = std::atof(argv[7]);
    const auto note = signals::render_string(p, 8 * block + 11025 + 2048 + 37);
    static const bool loaded = (attackscope_tilde_setup(), true);
    (void)loaded;
    pdhost::Object obj("attackscope~");
    obj.dsp(block, 44100.0f);
    dsp::pluck_tracker tracker;
    tracker.prepare(44100, block);
    std::vector<float> in(static_cast<size_t>(block));
    for (size_t at = 0; at < note.samples.size(); at += static_cast<size_t>(block)) {
        for (size_t i = 0; i < in.size(); i++)
            in[i] = at + i < note.samples.size() ? note.samples[at + i] : 0.0f;
        const size_t before = obj.outlet(2).size();
        obj.perform(in.data());
        const block_kind kind = read_block(obj, before);
        tracker.push(in.data(), block);
        if (kind.onset) {
            std::printf("onset at block %zu (sample %zu; release at %d)%s\n", at / in.size(), at,
                        note.release, tracker.busy() ? " ignored" : "");
        }
        dsp::pluck_estimate e;
        if (tracker.advance(block, !kind.analysed, e)) {
            const dsp::pluck_details d = tracker.details();
            std::printf("estimate at sample %zu: position %.4f f0 %.3f confidence %.3f; release "
                        "found at %lld; pickup %.4f residual %.3f spread %.4f aperiodicity %.3f "
                        "B %.2e partials %d window %d\n",
                        at + in.size(), e.position, e.f0, e.confidence,
                        static_cast<long long>(tracker.release_index()), d.pickup, d.residual,
                        d.spread, d.aperiodicity, d.inharmonicity, d.partials, d.window);
        }
    }
    return 0;
}

int main(int argc, char **argv) {
    if (argc >= 6)
        return one_note(argc, argv);
    list_misses = argc == 2 && std::string(argv[1]) == "--misses";
    std::printf("Pluck position on generated notes, 44100 Hz unless stated; each note pulled over "
                "30 ms, then released; onsets from the gate of attackscope~.\n");
    const auto keep = [](signals::string_pluck &) {};
    const trials clean = run_grid(1, {64, 2048}, keep);
    position_table("ideal plucks, pickup <= 0.06", clean, 0.02, true);
    f0_and_latency_table(clean);

    const trials noisy =
        run_grid(2, {64, 2048}, [](signals::string_pluck &p) { p.noise_dbfs = -50; });
    const trials stiff =
        run_grid(3, {64, 2048}, [](signals::string_pluck &p) { p.inharmonicity = 1e-4; });
    const trials p12 = run_grid(4, {64, 2048}, [](signals::string_pluck &p) { p.pickup = 0.12; });
    const trials p25 = run_grid(5, {64, 2048}, [](signals::string_pluck &p) { p.pickup = 0.25; });
    header("variants", 0.03);
    row("noise at -50 dBFS", noisy, 0.03);
    row("inharmonicity B = 1e-4", stiff, 0.03);
    row("pickup at 0.12", p12, 0.03);
    row("pickup at 0.25", p25, 0.03);
    header("variants", 0.02);
    row("noise at -50 dBFS", noisy, 0.02);
    row("inharmonicity B = 1e-4", stiff, 0.02);
    row("pickup at 0.12", p12, 0.02);
    row("pickup at 0.25", p25, 0.02);
    row("pickup at 0.12, beta >= 0.15", select(p12, [](const trial &x) { return x.truth >= 0.15; }),
        0.02);
    row("pickup at 0.25, beta >= 0.3", select(p25, [](const trial &x) { return x.truth >= 0.3; }),
        0.02);
    for (int b : {64, 2048})
        for (int v = 1; v >= 0; v--)
            row(fmt("noise, block %.0f, ", b) + (v ? "velocity" : "displacement"),
                select(noisy,
                       [&](const trial &x) { return x.block == b && x.velocity == (v == 1); }),
                0.02);

    const trials held = run_held_out(6, 300);
    header("held-out random plucks", 0.02);
    row("all", held, 0.02);
    row("block 1", select(held, [](const trial &x) { return x.block == 1; }), 0.02);
    std::vector<double> fe;
    for (const trial &x : held)
        if (x.got.estimates > 0)
            fe.push_back(x.f0_error());
    std::printf("held-out median f0 error %.3f%%\n", 100.0 * median(fe));

    confidence_table(7, clean, noisy);
    return 0;
}
