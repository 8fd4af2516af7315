#include "plucked_string.h"

#include <algorithm>
#include <cmath>

#include "signals.h"

namespace signals {

namespace {

constexpr double pi = 3.14159265358979323846;

// Standard normal values from the project's fixed generator (Box-Muller).
struct Gauss {
    Noise noise;
    explicit Gauss(uint32_t seed) : noise(seed) {}
    double next() {
        const double u = 0.5 * (noise.next() + 1.0) * (1.0 - 1e-12) + 1e-12;
        const double v = 0.5 * (noise.next() + 1.0);
        return std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * pi * v);
    }
};

void scale_to_peak(std::vector<double> &x, double peak) {
    double largest = 0.0;
    for (double v : x)
        largest = std::max(largest, std::fabs(v));
    if (largest > 0.0)
        for (double &v : x)
            v *= peak / largest;
}

std::vector<float> to_float(const std::vector<double> &x) {
    return std::vector<float>(x.begin(), x.end());
}

} // namespace

rendered_note render_string(const string_pluck &p, int lead) {
    const int pull = static_cast<int>(std::lround(p.pull_seconds * p.rate));
    const int free = static_cast<int>(std::lround(p.seconds * p.rate));
    const int release = lead + pull;
    std::vector<double> out(static_cast<size_t>(release + free), 0.0);

    // Mode n of a triangle of unit height at beta: 2 sin(n pi beta) / (n^2 pi^2 beta (1 - beta)).
    double held = 0.0; // displacement at the pickup in the pulled shape, band-limited
    const double beta = p.position;
    for (int n = 1;; n++) {
        const double fn = n * p.f0 * std::sqrt(1.0 + p.inharmonicity * n * n);
        if (fn >= 0.5 * p.rate)
            break;
        const double a = 2.0 * std::sin(n * pi * beta) / (n * n * pi * pi * beta * (1.0 - beta));
        const double at_pickup = a * std::sin(n * pi * p.pickup);
        held += at_pickup;
        const double t60 = p.t60 / (1.0 + fn / p.damping_corner);
        const double alpha = 6.907755278982137 / t60; // ln(1000) / T60
        const double omega = 2.0 * pi * fn;
        // q(t) = e^{-alpha t} (cos wt + alpha/w sin wt): released from rest at amplitude 1;
        // its velocity is -e^{-alpha t} (w + alpha^2 / w) sin wt. Both by one complex rotation.
        const double dt = 1.0 / p.rate;
        const double decay = std::exp(-alpha * dt);
        const double rc = decay * std::cos(omega * dt), rs = decay * std::sin(omega * dt);
        double zr = 1.0, zi = 0.0; // e^{(-alpha + i w) t}
        const double vel_scale = -(omega + alpha * alpha / omega);
        for (int t = 0; t < free; t++) {
            const double v = p.velocity ? vel_scale * zi : zr + (alpha / omega) * zi;
            out[static_cast<size_t>(release + t)] += at_pickup * v;
            const double nr = zr * rc - zi * rs;
            zi = zr * rs + zi * rc;
            zr = nr;
        }
    }
    // The pull: the shape grows as s(u) = u^2 (3 - 2u), u from 0 to 1, so that it starts and
    // ends at rest.
    for (int t = 0; t < pull; t++) {
        const double u = (t + 0.5) / pull;
        const double v = p.velocity ? held * 6.0 * u * (1.0 - u) * p.rate / pull
                                    : held * u * u * (3.0 - 2.0 * u);
        out[static_cast<size_t>(lead + t)] = v;
    }
    scale_to_peak(out, p.peak);
    if (p.noise_dbfs > -300.0) {
        Gauss g(p.seed);
        const double rms = std::pow(10.0, p.noise_dbfs / 20.0);
        for (double &v : out)
            v += rms * g.next();
    }
    return {to_float(out), release};
}

rendered_note render_karplus_strong(double f0, double position, double seconds, double peak,
                                    uint32_t seed, int sample_rate, int lead,
                                    double *true_position) {
    // Loop of L samples with a two-point average: period L + 1/2.
    const int loop = std::max(4, static_cast<int>(std::lround(sample_rate / f0 - 0.5)));
    const double period = loop + 0.5;
    const int offset = std::max(1, static_cast<int>(std::lround(position * period)));
    if (true_position) {
        const double b = offset / period;
        *true_position = b <= 0.5 ? b : 1.0 - b;
    }
    Noise noise(seed);
    std::vector<double> burst(static_cast<size_t>(loop));
    for (double &v : burst)
        v = noise.next();
    std::vector<double> line(static_cast<size_t>(loop));
    for (int j = 0; j < loop; j++) // the comb, circular over one loop
        line[static_cast<size_t>(j)] =
            burst[static_cast<size_t>(j)] - burst[static_cast<size_t>((j - offset + loop) % loop)];
    const int count = static_cast<int>(std::lround(seconds * sample_rate));
    std::vector<double> out(static_cast<size_t>(lead + count), 0.0);
    double previous = line[static_cast<size_t>(loop - 1)];
    for (int t = 0; t < count; t++) {
        const auto i = static_cast<size_t>(t % loop);
        const double v = line[i];
        out[static_cast<size_t>(lead + t)] = v;
        line[i] = 0.4995 * (v + previous);
        previous = v;
    }
    scale_to_peak(out, peak);
    return {to_float(out), lead};
}

rendered_note render_bar(double f0, double seconds, double peak, int sample_rate, int lead) {
    const double ratios[5] = {1.0, 2.756, 5.404, 8.933, 13.344};
    const double amps[5] = {1.0, 0.6, 0.35, 0.2, 0.1};
    const int count = static_cast<int>(std::lround(seconds * sample_rate));
    std::vector<double> out(static_cast<size_t>(lead + count), 0.0);
    for (int k = 0; k < 5; k++) {
        const double f = f0 * ratios[k];
        if (f >= 0.45 * sample_rate)
            continue;
        const double tau = 0.4 / (1.0 + f / 1000.0);
        for (int t = 0; t < count; t++) {
            const double s = static_cast<double>(t) / sample_rate;
            const double strike = std::min(1.0, s / 0.001);
            out[static_cast<size_t>(lead + t)] +=
                amps[k] * strike * std::exp(-s / tau) * std::sin(2.0 * pi * f * s);
        }
    }
    scale_to_peak(out, peak);
    return {to_float(out), lead};
}

rendered_note render_noise_burst(double seconds, double decay, double peak, uint32_t seed,
                                 int sample_rate, int lead) {
    const int count = static_cast<int>(std::lround(seconds * sample_rate));
    std::vector<double> out(static_cast<size_t>(lead + count), 0.0);
    Gauss g(seed);
    for (int t = 0; t < count; t++) {
        const double s = static_cast<double>(t) / sample_rate;
        out[static_cast<size_t>(lead + t)] =
            std::min(1.0, s / 0.002) * std::exp(-s / decay) * g.next();
    }
    scale_to_peak(out, peak);
    return {to_float(out), lead};
}

void mix_into(rendered_note &a, const rendered_note &b) {
    if (a.samples.size() < b.samples.size())
        a.samples.resize(b.samples.size(), 0.0f);
    for (size_t i = 0; i < b.samples.size(); i++)
        a.samples[i] += b.samples[i];
    a.release = std::min(a.release, b.release);
}

} // namespace signals
