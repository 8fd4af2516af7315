// What one step of a stage of the pluck-position estimate did: the units of work it spent and
// where the stage stands. A unit is about one butterfly of the transform; every stage counts its
// work in units, so the tracker can hold a block to its budget.
#pragma once

#include <cstdint>

namespace dsp {

enum class stage_state {
    running, // more steps, in this block if its budget allows
    waiting, // nothing more this block: input to come, or the block's light work done
    done,    // the stage's result is ready
    failed,  // nothing can be measured: the note ends here
};

struct stage_step {
    int64_t units;
    stage_state state;
};

} // namespace dsp
