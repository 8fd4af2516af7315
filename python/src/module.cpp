// The analysis as a Python extension: the program's option checks, sound source and block driver,
// with the rows handed back as numpy columns (the package's __init__.py joins them into
// structured arrays). Every analysis copies its input first and runs without the GIL.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

#include "analyse_file.h"
#include "options.h"

namespace py = pybind11;

namespace {

// Options spelled as the program's command line (without a file), checked by the program's own
// parser: a bad one raises ValueError with the reason the program prints after "attackscope: ".
run_options options_from(const std::vector<std::string> &args) {
    std::vector<std::string> line = args;
    line.insert(line.end(), {"--", "input"});
    run_options options;
    if (const std::string reason = check_arguments(line, options); !reason.empty())
        throw py::value_error(reason);
    return options;
}

template <class T> py::array_t<T> column(std::size_t n) {
    return py::array_t<T>(static_cast<py::ssize_t>(n));
}

// Rows of one kind as columns: outcome codes follow event_row::kind's order.
py::dict columns_of(const file_analysis &a) {
    std::size_t events = 0, notes = 0, energies = 0;
    for (const event_row &r : a.rows) {
        if (r.what == event_row::kind::note)
            notes++;
        else if (r.what == event_row::kind::energy)
            energies++;
        else
            events++;
    }
    auto e_block = column<int64_t>(events), n_block = column<int64_t>(notes),
         g_block = column<int64_t>(energies);
    auto e_time = column<double>(events), n_time = column<double>(notes),
         g_time = column<double>(energies);
    auto e_energy = column<float>(events), e_sent = column<float>(events),
         g_energy = column<float>(energies);
    auto e_f0 = column<double>(events), e_ratio = column<double>(events);
    auto e_kind = column<int8_t>(events);
    auto n_position = column<double>(notes), n_f0 = column<double>(notes),
         n_confidence = column<double>(notes), n_other = column<double>(notes);
    {
        auto eb = e_block.mutable_unchecked<1>(), nb = n_block.mutable_unchecked<1>(),
             gb = g_block.mutable_unchecked<1>();
        auto et = e_time.mutable_unchecked<1>(), nt = n_time.mutable_unchecked<1>(),
             gt = g_time.mutable_unchecked<1>();
        auto ee = e_energy.mutable_unchecked<1>(), es = e_sent.mutable_unchecked<1>(),
             ge = g_energy.mutable_unchecked<1>();
        auto ef = e_f0.mutable_unchecked<1>(), er = e_ratio.mutable_unchecked<1>();
        auto ek = e_kind.mutable_unchecked<1>();
        auto np = n_position.mutable_unchecked<1>(), nf = n_f0.mutable_unchecked<1>(),
             nc = n_confidence.mutable_unchecked<1>(), no = n_other.mutable_unchecked<1>();
        const float no_float = std::numeric_limits<float>::quiet_NaN();
        const double no_double = std::numeric_limits<double>::quiet_NaN();
        py::ssize_t ie = 0, in = 0, ig = 0;
        for (const event_row &r : a.rows) {
            if (r.what == event_row::kind::note) {
                nb(in) = r.onset_block, nt(in) = r.onset_s, np(in) = r.note.position;
                nf(in) = r.note.f0, nc(in) = r.note.confidence, no(in) = r.note.other;
                in++;
            } else if (r.what == event_row::kind::energy) {
                gb(ig) = r.onset_block, gt(ig) = r.onset_s, ge(ig) = r.sent;
                ig++;
            } else {
                const bool measured = r.what == event_row::kind::ratio;
                eb(ie) = r.onset_block, et(ie) = r.onset_s, ee(ie) = r.onset_energy;
                ef(ie) = r.f0, ek(ie) = static_cast<int8_t>(r.what);
                es(ie) = measured ? r.sent : no_float;
                er(ie) = measured ? r.ratio : no_double;
                ie++;
            }
        }
    }
    py::dict out;
    out["events"] =
        py::dict(py::arg("onset_block") = e_block, py::arg("onset_s") = e_time,
                 py::arg("onset_energy") = e_energy, py::arg("f0") = e_f0,
                 py::arg("outcome") = e_kind, py::arg("sent") = e_sent, py::arg("ratio") = e_ratio);
    out["notes"] = py::dict(py::arg("onset_s") = n_time, py::arg("onset_block") = n_block,
                            py::arg("position") = n_position, py::arg("f0") = n_f0,
                            py::arg("confidence") = n_confidence, py::arg("other_comb") = n_other);
    out["energies"] = py::dict(py::arg("block") = g_block, py::arg("onset_s") = g_time,
                               py::arg("energy") = g_energy);
    out["rate"] = a.rate;
    out["source_rate"] = a.source_rate;
    out["audio_seconds"] = a.audio_seconds;
    out["error"] = a.error;
    return out;
}

// A copy of a 1-D float32 or float64 array as the float samples the engine takes (a double is
// rounded once to the nearest float, as a sound file's doubles are read).
std::vector<float> samples_of(const py::array &samples) {
    if (samples.ndim() != 1)
        throw py::value_error("samples must be a 1-D array, got " + std::to_string(samples.ndim()) +
                              "-D of shape " +
                              py::str(py::getattr(samples, "shape")).cast<std::string>());
    const py::dtype type = samples.dtype();
    std::vector<float> copy(static_cast<std::size_t>(samples.shape(0)));
    if (type.is(py::dtype::of<float>())) {
        const auto in = samples.unchecked<float, 1>();
        for (py::ssize_t i = 0; i < in.shape(0); i++)
            copy[static_cast<std::size_t>(i)] = in(i);
    } else if (type.is(py::dtype::of<double>())) {
        const auto in = samples.unchecked<double, 1>();
        for (py::ssize_t i = 0; i < in.shape(0); i++)
            copy[static_cast<std::size_t>(i)] = static_cast<float>(in(i));
    } else {
        throw py::value_error("samples must be float32 or float64, got " +
                              type.attr("name").cast<std::string>());
    }
    return copy;
}

py::dict analyse_samples_py(const py::array &samples, int rate,
                            const std::vector<std::string> &args) {
    const run_options options = options_from(args);
    const std::vector<float> copy = samples_of(samples);
    file_analysis a;
    {
        py::gil_scoped_release unlocked;
        a = analyse_samples(copy.data(), copy.size(), rate, options);
    }
    return columns_of(a);
}

py::dict analyse_file_py(const py::bytes &path, const std::vector<std::string> &args) {
    const run_options options = options_from(args);
    const std::string name = path;
    file_analysis a;
    {
        py::gil_scoped_release unlocked;
        a = analyse_file(name, options);
    }
    return columns_of(a);
}

} // namespace

PYBIND11_MODULE(_attackscope, m) {
    m.doc() =
        "The engine of attackscope~ over arrays and sound files (see the attackscope package).";
    m.def(
        "check_options", [](const std::vector<std::string> &args) { options_from(args); },
        "Raises ValueError with the program's reason when the arguments are bad.");
    m.def("analyse_samples", &analyse_samples_py, py::arg("samples"), py::arg("rate"),
          py::arg("args"), "Rows of a 1-D float array as columns; args as on the command line.");
    m.def("analyse_file", &analyse_file_py, py::arg("path"), py::arg("args"),
          "Rows of a sound file as columns; args as on the command line.");
#if defined(__SSE__)
    m.def(
        "_mxcsr", [] { return _mm_getcsr(); }, "The calling thread's SSE control word.");
#endif
}
