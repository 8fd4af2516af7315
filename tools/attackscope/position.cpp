#include "position.h"

#include "pluck_position.h"

bool estimate_busy(const attackscope_engine &e) {
    return e.x_tracker != nullptr && e.x_tracker->busy();
}

std::optional<position_estimate> engine_estimate(attackscope_engine &e, int n, bool analysis) {
    dsp::pluck_estimate p{};
    if (!engine_position(e, n, analysis, p))
        return std::nullopt;
    return position_estimate{p.position, p.f0, p.confidence};
}
