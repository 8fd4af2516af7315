// beatspan: how many analysis blocks (2048 samples at 44100 Hz) a number of beats lasts.

#include <cmath>

#include "m_pd.h"

namespace {

// The block duration as the single-precision value nearest to 2048 / 44100 (6233059 * 2^-27);
// results are defined against this constant, not against the exact quotient.
constexpr double block_seconds = static_cast<double>(2048.0f / 44100.0f);
static_assert(block_seconds == 0.046439908444881439208984375);

t_class *beatspan_class;

struct t_beatspan {
    t_object x_obj;
    t_float x_beats; // right inlet: number of beats
    t_outlet *x_out;
};

void beatspan_float(t_beatspan *x, t_floatarg f) {
    double result = 4.0; // a span of zero beats is four blocks
    if (x->x_beats != 0 && !std::isnan(x->x_beats)) {
        const double q = 60.0 / static_cast<double>(f);
        const double p = q * static_cast<double>(x->x_beats);
        result = p / block_seconds;
    }
    outlet_float(x->x_out, static_cast<t_float>(result));
}

void *beatspan_new() {
    auto *x = reinterpret_cast<t_beatspan *>(pd_new(beatspan_class));
    floatinlet_new(&x->x_obj, &x->x_beats);
    x->x_out = outlet_new(&x->x_obj, &s_float);
    return x;
}

} // namespace

extern "C" PD_MODULE_EXPORT void beatspan_setup(void) {
    beatspan_class = class_new(gensym("beatspan"), reinterpret_cast<t_newmethod>(beatspan_new),
                               nullptr, sizeof(t_beatspan), CLASS_DEFAULT, A_NULL);
    class_doaddfloat(beatspan_class, reinterpret_cast<t_method>(beatspan_float));
}
