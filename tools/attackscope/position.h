// The pluck-position columns (--position). The estimate is not part of this build yet: the
// option is refused while position_available is false, and the columns stay empty.
#pragma once

#include <optional>

#include "engine.h"

inline constexpr bool position_available = false;

struct position_estimate {
    double position;    // along the string, from the bridge, as a fraction of its length
    double position_f0; // the pitch the estimate worked from, Hz
    double confidence;  // 0..1
};

// The estimate for an analysis block whose outcome is `o`, read from the engine right after
// engine_analyse returned (x_capture still holds the four blocks it measured).
std::optional<position_estimate> estimate_position(const attackscope_engine &e, int n,
                                                   const event_outcome &o);
