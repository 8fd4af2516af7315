#include "signals.h"

#include <algorithm>
#include <cmath>

namespace signals {

namespace {
// Notes end with a 5 ms fade rather than a click, which the gate would take for an attack.
double fade(int i, int count) {
    const int left = count - i, ramp = rate / 200;
    return left < ramp ? static_cast<double>(left) / ramp : 1.0;
}
} // namespace

void add_pluck(std::vector<float> &out, int start, double freq, double seconds, double level,
               uint32_t seed) {
    const int period = std::max(2, static_cast<int>(std::lround(rate / freq)));
    // The string starts in the triangle of a pluck a fifth along it, roughened by a little noise,
    // so the note is harmonic from its first period as a real pluck is.
    std::vector<double> line(static_cast<size_t>(period));
    Noise noise(seed);
    const double apex = period / 5.0;
    for (int i = 0; i < period; i++) {
        const double shape = i < apex ? i / apex : (period - i) / (period - apex);
        line[static_cast<size_t>(i)] = 2 * shape - 1 + 0.1 * noise.next();
    }
    const int count = static_cast<int>(seconds * rate);
    for (int i = 0; i < count && start + i < static_cast<int>(out.size()); i++) {
        const size_t here = static_cast<size_t>(i % period);
        const size_t next = static_cast<size_t>((i + 1) % period);
        const double v = line[here];
        line[here] = 0.498 * (v + line[next]);
        out[static_cast<size_t>(start + i)] += static_cast<float>(level * v * fade(i, count));
    }
}

void add_tone(std::vector<float> &out, int start, double freq, double seconds, double level,
              int harmonics, double decay) {
    const double pi = 3.14159265358979323846;
    const int count = static_cast<int>(seconds * rate);
    for (int i = 0; i < count && start + i < static_cast<int>(out.size()); i++) {
        const double t = static_cast<double>(i) / rate;
        double v = 0;
        for (int h = 1; h <= harmonics && h * freq < rate / 2; h++)
            v += std::sin(2 * pi * h * freq * t) / h;
        out[static_cast<size_t>(start + i)] +=
            static_cast<float>(level * 0.6 * v * std::exp(-t / decay) * fade(i, count));
    }
}

void clip(std::vector<float> &out) {
    for (float &v : out)
        v = std::clamp(v, -1.0f, 1.0f);
}

} // namespace signals
