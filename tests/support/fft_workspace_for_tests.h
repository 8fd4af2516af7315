// One transform workspace per test thread, for tests, benchmarks and fuzz targets that call the
// transform or the pitch estimate without an engine to lend its own.
#pragma once

#include <memory>

#include "dsp/fft.h"

namespace signals {

inline dsp::fft_workspace &test_workspace() {
    thread_local const std::unique_ptr<dsp::fft_workspace> ws =
        std::make_unique<dsp::fft_workspace>();
    return *ws;
}

} // namespace signals
