// libFuzzer target: one attackscope~ object in the in-process host, driven by a stream of
// operations decoded from the input. Each operation is one selector byte and a few argument bytes:
//
//   0  inlet:    inlet k (0..6) receives a special or raw float
//   1  chain:    the signal chain is built at a block size from a table or raw (1..8192)
//   2  run:      1..8 blocks of one signal kind (silence, constants, noise, plucks, tones, full-
//                scale square waves, denormals, sprinkled NaN/inf, raw samples from the input)
//   3  recreate: the object is deleted and created again, with a creation argument
//   4  reaction: a float outlet makes the patch send a float to an inlet, inside outlet_float
//   5  memory:   chosen allocations of the next operation fail
//
// After every chain build and every block the target checks what the object promises the patch
// (among them that every gate block sends exactly the energy an independent transcription of the
// pre-filter gives, to the bit), and aborts on a violation so that libFuzzer reports and keeps
// the input.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "attackscope.h"
#include "byte_reader.h"
#include "engine/block_sizes.h"
#include "failing_alloc.h"
#include "invariant.h"
#include "pd_host.h"
#include "reference_gate.h"
#include "signals.h"

extern "C" void attackscope_tilde_setup(void);

namespace {

using fuzz::ByteReader;

constexpr const char *target = "attackscope~";

constexpr int block_sizes[] = {64,   2048, 1024, 512,  373,  372,  374,  1,   2,   3,    128, 256,
                               4096, 8192, 2049, 2047, 1000, 1031, 1500, 441, 768, 1536, 96};
constexpr float host_rates[] = {44100.0f, 48000.0f, 8000.0f, 0.0f};

// The shortest block whose four-block capture holds the pitch search's longest lag.
constexpr int shortest_analysed_block = 373;

// Block sizes that give shape ratios, worked out apart from the object: long enough, within the
// arrays, and four blocks without a prime factor above the transform's largest radix (1024).
bool gives_ratios(int n) {
    if (n < shortest_analysed_block || n > 2048)
        return false;
    int v = 4 * n, largest = 1;
    for (int p = 2; p * p <= v; p++)
        while (v % p == 0) {
            largest = p;
            v /= p;
        }
    return std::max(largest, v) <= 1024;
}

// Bounds on one input, so that every execution stays short.
constexpr long sample_budget = 1L << 18;
constexpr int operation_limit = 256;

std::string notice_for(int n) {
    char text[320];
    return block_notice(text, sizeof text, n, 44100, 2048) ? text : "";
}

std::string block_error(int n) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "error: attackscope~: block size %d is above the limit of 2048 samples; idle "
                  "until the block size is 2048 or less",
                  n);
    return text;
}

const std::string memory_error = "error: attackscope~: out of memory for 491520 bytes of sample "
                                 "arrays; idle until the next chain build";

// ATTACKSCOPE_FUZZ_TRACE=1 prints what each operation did, for reading a reproducer.
bool tracing() {
    static const bool on = std::getenv("ATTACKSCOPE_FUZZ_TRACE") != nullptr;
    return on;
}

struct Harness {
    std::unique_ptr<pdhost::Object> obj;
    int n = 0; // block size of the current chain; 0 before the first chain build
    long samples_left = sample_budget;
    int fail_first = -1, fail_count = 0; // allocation failures armed for the next operation

    const attackscope_engine *x() const { return &obj->as<t_attackscope>()->x_engine; }

    void create(float arg) {
        obj.reset(); // deleting first: the same memory may be handed to the new object
        obj = std::make_unique<pdhost::Object>("attackscope~", std::vector<float>{arg});
        n = 0;
    }

    // Allocation failures cover the object's own calls only, never the host's creation of it.
    bool arm() {
        if (fail_count == 0)
            return false;
        failing_alloc::fail(fail_first, fail_count);
        return true;
    }
    void disarm(bool armed) {
        if (armed)
            failing_alloc::reset();
    }
};

void check_console_since(size_t first, bool (*allowed)(const std::string &, const void *),
                         const void *context, const char *where) {
    const auto &lines = pdhost::console();
    for (size_t i = first; i < lines.size(); i++)
        if (!allowed(lines[i], context))
            fuzz::violated(target, "unexpected console line %s: \"%s\"", where, lines[i].c_str());
}

void chain_build(Harness &h, int n, float rate) {
    const size_t lines = pdhost::console().size();
    const bool armed = h.arm();
    h.obj->dsp(n, rate);
    h.disarm(armed);
    if (tracing())
        std::fprintf(stderr, "chain build at %d%s\n", n, armed ? " (allocations failing)" : "");
    h.fail_count = 0;
    h.n = n;

    struct Context {
        int n;
        bool armed;
    } context{n, armed};
    check_console_since(
        lines,
        [](const std::string &line, const void *c) {
            const auto &ctx = *static_cast<const Context *>(c);
            return (ctx.n <= 2048 && !gives_ratios(ctx.n) && line == notice_for(ctx.n)) ||
                   (ctx.n > 2048 && line == block_error(ctx.n)) ||
                   (ctx.armed && line == memory_error);
        },
        &context, "at a chain build");
    if (!h.obj->outlet(1).empty() || !h.obj->outlet(2).empty())
        fuzz::violated(target, "a chain build sent a float");
    const attackscope_engine *x = h.x();
    if (x->x_state != 0 || x->x_holdoff != 0 || x->x_ringpos != 0 || x->x_lastratio != 0.0)
        fuzz::violated(target,
                       "a chain build left state %d, hold-off %d, ring slot %d, last ratio %g",
                       x->x_state, x->x_holdoff, x->x_ringpos, x->x_lastratio);
}

// The energy a gate block sends, transcribed independently: the block through the pre-filter set
// that x_filtersel selects (by its integer part; below 0 set 0, above 2 set 2, NaN set 1),
// restarted from silence, as a plain sum of squares times 100.
float reference_energy(const float *in, int n, float filtersel) {
    const double t = std::trunc(static_cast<double>(filtersel));
    const int set = t <= 0 ? 0 : t >= 2 ? 2 : 1;
    return static_cast<float>(signals::reference_energy(in, static_cast<size_t>(n), set) * 100.0);
}

// Runs one block of h.n samples and checks everything the block may and may not do.
void checked_block(Harness &h, const float *in) {
    pdhost::Object &obj = *h.obj;
    const int n = h.n;
    const float twovalued = h.x()->x_params.x_twovalued;
    // Without arrays, or above the limit, the object idles; otherwise state 0 makes a gate block.
    const bool idle = h.x()->x_storage == nullptr || n > 2048;
    const bool gate = !idle && h.x()->x_state == 0;
    const float expected_energy =
        gate ? reference_energy(in, n, h.x()->x_params.x_filtersel) : 0.0f;
    const size_t lines = pdhost::console().size();

    const bool armed = h.arm();
    obj.perform(in);
    h.disarm(armed);

    const std::vector<t_sample> &out = obj.signal_out();
    for (int i = 0; i < n; i++)
        if (out[static_cast<size_t>(i)] != pdhost::Object::sentinel(i))
            fuzz::violated(target, "signal outlet written at %d (block size %d)", i, n);

    const std::vector<float> &ratio = obj.outlet(1), &energy = obj.outlet(2);
    if (tracing()) {
        std::fprintf(stderr, "  block:");
        for (float e : energy)
            std::fprintf(stderr, " energy %.9g", double(e));
        for (float r : ratio)
            std::fprintf(stderr, " ratio %.9g", double(r));
        for (size_t i = lines; i < pdhost::console().size(); i++)
            std::fprintf(stderr, " \"%s\"", pdhost::console()[i].c_str());
        std::fputc('\n', stderr);
    }
    if (ratio.size() > 1 || energy.size() > 1)
        fuzz::violated(target, "%zu ratios and %zu energies in one block", ratio.size(),
                       energy.size());
    if (!ratio.empty() && !energy.empty())
        fuzz::violated(target, "a ratio and an energy in the same block");
    if (n > 2048 && (!ratio.empty() || !energy.empty()))
        fuzz::violated(target, "block size %d above the limit sent a float", n);
    if (!gives_ratios(n) && !ratio.empty())
        fuzz::violated(target, "block size %d, which gives no shape ratios, sent one", n);
    if (gate != !energy.empty())
        fuzz::violated(target, "%s block sent %zu energies",
                       gate ? "a gate" : "an idle or analysis", energy.size());
    for (float e : energy)
        if (std::bit_cast<uint32_t>(e) != std::bit_cast<uint32_t>(expected_energy) &&
            !(std::isnan(e) && std::isnan(expected_energy)))
            fuzz::violated(target, "energy %.9g, the block's filtered sum of squares gives %.9g",
                           double(e), double(expected_energy));
    if (idle && (!ratio.empty() || pdhost::console().size() > lines))
        fuzz::violated(target, "an idle block sent or posted");
    for (float r : ratio) {
        if (twovalued == 1.0f) {
            if (r != 0.0f && r != 24000.0f)
                fuzz::violated(target, "two-valued ratio output %.9g", double(r));
        } else if (!(r >= 0.0f && r <= 120.0f)) {
            fuzz::violated(target, "ratio output %.9g outside [0, 120]", double(r));
        }
    }

    const auto &console = pdhost::console();
    const size_t posted = console.size() - lines;
    check_console_since(
        lines, [](const std::string &line, const void *) { return line == "clip"; }, nullptr,
        "in a block");
    if (posted > 1)
        fuzz::violated(target, "%zu console lines in one block", posted);
    if (posted == 1 && (!ratio.empty() || !energy.empty()))
        fuzz::violated(target, "\"clip\" in a block that sent a float");
    if (posted == 1 && !gives_ratios(n))
        fuzz::violated(target, "\"clip\" at block size %d", n);

    const attackscope_engine *x = h.x();
    if (x->x_state != 0 && x->x_state != 1)
        fuzz::violated(target, "state %d", x->x_state);
    if (x->x_ringpos < 0 || x->x_ringpos > 2)
        fuzz::violated(target, "ring slot %d", x->x_ringpos);
    obj.clear_outlets();
}

// The signal of one run of blocks: `count` samples of one kind, its shape set by three bytes and
// a special value.
std::vector<float> make_signal(ByteReader &in, size_t count) {
    const uint8_t kind = in.byte();
    const uint8_t p1 = in.byte(), p2 = in.byte(), p3 = in.byte();
    const float special = fuzz::chosen_float(in);
    std::vector<float> s(count, 0.0f);
    const size_t start = count * p2 / 256; // where a note or burst begins
    switch (kind % 12) {
    case 0: // silence
        break;
    case 1: // a constant
        std::fill(s.begin(), s.end(), special);
        break;
    case 2: { // noise up to full scale; Noise can give exactly -1.0
        signals::Noise noise(p2);
        const double level = (p1 + 1) / 256.0;
        for (float &v : s)
            v = static_cast<float>(level * noise.next());
        break;
    }
    case 3: { // a pluck after silence; above full scale it is clipped into runs of +-1.0
        const double level = 0.02 + p3 / 128.0;
        signals::add_pluck(s, static_cast<int>(start), 40.0 + p1 * 6.0, 1.0, level, p3);
        if (level >= 1.0)
            signals::clip(s);
        break;
    }
    case 4: { // a decaying harmonic tone after silence
        const double level = 0.02 + p3 / 128.0;
        signals::add_tone(s, static_cast<int>(start), 30.0 + p1 * 8.0, 1.0, level, 1 + p3 % 8,
                          0.02 + p3 / 256.0);
        if (level >= 1.0)
            signals::clip(s);
        break;
    }
    case 5: { // a square wave of exactly +-1.0 after silence
        const size_t half = 1 + p1;
        for (size_t i = start; i < count; i++)
            s[i] = ((i - start) / half) % 2 ? -1.0f : 1.0f;
        break;
    }
    case 6: { // denormals and the smallest normals
        const float tiny[] = {1e-40f, -1e-40f, 1.4e-45f, -1.4e-45f, 1.1754944e-38f, 0.0f};
        for (size_t i = 0; i < count; i++)
            s[i] = tiny[(i / (1 + p1 % 8) + p3) % 6];
        break;
    }
    case 7: { // a pluck with the special value sprinkled every p1 + 1 samples from `start`
        signals::add_pluck(s, 0, 40.0 + p3 * 6.0, 1.0, 0.5, p3);
        for (size_t i = start; i < count; i += 1 + p1 * 17u)
            s[i] = special;
        break;
    }
    case 8: // 16-bit samples from the input, repeated
        in.repeat(s.data(), count, 1u + p1,
                  [&] { return static_cast<int16_t>(in.u16()) / 32768.0f; });
        break;
    case 9: // raw float bits from the input, repeated
        in.repeat(s.data(), count, 1u + p1 % 32u, [&] { return in.raw_float(); });
        break;
    case 10: // clicks of the special value
        for (size_t i = start; i < count; i += 1 + p1 * 31u)
            s[i] = special;
        break;
    default: { // a noise burst after silence
        signals::Noise noise(p3);
        const size_t end = std::min(count, start + 16 * (1 + size_t{p1}));
        for (size_t i = start; i < end; i++)
            s[i] = static_cast<float>(0.9 * noise.next());
        break;
    }
    }
    return s;
}

void run_blocks(Harness &h, ByteReader &in) {
    const int blocks = 1 + in.byte() % 8;
    if (h.n == 0) {
        make_signal(in, 0); // keeps the decoding of the rest of the input the same
        return;
    }
    const size_t n = static_cast<size_t>(h.n);
    const std::vector<float> s = make_signal(in, n * static_cast<size_t>(blocks));
    for (int b = 0; b < blocks && h.samples_left > 0; b++) {
        checked_block(h, s.data() + n * static_cast<size_t>(b));
        h.samples_left -= h.n;
    }
    h.fail_count = 0;
}

void set_reaction(Harness &h, ByteReader &in) {
    const int outlet = 1 + in.byte() % 2;
    const uint8_t what = in.byte();
    const float value = fuzz::chosen_float(in);
    if (what >= 224) {
        h.obj->on_outlet(outlet, nullptr);
        return;
    }
    pdhost::Object *obj = h.obj.get();
    const int inlet = what % 7;
    h.obj->on_outlet(outlet, [obj, inlet, value](float) { obj->send_float(inlet, value); });
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    attackscope_tilde_setup();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    ByteReader in(data, size);
    pdhost::clear_console();
    Harness h;
    h.create(0.0f);
    for (int op = 0; op < operation_limit && !in.empty() && h.samples_left > 0; op++) {
        switch (in.byte() % 6) {
        case 0: {
            const int inlet = in.byte() % 7;
            h.obj->send_float(inlet, fuzz::chosen_float(in));
            break;
        }
        case 1: {
            const int n = in.pick(block_sizes, 224, [&] { return 1 + in.u16() % 8192; });
            chain_build(h, n, host_rates[in.byte() % 4]);
            break;
        }
        case 2:
            run_blocks(h, in);
            break;
        case 3:
            h.create(fuzz::chosen_float(in));
            break;
        case 4:
            set_reaction(h, in);
            break;
        default:
            h.fail_first = in.byte() % 4;
            h.fail_count = 1 + in.byte() % 4;
            break;
        }
    }
    h.obj.reset();
    return 0;
}
