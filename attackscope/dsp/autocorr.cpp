#include <cstring>

#include "dsp/numeric.h"

namespace dsp {
namespace {

// Lags go side by side: the lanes of a vector hold neighbouring lags k + l, and several vectors
// give independent chains that hide the add latency. Each lag still gets x[j] * x[j + k] + r[k]
// for ascending j, so every r[k] is rounded exactly as the one-lag-at-a-time sum (a scalar times
// a vector is an exact broadcast). The loop runs over p = j + k in chunks of positions; within a
// chunk every block of lags continues its sums from r, so each lag still sees ascending j.
//
// The window x[p .. p + lanes - 1] that a vector needs slides by one sample per step, so a plain
// load of it mostly straddles two cache lines. Each chunk therefore keeps one copy of its samples
// per lane offset s (rows[s][i] = x[p0 + i + s]), in which every window starts on a vector
// boundary.
template <std::size_t lanes, std::size_t vectors>
[[gnu::always_inline]] inline void autocorr_blocks(const double *x, double *r, int n) {
    typedef double vec __attribute__((vector_size(lanes * sizeof(double))));
    static_assert(sizeof(vec) == lanes * sizeof(double));
    constexpr int L = static_cast<int>(lanes);
    constexpr int width = static_cast<int>(lanes * vectors);
    constexpr int chunk = 128; // positions per chunk, a multiple of every lane count
    alignas(64) double rows[lanes][std::size_t{chunk + width}];

    for (int k = 0; k < n; k++)
        r[k] = 0;
    // Positions below full_end have a term for every lag of a block; the lags of the last,
    // partial block (k + width > n) have none there.
    const int full_end = n - (width - 1);
    const int full_blocks = n / width;
    for (int p0 = 0; p0 < full_end; p0 += chunk) {
        const int p1 = p0 + chunk < full_end ? p0 + chunk : full_end;
        const int used = p1 - p0 + width - 1;
        for (int s = 0; s < L; s++) {
            for (int i = 0; i < used; i++)
                rows[s][i] = p0 + i + s < n ? x[p0 + i + s] : 0;
        }
        for (int b = 0; b < full_blocks && b * width < p1; b++) {
            const int k = b * width;
            vec acc[vectors];
            std::memcpy(acc, r + k, sizeof acc);
            for (int p = k > p0 ? k : p0; p < p1; p++) {
                const double xj = x[p - k];
                const int s = (p - p0) & (L - 1);
                const double *window = rows[s] + (p - p0 - s);
                for (std::size_t v = 0; v < vectors; v++) {
                    vec y;
                    std::memcpy(&y, window + v * lanes, sizeof y);
                    acc[v] = xj * y + acc[v];
                }
            }
            std::memcpy(r + k, acc, sizeof acc);
        }
    }
    // The last terms of every lag: lag k + l has them up to p = n - 1 - l. Lags side by side
    // again, now a shrinking prefix of each block.
    for (int k = 0; k < n; k += width) {
        const int count = n - k < width ? n - k : width;
        double *sums = r + k;
        for (int p = k > full_end ? k : (full_end > 0 ? full_end : 0); p < n; p++) {
            const int active = n - p < count ? n - p : count;
            const double xj = x[p - k];
            for (int l = 0; l < active; l++)
                sums[l] = xj * x[p + l] + sums[l];
        }
    }
}

// Lanes per vector and vectors per block of lags, for each unit: the vectors fill about half the
// register file, leaving room for the loaded values.
template <simd_level level> void autocorr_for(const double *x, double *r, int n) {
    if constexpr (level == simd_level::avx512)
        autocorr_blocks<8, 6>(x, r, n);
    else if constexpr (level == simd_level::avx2)
        autocorr_blocks<4, 8>(x, r, n);
    else
        autocorr_blocks<2, 6>(x, r, n);
}

} // namespace

void autocorr_direct_on(simd_level level, const double *x, double *r, int n) {
    using builds = simd_builds<void(const double *, double *, int)>;
    builds::for_level<autocorr_for<simd_level::baseline>, autocorr_for<simd_level::avx2>,
                      autocorr_for<simd_level::avx512>>(level)(x, r, n);
}

void autocorr_direct(const double *x, double *r, int n) {
    autocorr_direct_on(simd_level_available(), x, r, n);
}

} // namespace dsp
