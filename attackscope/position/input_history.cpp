#include "position/input_history.h"

#include <algorithm>

namespace dsp {

void input_history::prepare(int64_t span) {
    int64_t size = 1;
    while (size < span && size < (int64_t{1} << 30))
        size *= 2;
    ring_.assign(static_cast<size_t>(size), 0.0f);
    mask_ = size - 1;
    reset();
}

void input_history::reset() {
    std::fill(ring_.begin(), ring_.end(), 0.0f);
    total_ = 0;
    last_bad_ = -1;
}

} // namespace dsp
