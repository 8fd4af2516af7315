#include "values.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "float_wav.h"
#include "pd_host.h"

namespace {

// Pd's tabplay~ goes on with zeros after a recording's end; a second of them lets the last note's
// position estimate arrive.
constexpr size_t trailing_silence = 44100;

uint32_t bits_of(float f) {
    uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

void print_float(float f) {
    std::printf(" 0x%08x %.9g", static_cast<unsigned>(bits_of(f)), static_cast<double>(f));
}

void print_console(const char *when) {
    for (const std::string &line : pdhost::console())
        std::printf("%s console \"%s\"\n", when, line.c_str());
    pdhost::clear_console();
}

void print_beatspan() {
    const float tempos[] = {120.0f, 60.0f, 97.5f, 33.3f, 0.0f, -30.0f};
    const float beats[] = {4.0f, 1.0f, 7.5f, 0.0f, -2.0f, std::nanf("")};
    pdhost::Object span("beatspan");
    for (float b : beats)
        for (float t : tempos) {
            span.send_float(1, b);
            span.send_float(0, t);
            std::printf("beatspan beats");
            print_float(b);
            std::printf(" tempo");
            print_float(t);
            std::printf(" ->");
            for (float v : span.outlet(0))
                print_float(v);
            std::printf("\n");
            span.clear_outlets();
        }
    print_console("beatspan");
}

// The objects each recording runs through: as typed into an object box.
struct variant {
    const char *label;
    pdhost::Words flags;
    std::vector<float> args;
};
const variant variants[] = {
    {"attackscope~", {}, {}},
    {"attackscope~ -position", {{"-position"}}, {}},
    {"attackscope~ -position -pickup 0.2", {{"-position", "-pickup"}}, {0.2f}},
};

// Every value the object sends while the recording plays, block by block, in outlet order.
void print_run(const std::string &name, const std::vector<float> &audio, int block,
               const variant &object) {
    pdhost::Object scope("attackscope~", object.flags, object.args);
    std::printf("run %s block %d %s inlets %d outlets %d\n", name.c_str(), block, object.label,
                scope.inlet_count(), scope.outlet_count());
    scope.dsp(block, 44100.0f);
    print_console("dsp");
    const size_t n = static_cast<size_t>(block);
    const size_t blocks = (audio.size() + trailing_silence + n - 1) / n;
    std::vector<float> in(n);
    size_t sent[4] = {0, 0, 0, 0};
    for (size_t b = 0; b < blocks; b++) {
        // Samples past the recording's end are zeros; the copy stays inside `audio`.
        for (size_t i = 0; i < n; i++)
            in[i] = b * n + i < audio.size() ? audio[b * n + i] : 0.0f;
        scope.perform(in.data());
        for (int o = 1; o < scope.outlet_count(); o++) {
            for (float v : scope.outlet(o)) {
                std::printf("%zu outlet %d", b, o);
                print_float(v);
                std::printf("\n");
                sent[o]++;
            }
            for (const std::vector<float> &list : scope.lists(o)) {
                std::printf("%zu outlet %d list", b, o);
                for (float v : list)
                    print_float(v);
                std::printf("\n");
                sent[o]++;
            }
        }
        scope.clear_outlets();
        print_console(std::to_string(b).c_str());
    }
    std::printf("sent %s block %d position %d ratios %zu energies %zu positions %zu\n",
                name.c_str(), block, scope.outlet_count() > 3 ? 1 : 0, sent[1], sent[2], sent[3]);
}

} // namespace

extern "C" int values_main(int argc, char **argv) {
#ifdef _WIN32
    // Lines end in \n alone, as on Linux, so that the two outputs compare byte for byte.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    if (argc < 3) {
        std::fprintf(stderr, "usage: values PLUGIN_DIR SUFFIX [RECORDING...]\n");
        return 2;
    }
    const std::string dir = argv[1], suffix = argv[2];
    if (!pdhost::load_plugin(dir + "/beatspan" + suffix, "beatspan_setup") ||
        !pdhost::load_plugin(dir + "/attackscope~" + suffix, "attackscope_tilde_setup")) {
        for (const std::string &line : pdhost::console())
            std::fprintf(stderr, "%s\n", line.c_str());
        return 1;
    }
    print_console("setup");
    print_beatspan();
    for (const variant &v : variants) {
        pdhost::Object scope("attackscope~", v.flags, v.args);
        std::printf("%s inlets %d outlets %d\n", v.label, scope.inlet_count(),
                    scope.outlet_count());
    }
    print_console("create");
    for (int a = 3; a < argc; a++) {
        std::string why;
        const std::vector<float> audio = windows_test::read_float_wav(argv[a], why);
        if (audio.empty()) {
            std::fprintf(stderr, "%s\n", why.c_str());
            return 1;
        }
        const std::string path = argv[a];
        const std::string name = path.substr(path.find_last_of("/\\") + 1);
        for (const variant &v : variants)
            for (int block : {64, 512, 2048})
                print_run(name, audio, block, v);
    }
    std::fflush(stdout);
    return 0;
}
