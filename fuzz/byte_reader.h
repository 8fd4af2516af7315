// Reads a fuzzer input front to back as small fields. An exhausted input reads as zeros, so every
// prefix of an input is itself a valid input and the mutator's cuts and splices stay meaningful.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

namespace fuzz {

class ByteReader {
  public:
    ByteReader(const uint8_t *data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return pos_ >= size_; }

    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    // Little-endian; each low part is read first (operands of | are unsequenced).
    uint16_t u16() {
        const unsigned low = byte();
        return static_cast<uint16_t>(low | static_cast<unsigned>(byte()) << 8);
    }
    uint32_t u32() {
        const uint32_t low = u16();
        return low | static_cast<uint32_t>(u16()) << 16;
    }
    uint64_t u64() {
        const uint64_t low = u32();
        return low | static_cast<uint64_t>(u32()) << 32;
    }
    float raw_float() { return std::bit_cast<float>(u32()); }
    double raw_double() { return std::bit_cast<double>(u64()); }

    // A value from `table` for most selector bytes (so that one byte reaches each entry), or,
    // for selectors from `raw_from` up, whatever `raw` reads next.
    template <class T, size_t N, class Raw> T pick(const T (&table)[N], uint8_t raw_from, Raw raw) {
        const uint8_t sel = byte();
        if (sel >= raw_from)
            return raw();
        return table[sel % N];
    }

    // Reads a pattern of `length` values with `read` (all of them first), then repeats it over
    // out[0..count-1].
    template <class T, class Read> void repeat(T *out, size_t count, size_t length, Read read) {
        T pattern[256];
        for (size_t k = 0; k < length; k++)
            pattern[k] = read();
        for (size_t i = 0; i < count; i++)
            out[i] = pattern[i % length];
    }

  private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};

// Floats that sit on the edges of the object's parameters and of float arithmetic.
inline constexpr float special_floats[] = {
    0.0f,
    -0.0f,
    1.0f,
    -1.0f,
    0.5f,
    0.25f,
    0.99999994f,
    1.0000001f,
    1.5f,
    1.99f,
    2.0f,
    2.5f,
    3.0f,
    5.0f,
    7.0f,
    8.0f,
    10.0f,
    10.9f,
    -0.5f,
    -7.0f,
    50.0f,
    100.0f,
    1e30f,
    -1e30f,
    2147483648.0f,
    -2147483904.0f,
    std::numeric_limits<float>::max(),
    -std::numeric_limits<float>::max(),
    std::numeric_limits<float>::min(),
    std::numeric_limits<float>::denorm_min(),
    -std::numeric_limits<float>::denorm_min(),
    std::numeric_limits<float>::infinity(),
    -std::numeric_limits<float>::infinity(),
    std::numeric_limits<float>::quiet_NaN(),
    -std::numeric_limits<float>::quiet_NaN(),
    1e-40f,
};

// A special float for most selectors, raw float bits for the rest.
inline float chosen_float(ByteReader &in) {
    return in.pick(special_floats, 224, [&] { return in.raw_float(); });
}

} // namespace fuzz
