#include "string_model.h"

#include <algorithm>
#include <cmath>

#include "signals.h"

namespace signals {

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr double ln1000 = 6.907755278982137; // 60 dB of amplitude, in nepers

// A raised cosine of full width `width` around `centre` on the nodes x_i = i h, i = 1..n-1,
// normalised to sum 1; the nearest node alone when the width falls between nodes.
std::vector<double> contact_profile(int n, double h, double centre, double width) {
    std::vector<double> g(static_cast<size_t>(n + 1), 0.0);
    double sum = 0.0;
    for (int i = 1; i < n; i++) {
        const double d = (i * h - centre) / width;
        if (std::fabs(d) < 0.5) {
            g[static_cast<size_t>(i)] = 0.5 * (1.0 + std::cos(2.0 * pi * d));
            sum += g[static_cast<size_t>(i)];
        }
    }
    if (!(sum > 0.0)) {
        const int i = std::clamp(static_cast<int>(std::lround(centre / h)), 1, n - 1);
        g[static_cast<size_t>(i)] = sum = 1.0;
    }
    for (double &v : g)
        v /= sum;
    return g;
}

// A smooth step from 0 to 1 as t goes from 0 to 1.
double ramp(double t) {
    return t <= 0.0 ? 0.0 : t >= 1.0 ? 1.0 : 0.5 - 0.5 * std::cos(pi * t);
}

struct biquad_state {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0, x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    double step(double x) {
        const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        return y;
    }
};

// Bilinear-transform sections (the usual audio cookbook forms, derived from the analogue
// prototypes H(s) = 1 / (s^2 + s/Q + 1) and (s/Q) / (s^2 + s/Q + 1)).
biquad_state resonant_lowpass(double hz, double q, double rate) {
    const double w = 2.0 * pi * hz / rate, alpha = std::sin(w) / (2.0 * q), c = std::cos(w);
    const double a0 = 1.0 + alpha;
    biquad_state b;
    b.b0 = 0.5 * (1.0 - c) / a0;
    b.b1 = (1.0 - c) / a0;
    b.b2 = b.b0;
    b.a1 = -2.0 * c / a0;
    b.a2 = (1.0 - alpha) / a0;
    return b;
}
biquad_state bandpass(double hz, double q, double rate) {
    const double w = 2.0 * pi * hz / rate, alpha = std::sin(w) / (2.0 * q), c = std::cos(w);
    const double a0 = 1.0 + alpha;
    biquad_state b;
    b.b0 = alpha / a0;
    b.b1 = 0.0;
    b.b2 = -alpha / a0;
    b.a1 = -2.0 * c / a0;
    b.a2 = (1.0 - alpha) / a0;
    return b;
}
biquad_state first_order_highpass(double hz, double rate) {
    const double t = std::tan(pi * hz / rate);
    biquad_state b;
    b.b0 = 1.0 / (1.0 + t);
    b.b1 = -b.b0;
    b.a1 = (t - 1.0) / (t + 1.0);
    return b;
}
biquad_state first_order_lowpass(double hz, double rate) {
    const double t = std::tan(pi * hz / rate);
    biquad_state b;
    b.b0 = t / (1.0 + t);
    b.b1 = b.b0;
    b.a1 = (t - 1.0) / (t + 1.0);
    return b;
}

struct scheme {
    double k, c, kappa, s0, s1, h;
    int n;
};

scheme make_scheme(const string_model &m) {
    // The string on x in [0, 1], simply supported at both ends:
    //   u_tt = c^2 u_xx - kappa^2 u_xxxx - 2 s0 u_t + 2 s1 u_txx + f(x, t)
    // A mode of wavenumber q = n pi then has w^2 = c^2 q^2 + kappa^2 q^4 (c = 2 f0,
    // kappa^2 = B c^2 / pi^2) and decays at s0 + s1 q^2. The explicit scheme of second-order
    // centred differences is stable for a grid spacing of at least h_min (below).
    const double k = 1.0 / m.rate;
    const double c = 2.0 * m.f0;
    const double kappa = c * std::sqrt(std::max(0.0, m.inharmonicity)) / pi;
    // Losses through two decay times: at f0 and at 2 kHz (wavenumbers^2 z1 and z2).
    const auto z_of = [&](double hz) {
        const double w = 2.0 * pi * hz;
        return kappa > 0.0 ? (-c * c + std::sqrt(c * c * c * c + 4.0 * kappa * kappa * w * w)) /
                                 (2.0 * kappa * kappa)
                           : w * w / (c * c);
    };
    const double z1 = z_of(m.f0), z2 = z_of(std::max(2000.0, 2.0 * m.f0));
    const double r1 = ln1000 / m.t60_low, r2 = ln1000 / std::min(m.t60_high, m.t60_low);
    const double s1 = std::max(0.0, (r2 - r1) / (z2 - z1));
    const double s0 = std::max(0.0, r1 - s1 * z1);
    const double ck = c * c * k * k + 4.0 * s1 * k;
    const double h_min = std::sqrt(0.5 * (ck + std::sqrt(ck * ck + 16.0 * kappa * kappa * k * k)));
    // The finger's spring adds to the stiffness the bound allows for: 3% of spacing to spare.
    const int n = std::max(4, static_cast<int>(std::floor(0.97 / h_min)));
    return {k, c, kappa, s0, s1, 1.0 / n, n};
}

// The string simulated at m.rate (the caller's oversampled rate).
modelled_note simulate(const string_model &m, int lead) {
    const scheme sc = make_scheme(m);
    const double k = sc.k, c = sc.c, kappa = sc.kappa, s0 = sc.s0, s1 = sc.s1, h = sc.h;
    const int n = sc.n;

    const double finger_width = std::max(1e-6, m.width_mm / m.length_mm);
    const std::vector<double> finger = contact_profile(n, h, m.position, finger_width);
    const std::vector<double> pickup =
        contact_profile(n, h, m.pickup, std::max(1e-6, m.aperture_mm / m.length_mm));

    // The finger is a soft spring (its own resonance against the string near 1.5 kHz) with a
    // damper, pulling the string's mean displacement under it towards its travel; its grip
    // fades to nothing over the release time.
    const double omega = 2.0 * pi * 1500.0;
    const double grip_damping = 0.5 * std::max(0.0, m.finger_damping) * omega;
    const int touch = lead;
    const int push = std::max(1, static_cast<int>(std::lround(m.push_ms * 1e-3 * m.rate)));
    const int contact =
        std::max(push + 1, static_cast<int>(std::lround(m.contact_ms * 1e-3 * m.rate)));
    const double release_len = std::max(1.0, m.release_ms * 1e-3 * m.rate);
    const int release = touch + contact;
    const int total = release + static_cast<int>(std::lround(m.seconds * m.rate));

    std::vector<double> u(static_cast<size_t>(n + 1), 0.0), up = u, un = u, lap = u, lapp = u;
    modelled_note out;
    out.samples.assign(static_cast<size_t>(total), 0.0);
    out.release = release;
    out.touch = touch;

    biquad_state coil = resonant_lowpass(m.coil_hz, m.coil_q, m.rate);
    // Every recording chain is AC-coupled: the held string's steady force on the bridge is not
    // heard.
    biquad_state coupling = first_order_highpass(20.0, m.rate);
    biquad_state lowpass = first_order_lowpass(m.lowpass_hz > 0 ? m.lowpass_hz : 1.0, m.rate);
    std::vector<biquad_state> body;
    std::vector<double> body_gain;
    if (m.output == string_output::body) {
        Noise r(static_cast<uint32_t>(m.body_seed));
        const auto uni = [&](double lo, double hi) {
            return lo + (hi - lo) * 0.5 * (r.next() + 1.0);
        };
        for (int j = 0; j < 4; j++) {
            body.push_back(bandpass(90.0 * std::pow(500.0 / 90.0, uni(0, 1)), uni(10, 40), m.rate));
            body_gain.push_back(uni(0.5, 3.0));
        }
    }

    double mean_before = 0.0;
    for (int t = 0; t < total; t++) {
        // Laplacian, with the odd reflection of simply supported ends.
        for (int i = 1; i < n; i++)
            lap[static_cast<size_t>(i)] =
                (u[static_cast<size_t>(i + 1)] - 2.0 * u[static_cast<size_t>(i)] +
                 u[static_cast<size_t>(i - 1)]) /
                (h * h);
        lap[0] = lap[static_cast<size_t>(n)] = 0.0;
        double grip = 0.0, travel = 0.0;
        if (t >= touch) {
            travel = ramp(static_cast<double>(t - touch) / push);
            grip = 1.0 - ramp((t - release + 0.5 * release_len) / release_len);
        }
        double mean = 0.0;
        for (int i = 1; i < n; i++)
            mean += finger[static_cast<size_t>(i)] * u[static_cast<size_t>(i)];
        const double pull = grip * (omega * omega * (1e-3 * travel - mean) -
                                    grip_damping * (mean - mean_before) / k);
        mean_before = mean;
        const double g_max = *std::max_element(finger.begin(), finger.end());
        for (int i = 1; i < n; i++) {
            const auto s = static_cast<size_t>(i);
            const double l4 = (lap[s + 1] - 2.0 * lap[s] + lap[s - 1]) / (h * h);
            const double force = pull * finger[s] / g_max;
            un[s] = (2.0 * u[s] - (1.0 - s0 * k) * up[s] +
                     k * k * (c * c * lap[s] - kappa * kappa * l4) +
                     2.0 * s1 * k * (lap[s] - lapp[s]) + k * k * force) /
                    (1.0 + s0 * k);
        }
        un[0] = un[static_cast<size_t>(n)] = 0.0;
        double y = 0.0;
        if (m.output == string_output::pickup) {
            // A magnetic pickup senses the velocity of the string over its aperture.
            double v = 0.0;
            for (int i = 1; i < n; i++)
                v += pickup[static_cast<size_t>(i)] *
                     (un[static_cast<size_t>(i)] - u[static_cast<size_t>(i)]);
            y = coil.step(v / k);
        } else {
            // The transverse force on the bridge: tension times slope, less the bending term.
            const double slope = un[1] / h;
            const double third = (un[2] - 3.0 * un[1]) / (h * h * h); // u_xxx at 0, u_-1 = -u_1
            y = c * c * slope - kappa * kappa * third;
            double sum = y;
            for (size_t j = 0; j < body.size(); j++)
                sum += body_gain[j] * body[j].step(y);
            y = sum;
        }
        y = coupling.step(y);
        if (m.lowpass_hz > 0)
            y = lowpass.step(y);
        out.samples[static_cast<size_t>(t)] = y;
        std::swap(lapp, lap);
        std::swap(up, u);
        std::swap(u, un);
    }

    // A string is stopped by a hand over some milliseconds, never at once: the render's end fades
    // out over 20 ms (a cut would be a click, which no string makes).
    const int fade = std::min(total, static_cast<int>(0.02 * m.rate));
    for (int i = 0; i < fade; i++)
        out.samples[static_cast<size_t>(total - fade + i)] *=
            0.5 + 0.5 * std::cos(pi * (i + 1.0) / fade);

    // The discrete string's own series, exact for its sine modes: lambda_n, the eigenvalue of the
    // second difference, in the scheme's characteristic equation.
    double sw = 0, su = 0, sv = 0, suv = 0, svv = 0;
    for (int q = 1; q < n && q <= 30; q++) {
        const double sn = std::sin(q * pi * h / 2.0);
        const double lam = 4.0 / (h * h) * sn * sn;
        const double a =
            2.0 - k * k * (c * c * lam + kappa * kappa * lam * lam) - 2.0 * s1 * k * lam;
        const double b = -(1.0 - s0 * k) + 2.0 * s1 * k * lam;
        const double rr = std::sqrt(std::max(1e-30, -b / (1.0 + s0 * k)));
        const double cw = std::clamp(a / (2.0 * rr * (1.0 + s0 * k)), -1.0, 1.0);
        const double fq = std::acos(cw) / k / (2.0 * pi);
        if (q == 1)
            out.f0 = fq;
        if (fq > 0.45 * m.rate)
            break;
        const double uu = (fq / q) * (fq / q), vv = static_cast<double>(q) * q;
        sw += 1;
        su += uu;
        sv += vv;
        suv += uu * vv;
        svv += vv * vv;
    }
    const double det = sw * svv - sv * sv;
    if (det > 0) {
        const double slope = (sw * suv - sv * su) / det, icpt = (su - slope * sv) / sw;
        out.inharmonicity = icpt > 0 ? slope / icpt : 0.0;
    }
    return out;
}

// A windowed-sinc low-pass (Blackman window) at 0.45 of the output rate, applied while
// keeping every factor-th sample; linear phase, centred, so sample t is still time t.
std::vector<double> decimate(const std::vector<double> &x, int factor) {
    if (factor <= 1)
        return x;
    const int half = 24 * factor;
    std::vector<double> taps(static_cast<size_t>(2 * half + 1));
    double sum = 0.0;
    for (int j = -half; j <= half; j++) {
        const double t = static_cast<double>(j) / factor, a = 2.0 * pi * 0.45 * t;
        const double sinc = j == 0 ? 1.0 : std::sin(a) / a;
        const double w =
            0.42 + 0.5 * std::cos(pi * j / half) + 0.08 * std::cos(2.0 * pi * j / half);
        taps[static_cast<size_t>(j + half)] = sinc * w;
        sum += sinc * w;
    }
    std::vector<double> out(x.size() / static_cast<size_t>(factor), 0.0);
    for (size_t t = 0; t < out.size(); t++) {
        double acc = 0.0;
        for (int j = -half; j <= half; j++) {
            const int64_t i = static_cast<int64_t>(t) * factor + j;
            if (i >= 0 && i < static_cast<int64_t>(x.size()))
                acc += taps[static_cast<size_t>(j + half)] * x[static_cast<size_t>(i)];
        }
        out[t] = acc / sum;
    }
    return out;
}

} // namespace

modelled_note render_model(const string_model &m, int lead) {
    // A coarse grid quantises the pluck point and the pickup to its nodes and bends the high
    // partials off the string's series (the scheme's own dispersion): the string is simulated
    // on 120 nodes at least, at up to four times the rate, and the output decimated.
    string_model fine = m;
    int factor = 1;
    while (factor < 4 && make_scheme(fine).n < 120) {
        factor++;
        fine.rate = m.rate * factor;
    }
    modelled_note note = simulate(fine, lead * factor);
    if (factor == 1)
        return note;
    note.samples = decimate(note.samples, factor);
    note.release = static_cast<int>(std::lround(static_cast<double>(note.release) / factor));
    note.touch = lead;
    return note;
}

void add_note(modelled_stream &s, const string_model &m, const modelled_note &note, int at,
              double peak) {
    double largest = 0.0;
    for (double v : note.samples)
        largest = std::max(largest, std::fabs(v));
    const double g = largest > 0 ? peak / largest : 0.0;
    const size_t end = static_cast<size_t>(at) + note.samples.size();
    if (s.samples.size() < end)
        s.samples.resize(end, 0.0f);
    for (size_t i = 0; i < note.samples.size(); i++)
        s.samples[static_cast<size_t>(at) + i] += static_cast<float>(g * note.samples[i]);
    stream_note sn;
    sn.position = m.position;
    sn.pickup = m.output == string_output::pickup ? m.pickup : 0.0;
    sn.f0 = note.f0;
    sn.inharmonicity = note.inharmonicity;
    sn.release = at + note.release;
    sn.touch = at + note.touch;
    s.notes.push_back(sn);
}

void add_white_noise(modelled_stream &s, double dbfs, uint32_t seed) {
    Noise r(seed);
    const double rms = std::pow(10.0, dbfs / 20.0), scale = rms * std::sqrt(3.0); // uniform
    for (float &v : s.samples)
        v = static_cast<float>(v + scale * r.next());
}

} // namespace signals
