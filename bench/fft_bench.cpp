// The mixed-radix transform beside FFTW (complex to complex, double, out of place) on the same
// data, at the capture lengths of power-of-two blocks.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "dsp/fft.h"
#include "fft_workspace_for_tests.h"

namespace {

struct Input {
    std::vector<double> re, im;
};

Input random_input(int n) {
    std::mt19937_64 rng(static_cast<std::uint64_t>(n));
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    Input x{std::vector<double>(static_cast<std::size_t>(n)),
            std::vector<double>(static_cast<std::size_t>(n))};
    for (std::size_t i = 0; i < x.re.size(); i++) {
        x.re[i] = dist(rng);
        x.im[i] = dist(rng);
    }
    return x;
}

// Our arrays are laid out as the pitch estimator lays them out (on cache lines, the parts of one
// index in distant cache sets), as FFTW's come aligned from fftw_alloc_complex.
void ours(benchmark::State &state, int n) {
    const Input x = random_input(n);
    std::vector<double> block(dsp::fft_arrays_size(n));
    const dsp::fft_arrays a = dsp::fft_arrays_in(block.data(), n);
    std::copy(x.re.begin(), x.re.end(), a.in_re);
    std::copy(x.im.begin(), x.im.end(), a.in_im);
    for (auto _ : state) {
        dsp::fft_transform(signals::test_workspace(), n, a.in_re, a.in_im, a.out_re, a.out_im);
        benchmark::DoNotOptimize(a.out_re);
        benchmark::DoNotOptimize(a.out_im);
        benchmark::ClobberMemory();
    }
}

// The same with four separately allocated vectors, wherever the allocator puts them.
void ours_in_vectors(benchmark::State &state, int n) {
    const Input x = random_input(n);
    std::vector<double> out_re(x.re.size()), out_im(x.re.size());
    for (auto _ : state) {
        dsp::fft_transform(signals::test_workspace(), n, x.re.data(), x.im.data(), out_re.data(),
                           out_im.data());
        benchmark::DoNotOptimize(out_re.data());
        benchmark::DoNotOptimize(out_im.data());
        benchmark::ClobberMemory();
    }
}

void fftw(benchmark::State &state, int n, unsigned flags) {
    auto *in = fftw_alloc_complex(static_cast<std::size_t>(n));
    auto *out = fftw_alloc_complex(static_cast<std::size_t>(n));
    // Planning with FFTW_MEASURE overwrites both arrays, so the data goes in afterwards.
    fftw_plan plan = fftw_plan_dft_1d(n, in, out, FFTW_FORWARD, flags);
    const Input x = random_input(n);
    for (int i = 0; i < n; i++) {
        in[i][0] = x.re[static_cast<std::size_t>(i)];
        in[i][1] = x.im[static_cast<std::size_t>(i)];
    }
    for (auto _ : state) {
        fftw_execute(plan);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
    fftw_destroy_plan(plan);
    fftw_free(in);
    fftw_free(out);
}

std::string bench_name(const char *impl, int n) {
    std::string name = "fft/";
    name += impl;
    name += '/';
    name += std::to_string(n);
    return name;
}

// Registered length by length so that the console shows each length's figures together.
const bool registered = [] {
    for (const int n : {256, 1024, 2048, 4096, 8192}) {
        benchmark::RegisterBenchmark(bench_name("ours", n).c_str(), ours, n);
        benchmark::RegisterBenchmark(bench_name("ours_in_vectors", n).c_str(), ours_in_vectors, n);
        benchmark::RegisterBenchmark(bench_name("fftw_estimate", n).c_str(), fftw, n,
                                     unsigned{FFTW_ESTIMATE});
        benchmark::RegisterBenchmark(bench_name("fftw_measure", n).c_str(), fftw, n,
                                     unsigned{FFTW_MEASURE});
    }
    return true;
}();

} // namespace
