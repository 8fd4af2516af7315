#include "pd_host.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <stdexcept>

// Opaque in m_pd.h; the host owns their layout.
struct _class {
    std::string name;
    t_newmethod creator = nullptr;
    t_method free_method = nullptr;
    size_t size = 0;
    std::vector<t_atomtype> args;
    t_method float_method = nullptr;
    t_method dsp_method = nullptr;
    long signal_onset = -1; // offset of the main signal inlet's scalar, if any
};

struct _inlet {
    t_float *target;
};

struct _outlet {
    t_symbol *kind;
    std::vector<float> values;
    std::vector<std::vector<float>> lists;
    std::function<void(float)> reaction;
};

namespace {

struct ObjectParts {
    std::vector<std::unique_ptr<_inlet>> inlets;
    std::vector<std::unique_ptr<_outlet>> outlets;
};

std::map<std::string, std::unique_ptr<_class>> &classes() {
    static std::map<std::string, std::unique_ptr<_class>> c;
    return c;
}
std::map<const t_object *, ObjectParts> &parts() {
    static std::map<const t_object *, ObjectParts> p;
    return p;
}
std::map<std::string, std::unique_ptr<t_symbol>> &symbols() {
    static std::map<std::string, std::unique_ptr<t_symbol>> s;
    return s;
}
// The chain being built by the current dsp() call.
std::vector<std::vector<t_int>> *building_chain = nullptr;

std::string vformat(const char *fmt, va_list ap) {
    char buf[4096];
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    return buf;
}

_class *class_of(const t_object *x) {
    return const_cast<_class *>(x->te_g.g_pd);
}

} // namespace

extern "C" {

t_symbol s_float = {"float", nullptr, nullptr};
t_symbol s_signal = {"signal", nullptr, nullptr};
t_symbol s_bang = {"bang", nullptr, nullptr};
t_symbol s_list = {"list", nullptr, nullptr};
t_symbol s_symbol = {"symbol", nullptr, nullptr};
t_symbol s_ = {"", nullptr, nullptr};

t_symbol *gensym(const char *s) {
    for (t_symbol *builtin : {&s_float, &s_signal, &s_bang, &s_list, &s_symbol, &s_})
        if (std::strcmp(builtin->s_name, s) == 0)
            return builtin;
    // The name lives in the map's key, so that nothing is left allocated at exit.
    auto [it, added] = symbols().try_emplace(s);
    if (added) {
        it->second = std::make_unique<t_symbol>();
        it->second->s_name = it->first.c_str();
    }
    return it->second.get();
}

t_class *class_new(t_symbol *name, t_newmethod creator, t_method free_method, size_t size,
                   int /*flags*/, t_atomtype arg1, ...) {
    auto c = std::make_unique<_class>();
    c->name = name->s_name;
    c->creator = creator;
    c->free_method = free_method;
    c->size = size;
    va_list ap;
    va_start(ap, arg1);
    for (int t = arg1; t != A_NULL; t = va_arg(ap, int))
        c->args.push_back(static_cast<t_atomtype>(t));
    va_end(ap);
    auto *raw = c.get();
    classes()[c->name] = std::move(c);
    return raw;
}

void class_addmethod(t_class *c, t_method fn, t_symbol *sel, t_atomtype /*arg1*/, ...) {
    if (std::strcmp(sel->s_name, "dsp") == 0)
        c->dsp_method = fn;
}

void class_doaddfloat(t_class *c, t_method fn) {
    c->float_method = fn;
}

void class_domainsignalin(t_class *c, int onset) {
    c->signal_onset = onset;
}

t_pd *pd_new(t_class *cls) {
    auto *x = static_cast<t_object *>(std::calloc(1, cls->size));
    x->te_g.g_pd = cls;
    parts()[x];
    return &x->te_g.g_pd;
}

void pd_free(t_pd *x) {
    auto *obj = reinterpret_cast<t_object *>(x);
    if (auto fm = class_of(obj)->free_method)
        reinterpret_cast<void (*)(void *)>(fm)(obj);
    parts().erase(obj);
    std::free(obj);
}

t_inlet *floatinlet_new(t_object *owner, t_float *fp) {
    auto &list = parts().at(owner).inlets;
    list.push_back(std::make_unique<_inlet>(_inlet{fp}));
    return list.back().get();
}

t_outlet *outlet_new(t_object *owner, t_symbol *s) {
    auto &list = parts().at(owner).outlets;
    list.push_back(std::make_unique<_outlet>());
    list.back()->kind = s;
    return list.back().get();
}

void outlet_float(t_outlet *x, t_float f) {
    x->values.push_back(f);
    if (x->reaction)
        x->reaction(f);
}

void outlet_list(t_outlet *x, t_symbol * /*s*/, int argc, t_atom *argv) {
    std::vector<float> list;
    for (int i = 0; i < argc; i++) {
        if (argv[i].a_type != A_FLOAT)
            throw std::logic_error("the test host records lists of floats only");
        list.push_back(argv[i].a_w.w_float);
    }
    x->lists.push_back(std::move(list));
}

void post(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    pdhost::console().push_back(vformat(fmt, ap));
    va_end(ap);
}

void pd_error(const void * /*object*/, const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    pdhost::console().push_back("error: " + vformat(fmt, ap));
    va_end(ap);
}

void dsp_add(t_perfroutine f, int n, ...) {
    if (!building_chain)
        throw std::logic_error("dsp_add outside a chain build");
    std::vector<t_int> words(static_cast<size_t>(n) + 1);
    words[0] = reinterpret_cast<t_int>(f);
    va_list ap;
    va_start(ap, n);
    for (int i = 1; i <= n; i++)
        words[static_cast<size_t>(i)] = va_arg(ap, t_int);
    va_end(ap);
    building_chain->push_back(std::move(words));
}

void *getbytes(size_t nbytes) {
    return std::calloc(1, nbytes ? nbytes : 1);
}
void freebytes(void *x, size_t) {
    std::free(x);
}

} // extern "C"

namespace pdhost {

std::vector<std::string> &console() {
    static std::vector<std::string> lines;
    return lines;
}
void clear_console() {
    console().clear();
}

bool load_plugin(const std::string &path, const std::string &setup_entry) {
#ifdef _WIN32
    // As Pd for Windows loads a plug-in: its imports from pd.dll resolve against this host.
    HMODULE lib = LoadLibraryA(path.c_str());
    if (!lib) {
        console().push_back("error: " + path + ": Windows error " + std::to_string(GetLastError()));
        return false;
    }
    auto setup = reinterpret_cast<void (*)()>(GetProcAddress(lib, setup_entry.c_str()));
#else
    void *lib = dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
    if (!lib) {
        console().push_back(std::string("error: ") + dlerror());
        return false;
    }
    auto setup = reinterpret_cast<void (*)()>(dlsym(lib, setup_entry.c_str()));
#endif
    if (!setup) {
        console().push_back("error: no " + setup_entry + " in " + path);
        return false;
    }
    setup();
    return true;
}

bool has_class(const std::string &name) {
    return classes().count(name) != 0;
}

Object::Object(const std::string &class_name, const std::vector<float> &args)
    : Object(class_name, Words{}, args) {}

Object::Object(const std::string &class_name, const Words &words, const std::vector<float> &args) {
    auto it = classes().find(class_name);
    if (it == classes().end())
        throw std::runtime_error(class_name + " ... couldn't create");
    _class &c = *it->second;
    if (c.args.size() == 1 && c.args[0] == A_GIMME) {
        // The typed words first, then the floats, as "name word... float..." in a box.
        std::vector<t_atom> atoms;
        for (const std::string &w : words.list) {
            t_atom a{};
            a.a_type = A_SYMBOL;
            a.a_w.w_symbol = gensym(w.c_str());
            atoms.push_back(a);
        }
        for (float f : args) {
            t_atom a{};
            a.a_type = A_FLOAT;
            a.a_w.w_float = f;
            atoms.push_back(a);
        }
        void *made = reinterpret_cast<void *(*)(t_symbol *, int, t_atom *)>(c.creator)(
            gensym(class_name.c_str()), static_cast<int>(atoms.size()), atoms.data());
        if (!made)
            throw std::runtime_error(class_name + " ... couldn't create");
        obj_ = static_cast<t_object *>(made);
        return;
    }
    if (!words.list.empty())
        throw std::runtime_error(class_name + ": creator takes no symbols in the test host");
    // Creators take their float arguments by value; Pd passes 0 for a missing A_DEFFLOAT.
    float a[3] = {0, 0, 0};
    for (size_t i = 0; i < args.size() && i < 3; i++)
        a[i] = args[i];
    void *made = nullptr;
    switch (c.args.size()) {
    case 0:
        made = reinterpret_cast<void *(*)()>(c.creator)();
        break;
    case 1:
        made = reinterpret_cast<void *(*)(t_floatarg)>(c.creator)(a[0]);
        break;
    case 2:
        made = reinterpret_cast<void *(*)(t_floatarg, t_floatarg)>(c.creator)(a[0], a[1]);
        break;
    default:
        throw std::runtime_error("creator signature not supported by the test host");
    }
    if (!made)
        throw std::runtime_error(class_name + " ... couldn't create");
    obj_ = static_cast<t_object *>(made);
}

Object::~Object() {
    if (obj_)
        pd_free(&obj_->te_g.g_pd);
}

int Object::inlet_count() const {
    return 1 + static_cast<int>(parts().at(obj_).inlets.size());
}
int Object::outlet_count() const {
    return static_cast<int>(parts().at(obj_).outlets.size());
}

void Object::send_float(int inlet, float f) {
    _class &c = *class_of(obj_);
    if (inlet == 0) {
        if (c.float_method)
            reinterpret_cast<void (*)(void *, t_floatarg)>(c.float_method)(obj_, f);
        else if (c.signal_onset >= 0)
            *reinterpret_cast<t_float *>(reinterpret_cast<char *>(obj_) + c.signal_onset) = f;
        else
            throw std::runtime_error(c.name + ": no method for float");
        return;
    }
    *parts().at(obj_).inlets.at(static_cast<size_t>(inlet - 1))->target = f;
}

t_sample Object::sentinel(int i) {
    return static_cast<t_sample>(0.25 + 1e-3 * (i % 997));
}

void Object::dsp(int n, float sample_rate) {
    _class &c = *class_of(obj_);
    if (!c.dsp_method)
        throw std::runtime_error(c.name + ": no dsp method");
    n_ = n;
    in_vec_.assign(static_cast<size_t>(n), 0.0f);
    out_vec_.resize(static_cast<size_t>(n));
    for (int i = 0; i < n; i++)
        out_vec_[static_cast<size_t>(i)] = sentinel(i);
    t_signal in{}, out{};
    in.s_n = out.s_n = n;
    in.s_vecsize = out.s_vecsize = n;
    in.s_sr = out.s_sr = sample_rate;
    in.s_vec = in_vec_.data();
    out.s_vec = out_vec_.data();
    t_signal *sigs[2] = {&in, &out};
    chain_.clear();
    building_chain = &chain_;
    reinterpret_cast<void (*)(void *, t_signal **)>(c.dsp_method)(obj_, sigs);
    building_chain = nullptr;
}

void Object::perform(const float *in) {
    std::copy(in, in + n_, in_vec_.begin());
    for (auto &words : chain_) {
        auto routine = reinterpret_cast<t_perfroutine>(words[0]);
        t_int *next = routine(words.data());
        if (next != words.data() + words.size())
            throw std::logic_error("perform routine returned the wrong position");
    }
}

const std::vector<float> &Object::outlet(int index) const {
    return parts().at(obj_).outlets.at(static_cast<size_t>(index))->values;
}
const std::vector<std::vector<float>> &Object::lists(int index) const {
    return parts().at(obj_).outlets.at(static_cast<size_t>(index))->lists;
}
void Object::clear_outlets() {
    for (auto &o : parts().at(obj_).outlets) {
        o->values.clear();
        o->lists.clear();
    }
}
void Object::on_outlet(int index, std::function<void(float)> reaction) {
    parts().at(obj_).outlets.at(static_cast<size_t>(index))->reaction = std::move(reaction);
}

} // namespace pdhost
