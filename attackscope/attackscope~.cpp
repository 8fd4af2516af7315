// attackscope~: watches a mono signal for attacks, block by block, and measures each one.

#include <cstddef>
#include <cstring>
#include <initializer_list>

#include "attackscope.h"
#include "engine/block_sizes.h"
#include "position/pluck_position.h"

namespace {

t_class *attackscope_tilde_class;

void attackscope_reset(t_attackscope *x, int n, double host_sr) {
    if (!engine_reset(x->x_engine, n))
        pd_error(x,
                 "attackscope~: out of memory for %zu bytes of sample arrays; idle until the "
                 "next chain build",
                 engine_storage_bytes());
    if (!engine_reset_position(x->x_engine, host_sr))
        pd_error(x, "attackscope~: out of memory for the position estimate; it stays off");
}

void send_position(t_attackscope *x, const dsp::pluck_estimate &p) {
    t_atom list[3];
    SETFLOAT(&list[0], static_cast<t_float>(p.position));
    SETFLOAT(&list[1], static_cast<t_float>(p.f0));
    SETFLOAT(&list[2], static_cast<t_float>(p.confidence));
    outlet_list(x->x_positionout, &s_list, 3, list);
}

t_int *attackscope_perform(t_int *w) {
    const auto *in = reinterpret_cast<const t_sample *>(w[1]);
    // w[2], the output vector, is never written.
    auto *x = reinterpret_cast<t_attackscope *>(w[4]);
    attackscope_engine &e = x->x_engine;
    // Idle without arrays, or for a block the arrays cannot hold (reported at the chain build).
    if (w[3] > e.x_blockcap || !engine_ready(e, static_cast<int>(w[3])))
        return w + 5;
    const int n = static_cast<int>(w[3]);

    const block_start b = engine_begin_block(e, in, n);
    if (!b.analysis) {
        // Sent before the decision reads the floor and the factor: a patch that reacts to the
        // energy by changing them still counts for this block.
        outlet_float(x->x_energyout, energy_value(b.energy));
        engine_decide(e, b.energy);
    } else {
        const event_outcome o = engine_analyse(e, n, b.clipped);
        if (o.what == event_outcome::kind::clip)
            post("clip");
        else if (o.what == event_outcome::kind::ratio)
            outlet_float(x->x_ratioout, o.sent);
    }
    // Last: a patch reacting to the designed outlets has seen them first. A patch that turns the
    // estimate off cannot: the flag is fixed at creation.
    if (dsp::pluck_estimate p; x->x_positionout && engine_position(e, n, b.analysis, p))
        send_position(x, p);
    return w + 5;
}

void attackscope_dsp(t_attackscope *x, t_signal **sp) {
    dsp_add(attackscope_perform, 4, sp[0]->s_vec, sp[1]->s_vec, static_cast<t_int>(sp[0]->s_n), x);
    attackscope_reset(x, sp[0]->s_n, static_cast<double>(sp[0]->s_sr));
    const attackscope_engine &e = x->x_engine;
    if (sp[0]->s_n > e.x_blockcap)
        pd_error(x,
                 "attackscope~: block size %d is above the limit of %d samples; idle until "
                 "the block size is %d or less",
                 sp[0]->s_n, e.x_blockcap, e.x_blockcap);
    // Once per new block size: one whose four-block capture the pitch search cannot take.
    char notice[320];
    if (sp[0]->s_n != x->x_toldblock &&
        block_notice(notice, sizeof notice, sp[0]->s_n, e.x_sr, e.x_blockcap)) {
        post("%s", notice);
        x->x_toldblock = sp[0]->s_n;
    }
}

// "-position" adds the fourth outlet; floats have no effect, as the one float argument always
// had. Any other word fails the creation, as it did when the one argument was a float.
void *attackscope_new(t_symbol * /*name*/, int argc, t_atom *argv) {
    bool position = false;
    for (int i = 0; i < argc; i++) {
        if (argv[i].a_type != A_SYMBOL)
            continue;
        const char *word = argv[i].a_w.w_symbol->s_name;
        if (std::strcmp(word, "-position") != 0) {
            pd_error(nullptr, "attackscope~: unknown flag %s (the one flag is -position)", word);
            return nullptr;
        }
        position = true;
    }
    auto *x = reinterpret_cast<t_attackscope *>(pd_new(attackscope_tilde_class));
    attackscope_engine &e = x->x_engine;
    e.x_blockcap = attackscope_blockcap;
    for (t_float *parameter : {&e.x_onsetratio, &e.x_peakratio, &e.x_floor, &e.x_holdblocks,
                               &e.x_filtersel, &e.x_twovalued})
        floatinlet_new(&x->x_obj, parameter);
    outlet_new(&x->x_obj, gensym("signal"));
    x->x_ratioout = outlet_new(&x->x_obj, &s_float);
    x->x_energyout = outlet_new(&x->x_obj, &s_float);
    if (position) {
        if (!engine_enable_position(e)) {
            pd_error(x, "attackscope~: out of memory for the position estimate");
            pd_free(&x->x_obj.ob_pd);
            return nullptr;
        }
        x->x_positionout = outlet_new(&x->x_obj, &s_list);
    }
    return x;
}

void attackscope_free(t_attackscope *x) {
    engine_release(x->x_engine);
}

} // namespace

extern "C" __attribute__((visibility("default"))) void attackscope_tilde_setup(void) {
    attackscope_tilde_class =
        class_new(gensym("attackscope~"),
                  // Pd calls the creator with the typed words (A_GIMME); the cast via void (*)()
                  // says so.
                  reinterpret_cast<t_newmethod>(reinterpret_cast<void (*)()>(attackscope_new)),
                  reinterpret_cast<t_method>(attackscope_free), sizeof(t_attackscope),
                  CLASS_DEFAULT, A_GIMME, A_NULL);
    class_domainsignalin(attackscope_tilde_class, static_cast<int>(offsetof(t_attackscope, x_f)));
    // A_CANT: only the chain build may call it; a "dsp" message from the patch carries no
    // signals and would crash the method.
    class_addmethod(attackscope_tilde_class, reinterpret_cast<t_method>(attackscope_dsp),
                    gensym("dsp"), A_CANT, A_NULL);
}
