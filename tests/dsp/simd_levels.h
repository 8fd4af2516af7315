// Every vector unit this machine can run, so a test covers each code path the dispatch may pick.
#pragma once

#include <string>
#include <vector>

#include "dsp/simd_level.h"

inline std::vector<dsp::simd_level> simd_levels_here() {
    std::vector<dsp::simd_level> levels{dsp::simd_level::baseline};
    if (dsp::simd_level_available() != dsp::simd_level::baseline)
        levels.push_back(dsp::simd_level::avx2);
    if (dsp::simd_level_available() == dsp::simd_level::avx512)
        levels.push_back(dsp::simd_level::avx512);
    return levels;
}

inline std::string simd_level_name(dsp::simd_level level) {
    switch (level) {
    case dsp::simd_level::avx512:
        return "avx512";
    case dsp::simd_level::avx2:
        return "avx2";
    case dsp::simd_level::baseline:
        break;
    }
    return "baseline";
}
