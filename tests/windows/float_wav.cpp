#include "float_wav.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>

namespace windows_test {
namespace {

uint32_t le32(const unsigned char *p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
uint16_t le16(const unsigned char *p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

} // namespace

std::vector<float> read_float_wav(const std::string &path, std::string &why) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        why = "cannot open " + path;
        return {};
    }
    const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(file), {}};
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
        std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
        why = path + " is no WAV file";
        return {};
    }
    bool format_ok = false;
    // Chunks follow the 12-byte header, each an 8-byte head and an even-padded body; every read
    // below checks that the body lies inside the file.
    for (size_t at = 12; at + 8 <= bytes.size();) {
        const unsigned char *head = bytes.data() + at;
        const size_t size = le32(head + 4);
        if (size > bytes.size() - at - 8) {
            why = path + " is cut short";
            return {};
        }
        const unsigned char *body = head + 8;
        if (std::memcmp(head, "fmt ", 4) == 0 && size >= 16)
            format_ok = le16(body) == 3 && le16(body + 2) == 1 && le16(body + 14) == 32;
        if (std::memcmp(head, "data", 4) == 0) {
            if (!format_ok) {
                why = path + " is not mono 32-bit float";
                return {};
            }
            std::vector<float> samples(size / 4);
            for (size_t i = 0; i < samples.size(); i++) {
                const uint32_t bits = le32(body + 4 * i);
                std::memcpy(&samples[i], &bits, 4);
            }
            return samples;
        }
        at += 8 + size + (size & 1);
    }
    why = path + " has no data";
    return {};
}

} // namespace windows_test
