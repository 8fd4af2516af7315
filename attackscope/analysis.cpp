// Placeholder until the full analysis lands: only the hold-off reload, then back to watching.
#include "analysis.h"

#include "inlet_value.h"

void analyse_event(t_attackscope *x, int /*n*/, int /*clipped*/) {
    x->x_holdoff = truncated_int(x->x_holdblocks);
    x->x_state = 0;
}
