// Writes the demo recording: plucked-string notes made by Karplus-Strong synthesis from a fixed
// seed, so the file is the same on every build. Mono, 44100 Hz, 32-bit float WAV.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "signals.h"

namespace {

struct Note {
    double seconds, freq, level;
};

// A short phrase of guitar-range notes; each rings 0.6 s and the next starts 0.8 s after it.
constexpr Note notes[] = {{0.25, 196.0, 0.5},  {1.05, 246.94, 0.5}, {1.85, 440.0, 0.4},
                          {2.65, 329.63, 0.6}, {3.45, 110.0, 0.7},  {4.25, 293.66, 0.5},
                          {5.05, 392.0, 0.4},  {5.85, 220.0, 0.6}};
constexpr double total_seconds = 7.0;

void put32(std::FILE *f, uint32_t v) {
    const unsigned char b[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                                static_cast<unsigned char>(v >> 16),
                                static_cast<unsigned char>(v >> 24)};
    std::fwrite(b, 1, 4, f);
}
void put16(std::FILE *f, uint16_t v) {
    const unsigned char b[2] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8)};
    std::fwrite(b, 1, 2, f);
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT.wav\n", argv[0]);
        return 2;
    }
    std::vector<float> audio(static_cast<size_t>(total_seconds * signals::rate), 0.0f);
    uint32_t seed = 1;
    for (const Note &n : notes)
        signals::add_pluck(audio, static_cast<int>(n.seconds * signals::rate), n.freq, 0.6, n.level,
                           seed++);

    std::FILE *f = std::fopen(argv[1], "wb");
    if (!f) {
        std::perror(argv[1]);
        return 1;
    }
    const auto data_bytes = static_cast<uint32_t>(audio.size() * 4);
    std::fwrite("RIFF", 1, 4, f);
    put32(f, 36 + data_bytes);
    std::fwrite("WAVEfmt ", 1, 8, f);
    put32(f, 16);
    put16(f, 3); // IEEE float
    put16(f, 1);
    put32(f, signals::rate);
    put32(f, signals::rate * 4);
    put16(f, 4);
    put16(f, 32);
    std::fwrite("data", 1, 4, f);
    put32(f, data_bytes);
    for (float v : audio) { // little-endian bytes, whatever the host
        uint32_t bits;
        static_assert(sizeof bits == sizeof v);
        std::memcpy(&bits, &v, 4);
        put32(f, bits);
    }
    return std::fclose(f) == 0 ? 0 : 1;
}
