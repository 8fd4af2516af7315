// Which vector unit the hot loops run on, chosen once at run time. Every level computes the same
// operations in the same order per value, so results do not depend on it; only speed does.
#pragma once

namespace dsp {

enum class simd_level { baseline, avx2, avx512 };

// The widest level this processor and operating system support.
simd_level simd_level_available();

} // namespace dsp
