// attackscope~: watches a mono signal for attacks, block by block, and measures each one.

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "analysis.h"
#include "attackscope.h"
#include "block_sizes.h"
#include "gate.h"
#include "pitch.h"

namespace {

t_class *attackscope_tilde_class;

// Five block arrays and two capture arrays of four blocks each.
constexpr size_t storage_blocks = 5 + 2 * 4;
// The analysis scratch: four arrays of a whole capture for the pitch transforms, with room to
// space them out (one block more); the measurement afterwards needs less than a capture (an
// envelope and two arrays of two periods).
constexpr size_t work_blocks = 4 * 4 + 1;
static_assert(dsp::pitch_work_size(4 * attackscope_blockcap) <= work_blocks * attackscope_blockcap);

// Keeps one zero-filled set of arrays for the object's life, so that chain builds neither leak
// nor allocate after the first, and each starts from silence. Returns false when the memory
// cannot be had; the array pointers then stay null.
bool attackscope_arrays(t_attackscope *x) {
    const size_t cap = static_cast<size_t>(x->x_blockcap);
    if (x->x_storage) {
        std::memset(x->x_storage, 0, storage_blocks * cap * sizeof(double));
    } else {
        x->x_storage = static_cast<double *>(
            std::calloc((storage_blocks + work_blocks) * cap, sizeof(double)));
        if (!x->x_storage)
            return false;
    }
    // Laid out afresh each time: the perform routine passes the history buffers around.
    double *s = x->x_storage;
    for (double *&h : x->x_hist) {
        h = s;
        s += cap;
    }
    x->x_filtered = s;
    s += cap;
    x->x_capture = s;
    s += 4 * cap;
    x->x_capfilt = s;
    s += 4 * cap;
    x->x_work = s;
    x->x_workcap = static_cast<int32_t>(work_blocks * cap);
    return true;
}

void attackscope_reset(t_attackscope *x) {
    x->x_blockcap = attackscope_blockcap;
    x->x_sr = 44100;
    x->x_onsetratio = 10.0f;
    x->x_peakratio = 8.0f;
    x->x_holdblocks = 5.0f;
    x->x_filtersel = 1.0f;
    x->x_twovalued = 0.0f;
    x->x_state = 0;
    x->x_holdoff = 0;
    x->x_ringpos = 0;
    x->x_energy[0] = x->x_energy[1] = x->x_energy[2] = 0.0;
    x->x_lastratio = 0.0;
    if (!attackscope_arrays(x))
        pd_error(x,
                 "attackscope~: out of memory for %zu bytes of sample arrays; idle until the "
                 "next chain build",
                 (storage_blocks + work_blocks) * static_cast<size_t>(x->x_blockcap) *
                     sizeof(double));
}

t_int *attackscope_perform(t_int *w) {
    const auto *in = reinterpret_cast<const t_sample *>(w[1]);
    // w[2], the output vector, is never written.
    auto *x = reinterpret_cast<t_attackscope *>(w[4]);
    // Idle without arrays, or for a block the arrays cannot hold (reported at the chain build).
    if (!x->x_storage || w[3] > x->x_blockcap)
        return w + 5;
    const int n = static_cast<int>(w[3]);

    if (x->x_holdoff > 0)
        x->x_holdoff--;
    const gate_coefficients &c = gate_filter_set(x->x_filtersel);
    const prepared_block block = prepare_block(x, in, n, c);
    if (x->x_state == 0)
        gate_decide(x, block.energy);
    else
        analyse_event(x, n, block.clipped);
    return w + 5;
}

void attackscope_dsp(t_attackscope *x, t_signal **sp) {
    dsp_add(attackscope_perform, 4, sp[0]->s_vec, sp[1]->s_vec, static_cast<t_int>(sp[0]->s_n), x);
    attackscope_reset(x);
    if (sp[0]->s_n > x->x_blockcap)
        pd_error(x,
                 "attackscope~: block size %d is above the limit of %d samples; idle until "
                 "the block size is %d or less",
                 sp[0]->s_n, x->x_blockcap, x->x_blockcap);
    // Once per new block size: one whose four-block capture the pitch search cannot take.
    char notice[320];
    if (sp[0]->s_n != x->x_toldblock &&
        block_notice(notice, sizeof notice, sp[0]->s_n, x->x_sr, x->x_blockcap)) {
        post("%s", notice);
        x->x_toldblock = sp[0]->s_n;
    }
}

void *attackscope_new(t_floatarg /*unused*/) {
    auto *x = reinterpret_cast<t_attackscope *>(pd_new(attackscope_tilde_class));
    x->x_blockcap = attackscope_blockcap;
    floatinlet_new(&x->x_obj, &x->x_onsetratio);
    floatinlet_new(&x->x_obj, &x->x_peakratio);
    floatinlet_new(&x->x_obj, &x->x_floor);
    floatinlet_new(&x->x_obj, &x->x_holdblocks);
    floatinlet_new(&x->x_obj, &x->x_filtersel);
    floatinlet_new(&x->x_obj, &x->x_twovalued);
    outlet_new(&x->x_obj, gensym("signal"));
    x->x_ratioout = outlet_new(&x->x_obj, &s_float);
    x->x_energyout = outlet_new(&x->x_obj, &s_float);
    return x;
}

void attackscope_free(t_attackscope *x) {
    std::free(x->x_storage);
}

} // namespace

extern "C" __attribute__((visibility("default"))) void attackscope_tilde_setup(void) {
    attackscope_tilde_class =
        class_new(gensym("attackscope~"),
                  // Pd calls the creator with its float argument; the cast via void (*)() says so.
                  reinterpret_cast<t_newmethod>(reinterpret_cast<void (*)()>(attackscope_new)),
                  reinterpret_cast<t_method>(attackscope_free), sizeof(t_attackscope),
                  CLASS_DEFAULT, A_DEFFLOAT, A_NULL);
    class_domainsignalin(attackscope_tilde_class, static_cast<int>(offsetof(t_attackscope, x_f)));
    // A_CANT: only the chain build may call it; a "dsp" message from the patch carries no
    // signals and would crash the method.
    class_addmethod(attackscope_tilde_class, reinterpret_cast<t_method>(attackscope_dsp),
                    gensym("dsp"), A_CANT, A_NULL);
}
