// The pluck-position estimate on modelled strings: finger, stiffness, losses, body, pickup,
// noise and a second string ringing, drawn from a seed; tables by what varies, at blocks of 64
// and 2048. scripts/position-eval.sh runs it; --seed S --count N --misses for more; --brief for
// the resolvable notes' rows and the misses' causes alone; --exact prints every estimate's fields
// in hexadecimal instead, to compare two builds bit for bit; --without-noise plays the same notes
// without their noise, which shows what the noise costs.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "play_stream.h"
#include "signals.h"
#include "string_model.h"

namespace {

struct draw {
    signals::Noise noise;
    explicit draw(uint32_t seed) : noise(seed) {}
    double uniform(double lo, double hi) { return lo + (hi - lo) * 0.5 * (noise.next() + 1.0); }
    double log_uniform(double lo, double hi) { return lo * std::pow(hi / lo, uniform(0, 1)); }
    int below(int n) { return std::min(n - 1, static_cast<int>(uniform(0, n))); }
};

// One note's circumstances, drawn.
signals::string_model draw_note(draw &r) {
    signals::string_model m;
    m.f0 = r.log_uniform(41.0, 660.0);
    m.inharmonicity = r.log_uniform(1e-5, 3e-4);
    m.t60_low = r.uniform(1.5, 6.0);
    m.t60_high = r.uniform(0.2, 1.2);
    m.position = r.uniform(0.05, 0.5);
    m.width_mm = r.uniform(3.0, 20.0);
    m.contact_ms = r.uniform(10.0, 150.0);
    m.push_ms = r.uniform(2.0, std::min(20.0, 0.5 * m.contact_ms));
    m.release_ms = r.log_uniform(0.1, 2.0);
    m.finger_damping = r.uniform(0.2, 2.0);
    m.output = static_cast<signals::string_output>(r.below(3));
    m.pickup = r.uniform(0.03, 0.25);
    m.aperture_mm = r.uniform(5.0, 15.0);
    m.coil_hz = r.uniform(2500.0, 6000.0);
    m.coil_q = r.uniform(1.0, 4.0);
    m.body_seed = r.below(1 << 20) + 1;
    m.lowpass_hz = r.below(2) ? r.uniform(2500.0, 8000.0) : 0.0;
    m.seconds = 0.7;
    return m;
}

struct note_case {
    signals::string_model model;
    signals::stream_note truth;
    double noise_dbfs = -400;
    int ringing = 0; // 0 alone, 1 the first of a pair (rings on), 2 under a ringing string
    int rate = 44100;
    double peak = 1.0; // of the note's own samples
    // The estimate is specified for noise down to 35 dB below the note's peak.
    bool noise_in_bound() const { return noise_dbfs <= 20.0 * std::log10(peak) - 35.0; }
};

struct stream_case {
    signals::modelled_stream stream;
    std::vector<note_case> notes;
    int rate = 44100;
};

bool without_noise = false;

stream_case make_stream(uint32_t seed) {
    draw r(seed * 7919u + 17u);
    stream_case s;
    s.rate = r.below(5) == 0 ? 48000 : 44100;
    const int kind = r.below(4); // a quarter are pairs, the second under the first
    const double noise =
        std::array<double, 3>{-400.0, -60.0, -45.0}[static_cast<size_t>(r.below(3))];
    const int lead = static_cast<int>(r.uniform(0.05, 0.3) * s.rate);
    signals::string_model first = draw_note(r);
    first.rate = s.rate;
    const auto a = signals::render_model(first, 0);
    const double peak = r.uniform(0.2, 0.8);
    if (kind == 3) {
        signals::string_model second = draw_note(r);
        second.rate = s.rate;
        const auto b = signals::render_model(second, 0);
        const int gap = static_cast<int>(r.uniform(0.25, 0.6) * s.rate);
        // The first string rings 5 to 25 dB below the second's peak at the second's release.
        const double below_db = r.uniform(5.0, 25.0);
        double local = 0, whole = 0;
        const int at = a.release + gap;
        for (size_t i = 0; i < a.samples.size(); i++) {
            whole = std::max(whole, std::fabs(a.samples[i]));
            if (static_cast<int>(i) > at - s.rate / 50 && static_cast<int>(i) <= at)
                local = std::max(local, std::fabs(a.samples[i]));
        }
        const double first_peak = std::min(0.9, peak * std::pow(10.0, -below_db / 20.0) *
                                                    (local > 0 ? whole / local : 1));
        signals::add_note(s.stream, first, a, lead, first_peak);
        signals::add_note(s.stream, second, b, lead + at - b.release, peak);
        s.notes.push_back({first, s.stream.notes[0], noise, 1, s.rate, first_peak});
        s.notes.push_back({second, s.stream.notes[1], noise, 2, s.rate, peak});
    } else {
        signals::add_note(s.stream, first, a, lead, peak);
        s.notes.push_back({first, s.stream.notes[0], noise, 0, s.rate, peak});
    }
    // The draw is the same either way, so each note keeps its circumstances (and its noise's
    // label) without its noise.
    if (noise > -300 && !without_noise)
        signals::add_white_noise(s.stream, noise, seed + 5u);
    return s;
}

struct outcome {
    note_case c;
    int block = 0;
    bool known_pickup = false;
    int rows = 0, estimates = 0; // rows of any kind, and those with a position
    evaluation::heard first;
    double error() const { return std::fabs(first.position - c.truth.position); }
    double f0_error() const { return std::fabs(first.f0 / c.truth.f0 - 1.0); }
    double latency_ms() const {
        return static_cast<double>(first.arrival - c.truth.release) * 1000.0 / c.rate;
    }
    bool right() const { return estimates > 0 && error() <= 0.02; }
    // The signal cannot tell a pickup farther from the end than the pluck from the mirror case.
    bool resolvable() const { return known_pickup || c.truth.pickup <= c.truth.position; }
};

// Estimates go to the note whose stretch holds their release: from 20 ms before its touch to 20
// ms before the next note's touch. Those before the first note are of no note.
int assign(const stream_case &s, const std::vector<evaluation::heard> &heard, int block, bool known,
           std::vector<outcome> &out) {
    const size_t first = out.size();
    for (const note_case &c : s.notes) {
        outcome o;
        o.c = c;
        o.block = block;
        o.known_pickup = known;
        out.push_back(o);
    }
    int no_note = 0;
    const int64_t margin = s.rate / 50;
    for (const evaluation::heard &h : heard) {
        const int64_t at = h.release >= 0 ? h.release : h.arrival - s.rate / 5;
        int owner = -1;
        for (size_t j = 0; j < s.notes.size(); j++)
            if (at >= s.notes[j].truth.touch - margin)
                owner = static_cast<int>(j);
        if (owner < 0) {
            no_note += h.position > 0;
            continue;
        }
        outcome &o = out[first + static_cast<size_t>(owner)];
        o.rows++;
        if (h.position > 0 && o.estimates++ == 0)
            o.first = h;
    }
    return no_note;
}

using outcomes = std::vector<outcome>;
using pred = std::function<bool(const outcome &)>;

outcomes select(const outcomes &t, const pred &p) {
    outcomes o;
    std::copy_if(t.begin(), t.end(), std::back_inserter(o), p);
    return o;
}
double share(const outcomes &t, const pred &p) {
    return t.empty() ? NAN
                     : 100.0 * static_cast<double>(std::count_if(t.begin(), t.end(), p)) /
                           static_cast<double>(t.size());
}
double median(std::vector<double> v) {
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    const size_t m = v.size() / 2;
    return v.size() % 2 ? v[m] : 0.5 * (v[m - 1] + v[m]);
}

bool list_misses = false;
bool exact = false;
bool list_notes = false;
bool brief = false;

// One line per note: its truth and its first estimate, for study outside.
void print_notes(const outcomes &t) {
    std::printf("block,f0,B,beta,output,gamma,noise,ringing,contact,width,lowpass,est,position,"
                "est_f0,f0_err,est_B,confidence,other,residual,spread,aperiodicity,margin,used,"
                "release_ms,rows\n");
    for (const outcome &o : t)
        std::printf("%d,%.4f,%.3e,%.4f,%d,%.3f,%.0f,%d,%.0f,%.1f,%.0f,%d,%.4f,%.4f,%.5f,%.3e,%.3f,"
                    "%.3f,%.3f,%.4f,%.3f,%.4f,%d,%.1f,%d\n",
                    o.block, o.c.truth.f0, o.c.truth.inharmonicity, o.c.truth.position,
                    static_cast<int>(o.c.model.output), o.c.model.pickup, o.c.noise_dbfs,
                    o.c.ringing, o.c.model.contact_ms, o.c.model.width_mm, o.c.model.lowpass_hz,
                    o.estimates, o.first.position, o.first.f0,
                    o.estimates > 0 ? o.first.f0 / o.c.truth.f0 - 1.0 : 0.0, o.first.inharmonicity,
                    o.first.confidence, o.first.other, o.first.residual, o.first.spread,
                    o.first.aperiodicity, o.first.margin, o.first.used,
                    o.estimates > 0 ? static_cast<double>(o.first.release - o.c.truth.release) *
                                          1000.0 / o.c.rate
                                    : 0.0,
                    o.rows);
}

void header(const std::string &title) {
    std::printf("\n| %-26s | notes | estimated | one row | within 0.02 | median err | f0 err "
                "(med) | f0 within 0.2%% | conf. (med) | latency ms (med/max) |\n",
                title.c_str());
    std::printf("|----------------------------|-------|-----------|---------|-------------|-----"
                "-------|--------------|----------------|-------------|----------------------|\n");
}

void row(const std::string &label, const outcomes &all) {
    if (all.empty())
        return;
    const outcomes got = select(all, [](const outcome &o) { return o.estimates > 0; });
    std::vector<double> err, fe, conf, lat;
    for (const outcome &o : got) {
        err.push_back(o.error());
        fe.push_back(o.f0_error());
        conf.push_back(o.first.confidence);
        lat.push_back(o.latency_ms());
    }
    if (list_misses)
        for (const outcome &o : all)
            if (!o.right() || o.rows != 1)
                std::printf(
                    "  miss [%s] block %d f0 %.1f B %.1e beta %.3f out %d gamma %.3f "
                    "contact %.0f width %.0f rel %.2f lp %.0f noise %.0f ring %d: rows "
                    "%d est %d pos %.4f f0 %.2f conf %.2f other %.3f release %+.1f ms\n",
                    label.c_str(), o.block, o.c.truth.f0, o.c.truth.inharmonicity,
                    o.c.truth.position, static_cast<int>(o.c.model.output), o.c.model.pickup,
                    o.c.model.contact_ms, o.c.model.width_mm, o.c.model.release_ms,
                    o.c.model.lowpass_hz, o.c.noise_dbfs, o.c.ringing, o.rows, o.estimates,
                    o.first.position, o.first.f0, o.first.confidence, o.first.other,
                    o.estimates > 0 ? static_cast<double>(o.first.release - o.c.truth.release) *
                                          1000.0 / o.c.rate
                                    : 0.0);
    std::printf(
        "| %-26s | %5zu | %8.1f%% | %6.1f%% | %10.1f%% | %10.4f | %11.3f%% | %13.1f%% | "
        "%11.2f | %9.0f / %8.0f |\n",
        label.c_str(), all.size(), share(all, [](const outcome &o) { return o.estimates > 0; }),
        share(all, [](const outcome &o) { return o.rows == 1; }),
        share(all, [](const outcome &o) { return o.right(); }), median(err), 100.0 * median(fe),
        share(got, [](const outcome &o) { return o.f0_error() <= 0.002; }), median(conf),
        median(lat), lat.empty() ? NAN : *std::max_element(lat.begin(), lat.end()));
}

std::string fmt(const char *f, double a, double b = 0) {
    char s[96];
    std::snprintf(s, sizeof s, f, a, b);
    return s;
}

void tables(const std::string &title, const outcomes &t) {
    header(title);
    row("all", t);
    row("resolvable (pickup <= beta)", select(t, [](const outcome &o) { return o.resolvable(); }));
    const char *outputs[3] = {"bridge force", "through a body", "pickup"};
    for (int k = 0; k < 3; k++)
        row(outputs[k], select(t, [&](const outcome &o) {
                return static_cast<int>(o.c.model.output) == k && o.resolvable();
            }));
    row("pickup beyond the pluck", select(t, [](const outcome &o) { return !o.resolvable(); }));
    row("low-pass 2.5-8 kHz", select(t, [](const outcome &o) { return o.c.model.lowpass_hz > 0; }));
    const double contact[4] = {0, 45, 80, 151};
    for (int k = 0; k < 3; k++)
        row(fmt("contact %.0f-%.0f ms", contact[k], contact[k + 1]),
            select(t, [&](const outcome &o) {
                return o.c.model.contact_ms >= contact[k] && o.c.model.contact_ms < contact[k + 1];
            }));
    for (double n : {-400.0, -60.0, -45.0})
        row(n < -300 ? std::string("no noise") : fmt("noise %.0f dBFS", n),
            select(t, [&](const outcome &o) { return o.c.noise_dbfs == n; }));
    row("resolvable, noise in bound",
        select(t, [](const outcome &o) { return o.resolvable() && o.c.noise_in_bound(); }));
    row("noise within 35 dB of peak",
        select(t, [](const outcome &o) { return o.resolvable() && !o.c.noise_in_bound(); }));
    const char *ring[3] = {"alone", "rings into the next", "under a ringing string"};
    for (int k = 0; k < 3; k++)
        row(ring[k], select(t, [&](const outcome &o) { return o.c.ringing == k; }));
    const double beta[5] = {0.05, 0.1, 0.2, 0.35, 0.5001};
    for (int k = 0; k < 4; k++)
        row(fmt("beta %.2f-%.2f", beta[k], std::min(0.5, beta[k + 1])),
            select(t, [&](const outcome &o) {
                return o.resolvable() && o.c.truth.position >= beta[k] &&
                       o.c.truth.position < beta[k + 1];
            }));
    const double f0[4] = {40, 100, 250, 700};
    for (int k = 0; k < 3; k++)
        row(fmt("f0 %.0f-%.0f Hz", f0[k], f0[k + 1]), select(t, [&](const outcome &o) {
                return o.resolvable() && o.c.truth.f0 >= f0[k] && o.c.truth.f0 < f0[k + 1];
            }));
    const double stiff[4] = {1e-5, 4e-5, 1.2e-4, 3.1e-4};
    for (int k = 0; k < 3; k++)
        row(fmt("B %.1e-%.1e", stiff[k], stiff[k + 1]), select(t, [&](const outcome &o) {
                return o.c.model.inharmonicity >= stiff[k] &&
                       o.c.model.inharmonicity < stiff[k + 1];
            }));
}

void calibration(const outcomes &t) {
    const outcomes got =
        select(t, [](const outcome &o) { return o.estimates > 0 && o.resolvable(); });
    std::printf("\n| confidence at least | estimates | share within 0.02 |\n|---|---|---|\n");
    for (double c : {0.0, 0.2, 0.35, 0.5, 0.65, 0.8}) {
        const outcomes s = select(got, [&](const outcome &o) { return o.first.confidence >= c; });
        std::printf("| %.2f | %zu | %.1f%% |\n", c, s.size(),
                    share(s, [](const outcome &o) { return o.right(); }));
    }
    const outcomes right = select(got, [](const outcome &o) { return o.right(); });
    std::printf("right estimates reaching 0.5: %.1f%% of %zu\n",
                share(right, [](const outcome &o) { return o.first.confidence >= 0.5; }),
                right.size());
}

// What went wrong with each resolvable note not within 0.02, the first cause that applies: what
// the position could not be found from comes before how the comb fit went astray.
void causes(const outcomes &t) {
    const outcomes resolvable = select(t, [](const outcome &o) { return o.resolvable(); });
    const std::pair<const char *, pred> kinds[] = {
        {"no estimate", [](const outcome &o) { return o.estimates == 0; }},
        {"f0 off by more than 0.5%", [](const outcome &o) { return o.f0_error() > 0.005; }},
        {"release placed more than 5 ms off",
         [](const outcome &o) {
             return std::abs(o.first.release - o.c.truth.release) * 1000 > 5 * o.c.rate;
         }},
        {"fewer than 12 harmonics above the floor",
         [](const outcome &o) { return o.first.used < 12; }},
        {"under a string still ringing", [](const outcome &o) { return o.c.ringing == 2; }},
        {"heard by a pickup",
         [](const outcome &o) { return o.c.model.output == signals::string_output::pickup; }},
        {"heard through a body",
         [](const outcome &o) { return o.c.model.output == signals::string_output::body; }},
        {"heard at the bridge", [](const outcome &) { return true; }},
    };
    int counts[std::size(kinds)] = {};
    int misses = 0;
    for (const outcome &o : resolvable) {
        if (o.right())
            continue;
        misses++;
        for (size_t k = 0; k < std::size(kinds); k++)
            if (kinds[k].second(o)) {
                counts[k]++;
                break;
            }
    }
    std::printf("resolvable notes not within 0.02: %d of %zu, by first cause:", misses,
                resolvable.size());
    for (size_t k = 0; k < std::size(kinds); k++)
        std::printf("%s %s %d", k ? "," : "", kinds[k].first, counts[k]);
    std::printf("\n");
}

// Every field of every estimate of a stream, exactly.
void print_exact(int block, const stream_case &s, const std::vector<evaluation::heard> &heard,
                 double pickup) {
    std::printf("stream f0 %a block %d pickup %a: %zu\n", s.notes[0].truth.f0, block, pickup,
                heard.size());
    for (const evaluation::heard &h : heard)
        std::printf("  %a %a %a %a %lld %lld\n", h.position, h.f0, h.confidence, h.other,
                    static_cast<long long>(h.release), static_cast<long long>(h.arrival));
}

} // namespace

int main(int argc, char **argv) {
    uint32_t seed = 1;
    int count = 200, from = 0;
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        if (a == "--seed" && i + 1 < argc)
            seed = static_cast<uint32_t>(std::atoi(argv[++i]));
        else if (a == "--count" && i + 1 < argc)
            count = std::atoi(argv[++i]);
        else if (a == "--misses")
            list_misses = true;
        else if (a == "--exact")
            exact = true;
        else if (a == "--from" && i + 1 < argc)
            from = std::atoi(argv[++i]);
        else if (a == "--notes")
            list_notes = true;
        else if (a == "--brief")
            brief = true;
        else if (a == "--without-noise")
            without_noise = true;
    }
    std::printf(
        "Modelled strings: %d streams from seed %u (a quarter of them two notes, the second "
        "under the first still ringing).\n",
        count, seed);
    if (without_noise)
        std::printf(
            "Played without their noise (the rows by noise hold the notes drawn with it).\n");
    std::vector<stream_case> streams;
    for (int i = from; i < from + count; i++)
        streams.push_back(make_stream(seed * 100000u + static_cast<uint32_t>(i)));
    for (int block : {64, 2048}) {
        outcomes all, known;
        int no_note = 0, rows_total = 0;
        for (const stream_case &s : streams) {
            const auto heard = evaluation::play_stream(s.stream.samples, block, s.rate);
            if (exact)
                print_exact(block, s, heard, 0.0);
            rows_total += static_cast<int>(heard.size());
            no_note += assign(s, heard, block, false, all);
            const note_case &last = s.notes.back();
            if (last.model.output == signals::string_output::pickup && s.notes.size() == 1) {
                const auto with =
                    evaluation::play_stream(s.stream.samples, block, s.rate, last.model.pickup);
                if (exact)
                    print_exact(block, s, with, last.model.pickup);
                assign(s, with, block, true, known);
            }
        }
        if (exact)
            continue;
        if (list_notes) {
            print_notes(all);
            continue;
        }
        if (brief) {
            header(fmt("blocks of %.0f", block));
            const outcomes resolvable =
                select(all, [](const outcome &o) { return o.resolvable(); });
            row("resolvable (pickup <= beta)", resolvable);
            row("resolvable, noise in bound",
                select(resolvable, [](const outcome &o) { return o.c.noise_in_bound(); }));
            row("pickup notes, --pickup given", known);
            causes(all);
            continue;
        }
        tables(fmt("blocks of %.0f", block), all);
        row("pickup notes, --pickup given", known);
        std::printf("rows of no note: %d of %d rows\n", no_note, rows_total);
        const outcomes estimated = select(all, [](const outcome &o) { return o.estimates > 0; });
        std::printf("releases placed within 5 ms of the true one: %.1f%% of %zu estimates\n",
                    share(estimated,
                          [](const outcome &o) {
                              return std::abs(o.first.release - o.c.truth.release) * 1000 <=
                                     5 * o.c.rate;
                          }),
                    estimated.size());
        calibration(all);
        causes(all);
    }
    return 0;
}
