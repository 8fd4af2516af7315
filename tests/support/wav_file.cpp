#include "wav_file.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace signals {
namespace {

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

bool write_float_wav(const char *path, const std::vector<float> &audio, int rate) {
    std::FILE *f = std::fopen(path, "wb");
    if (!f) {
        std::perror(path);
        return false;
    }
    const auto data_bytes = static_cast<uint32_t>(audio.size() * 4);
    const auto byte_rate = static_cast<uint32_t>(rate) * 4;
    std::fwrite("RIFF", 1, 4, f);
    put32(f, 36 + data_bytes);
    std::fwrite("WAVEfmt ", 1, 8, f);
    put32(f, 16);
    put16(f, 3); // IEEE float
    put16(f, 1);
    put32(f, static_cast<uint32_t>(rate));
    put32(f, byte_rate);
    put16(f, 4);
    put16(f, 32);
    std::fwrite("data", 1, 4, f);
    put32(f, data_bytes);
    for (float v : audio) {
        uint32_t bits;
        static_assert(sizeof bits == sizeof v);
        std::memcpy(&bits, &v, 4);
        put32(f, bits);
    }
    if (std::fclose(f) != 0) {
        std::perror(path);
        return false;
    }
    return true;
}

} // namespace signals
