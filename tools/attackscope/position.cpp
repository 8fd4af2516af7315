#include "position.h"

bool estimate_busy(const attackscope_engine &e) {
    return e.x_tracker != nullptr && e.x_tracker->busy();
}

std::optional<position_estimate> engine_estimate(attackscope_engine &e, int n, bool analysis) {
    position_estimate p{};
    if (!engine_position(e, n, analysis, p))
        return std::nullopt;
    return p;
}
