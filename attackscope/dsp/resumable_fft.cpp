#include "dsp/resumable_fft.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

namespace dsp {

void resumable_fft::prepare(int max_size) {
    int size = 2;
    while (size < max_size && size < (1 << 30))
        size *= 2;
    max_size_ = size;
    cos_.assign(static_cast<size_t>(size / 2), 0.0);
    sin_.assign(static_cast<size_t>(size / 2), 0.0);
    for (int k = 0; k < size / 2; k++) {
        const double a = -2.0 * std::numbers::pi * k / size;
        cos_[static_cast<size_t>(k)] = std::cos(a);
        sin_[static_cast<size_t>(k)] = std::sin(a);
    }
    phase_ = phase::done;
}

void resumable_fft::start(double *re, double *im, int size, bool reordered) {
    re_ = re;
    im_ = im;
    size_ = size;
    bits_ = 0;
    while ((1 << bits_) < size && bits_ < 30)
        bits_++;
    const bool valid = re && im && size >= 2 && size <= max_size_ && (1 << bits_) == size;
    phase_ = !valid ? phase::done : reordered ? phase::stages : phase::reorder;
    cursor_ = 0;
    half_bits_ = 0;
}

int64_t resumable_fft::step(int64_t budget) {
    int64_t spent = 0;
    if (budget < 1)
        budget = 1;
    while (phase_ == phase::reorder && (spent == 0 || budget - spent >= 3)) {
        // Bit reversal: each pair is swapped once, from its lower index.
        // An index reversal costs about three butterflies.
        const int end = static_cast<int>(
            std::min<int64_t>(size_, cursor_ + std::max<int64_t>(1, (budget - spent) / 3)));
        for (int i = cursor_; i < end; i++) {
            int j = 0;
            for (int b = 0, v = i; b < bits_; b++, v >>= 1)
                j = (j << 1) | (v & 1);
            if (i < j) { // j < size_ since it has bits_ bits
                std::swap(re_[i], re_[j]);
                std::swap(im_[i], im_[j]);
            }
        }
        spent += 3 * (end - cursor_);
        cursor_ = end;
        if (cursor_ == size_) {
            phase_ = phase::stages;
            cursor_ = 0;
            half_bits_ = 0;
        }
    }
    while (phase_ == phase::stages && spent < budget) {
        // Butterfly b of a stage of span 2*half: group b / half, offset k = b % half; its two
        // points i < j = i + half stay below size_ because b < size_/2.
        const int half = 1 << half_bits_;
        const int stride = max_size_ / (2 * half); // rotation k of span 2*half is table k*stride
        const int butterflies = size_ / 2;
        const int end =
            static_cast<int>(std::min<int64_t>(butterflies, cursor_ + (budget - spent)));
        for (int b = cursor_; b < end; b++) {
            const int k = b & (half - 1);
            const int i = ((b >> half_bits_) << (half_bits_ + 1)) + k;
            const int j = i + half;
            const size_t t = static_cast<size_t>(k) * static_cast<size_t>(stride);
            const double wr = cos_[t], wi = sin_[t]; // t < max_size_/2 since k < half
            const double xr = re_[j] * wr - im_[j] * wi;
            const double xi = re_[j] * wi + im_[j] * wr;
            re_[j] = re_[i] - xr;
            im_[j] = im_[i] - xi;
            re_[i] += xr;
            im_[i] += xi;
        }
        spent += end - cursor_;
        cursor_ = end;
        if (cursor_ == butterflies) {
            cursor_ = 0;
            if (++half_bits_ == bits_)
                phase_ = phase::done;
        }
    }
    return spent;
}

} // namespace dsp
