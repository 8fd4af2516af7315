// attackscope~: watches a mono signal for attacks, block by block, and measures each one.

#include <cstddef>
#include <cstring>
#include <initializer_list>

#include "attackscope.h"
#include "engine/block_sizes.h"

namespace {

t_class *attackscope_tilde_class;

void attackscope_reset(t_attackscope *x, int n, double host_sr) {
    if (!engine_reset(x->x_engine, n))
        pd_error(x,
                 "attackscope~: out of memory for %lu bytes of sample arrays; idle until the "
                 "next chain build",
                 static_cast<unsigned long>(engine_storage_bytes()));
    if (!engine_reset_position(x->x_engine, host_sr))
        pd_error(x, "attackscope~: out of memory for the position estimate; it stays off");
}

// The outlets and the console, in the order the engine reports a block.
class outlet_sink final : public engine_sink {
  public:
    explicit outlet_sink(t_attackscope *x) : x_(x) {}
    void energy(float sent) override { outlet_float(x_->x_energyout, sent); }
    void event(const event_outcome &o) override {
        if (o.what == event_outcome::kind::clip)
            post("clip");
        else if (o.what == event_outcome::kind::ratio)
            outlet_float(x_->x_ratioout, o.sent);
    }
    void note(const dsp::pluck_estimate &p) override {
        if (!x_->x_positionout)
            return;
        t_atom list[4];
        SETFLOAT(&list[0], static_cast<t_float>(p.position));
        SETFLOAT(&list[1], static_cast<t_float>(p.f0));
        SETFLOAT(&list[2], static_cast<t_float>(p.confidence));
        SETFLOAT(&list[3], static_cast<t_float>(p.other));
        outlet_list(x_->x_positionout, &s_list, 4, list);
    }

  private:
    t_attackscope *x_;
};

t_int *attackscope_perform(t_int *w) {
    const auto *in = reinterpret_cast<const t_sample *>(w[1]);
    // w[2], the output vector, is never written.
    auto *x = reinterpret_cast<t_attackscope *>(w[4]);
    // Idle for a block the arrays cannot hold (reported at the chain build) or without arrays.
    if (w[3] >= 1 && w[3] <= attackscope_blockcap) {
        outlet_sink sink(x);
        engine_run_block(x->x_engine, in, static_cast<int>(w[3]), sink);
    }
    return w + 5;
}

void attackscope_dsp(t_attackscope *x, t_signal **sp) {
    dsp_add(attackscope_perform, 4, sp[0]->s_vec, sp[1]->s_vec, static_cast<t_int>(sp[0]->s_n), x);
    attackscope_reset(x, sp[0]->s_n, static_cast<double>(sp[0]->s_sr));
    constexpr int cap = attackscope_blockcap;
    if (sp[0]->s_n > cap)
        pd_error(x,
                 "attackscope~: block size %d is above the limit of %d samples; idle until "
                 "the block size is %d or less",
                 sp[0]->s_n, cap, cap);
    // Once per new block size: one whose four-block capture the pitch search cannot take.
    char notice[320];
    if (sp[0]->s_n != x->x_toldblock &&
        block_notice(notice, sizeof notice, sp[0]->s_n, attackscope_analysis_rate, cap)) {
        post("%s", notice);
        x->x_toldblock = sp[0]->s_n;
    }
}

// The creation arguments: "-position" adds the fourth outlet, "-pickup G" (with -position)
// states a known pickup position. Floats elsewhere have no effect, as the one float argument
// always had; any other word fails the creation, as it did when the one argument was a float.
struct creation_flags {
    bool ok = true;
    bool position = false;
    double pickup = 0.0; // 0: not stated
};

creation_flags read_flags(int argc, const t_atom *argv) {
    creation_flags f;
    for (int i = 0; i < argc; i++) {
        if (argv[i].a_type != A_SYMBOL)
            continue;
        const char *word = argv[i].a_w.w_symbol->s_name;
        if (std::strcmp(word, "-position") == 0) {
            f.position = true;
        } else if (std::strcmp(word, "-pickup") == 0) {
            const bool given = i + 1 < argc && argv[i + 1].a_type == A_FLOAT;
            const double g = given ? static_cast<double>(argv[i + 1].a_w.w_float) : 0.0;
            if (!given || !pickup_position_valid(g)) {
                pd_error(nullptr,
                         "attackscope~: -pickup needs a position above 0 and at most 0.5 (a "
                         "fraction of the string's length from the nearer end)");
                return {false};
            }
            f.pickup = g;
            i++;
        } else {
            pd_error(nullptr,
                     "attackscope~: unknown flag %s (the flags are -position and -pickup G)", word);
            return {false};
        }
    }
    if (f.pickup > 0.0 && !f.position) {
        pd_error(nullptr, "attackscope~: -pickup is a setting of -position; give both");
        return {false};
    }
    return f;
}

void *attackscope_new(t_symbol * /*name*/, int argc, t_atom *argv) {
    const creation_flags flags = read_flags(argc, argv);
    if (!flags.ok)
        return nullptr;
    auto *x = reinterpret_cast<t_attackscope *>(pd_new(attackscope_tilde_class));
    engine_init(x->x_engine);
    attackscope_params &p = engine_params(x->x_engine);
    for (t_float *parameter : {&p.x_onsetratio, &p.x_peakratio, &p.x_floor, &p.x_holdblocks,
                               &p.x_filtersel, &p.x_twovalued})
        floatinlet_new(&x->x_obj, parameter);
    outlet_new(&x->x_obj, gensym("signal"));
    x->x_ratioout = outlet_new(&x->x_obj, &s_float);
    x->x_energyout = outlet_new(&x->x_obj, &s_float);
    if (flags.position) {
        if (!engine_enable_position(x->x_engine, flags.pickup)) {
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

extern "C" PD_MODULE_EXPORT void attackscope_tilde_setup(void) {
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
