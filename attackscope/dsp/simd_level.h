// Which vector unit the hot loops run on, chosen once at run time. Every level computes the same
// operations in the same order per value, so results do not depend on it; only speed does.
#pragma once

namespace dsp {

enum class simd_level { baseline, avx2, avx512 };

// The widest level this processor and operating system support (baseline off x86-64).
simd_level simd_level_available();

// One kernel built for each vector unit, and the choice between the builds at run time: the
// transform's stages and the autocorrelation both go through here. `baseline`, `wide` and
// `widest` are the kernels for the three levels (the same function where only the register width
// changes); flatten inlines each one, and everything it calls, into its unit's build. Off x86-64
// only the baseline build exists.
template <class Signature> struct simd_builds;
template <class R, class... Args> struct simd_builds<R(Args...)> {
    using pointer = R (*)(Args...);

    template <pointer kernel> [[gnu::flatten]] static R baseline(Args... args) {
        return kernel(args...);
    }
#if defined(__x86_64__)
    template <pointer kernel> [[gnu::flatten, gnu::target("avx2")]] static R avx2(Args... args) {
        return kernel(args...);
    }
    template <pointer kernel>
    [[gnu::flatten, gnu::target("avx512f")]] static R avx512(Args... args) {
        return kernel(args...);
    }
#endif

    template <pointer base, pointer wide = base, pointer widest = wide>
    static pointer for_level(simd_level level) {
#if defined(__x86_64__)
        switch (level) {
        case simd_level::avx512:
            return avx512<widest>;
        case simd_level::avx2:
            return avx2<wide>;
        case simd_level::baseline:
            break;
        }
#else
        (void)level;
#endif
        return baseline<base>;
    }
};

} // namespace dsp
