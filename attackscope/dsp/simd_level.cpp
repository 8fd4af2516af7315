#include "dsp/simd_level.h"

namespace dsp {

simd_level simd_level_available() {
#if defined(__x86_64__)
    // The compiler's runtime checks also ask the operating system whether it saves the wide
    // registers; under valgrind, which lacks AVX-512, the processor reports it absent.
    static const simd_level level = [] {
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx512f"))
            return simd_level::avx512;
        if (__builtin_cpu_supports("avx2"))
            return simd_level::avx2;
        return simd_level::baseline;
    }();
    return level;
#else
    return simd_level::baseline;
#endif
}

} // namespace dsp
