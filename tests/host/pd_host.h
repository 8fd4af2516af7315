// A small in-process stand-in for the Pd host: enough of the external API for tests to create
// objects, send floats to inlets, build the signal chain and run perform routines block by block,
// while every outlet value and console line is recorded exactly.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "m_pd.h"

namespace pdhost {

// Console lines in order: post() text as given, pd_error() text prefixed with "error: ".
std::vector<std::string> &console();
void clear_console();

// Loads a built plug-in (dlopen(), or LoadLibrary() on Windows) and calls its setup entry;
// returns false (with a console line) on failure. Plug-ins linked into the test binary call their
// setup entry directly instead.
bool load_plugin(const std::string &path, const std::string &setup_entry);

// Whether a class of this name has been registered by a setup entry.
bool has_class(const std::string &name);

// Symbols typed into an object box, such as flags.
struct Words {
    std::vector<std::string> list;
};

class Object {
  public:
    // Creates an object of a registered class, as typing "name args..." into an object box.
    explicit Object(const std::string &class_name, const std::vector<float> &args = {});
    // The same with symbols (flags) typed before the floats; for classes that take A_GIMME.
    Object(const std::string &class_name, const Words &words, const std::vector<float> &args = {});
    ~Object();
    Object(const Object &) = delete;
    Object &operator=(const Object &) = delete;

    t_object *raw() const { return obj_; }
    template <class T> T *as() const { return reinterpret_cast<T *>(obj_); }

    int inlet_count() const; // including the leftmost
    int outlet_count() const;

    // Sends a float to an inlet, 0 being the leftmost (the float method or the signal scalar).
    void send_float(int inlet, float f);

    // Builds the signal chain at block size n: runs the "dsp" method with one signal per signal
    // inlet and outlet. The chain's previous perform routines are dropped.
    void dsp(int n, float sample_rate = 44100.0f);

    // Runs this object's perform routines once, with `in` as the signal inlet's vector
    // (n samples, n from the last dsp()).
    void perform(const float *in);
    int block_size() const { return n_; }

    // The signal outlet's vector, pre-filled by dsp() with a sentinel pattern.
    const std::vector<t_sample> &signal_out() const { return out_vec_; }
    static t_sample sentinel(int i);

    // Every float sent on an outlet since creation or the last clear_outlets().
    const std::vector<float> &outlet(int index) const;
    // Every list (of floats) sent on an outlet since creation or the last clear_outlets().
    const std::vector<std::vector<float>> &lists(int index) const;
    void clear_outlets();
    // Called synchronously inside outlet_float, as a connected object would react in Pd.
    void on_outlet(int index, std::function<void(float)> reaction);

  private:
    t_object *obj_ = nullptr;
    int n_ = 0;
    std::vector<t_sample> in_vec_, out_vec_;
    std::vector<std::vector<t_int>> chain_;
};

} // namespace pdhost
