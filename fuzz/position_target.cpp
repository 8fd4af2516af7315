// libFuzzer target: [attackscope~ -position -pickup G] beside a plain [attackscope~], in the
// in-process host, with G, the block size, the sample rate and the input from the fuzzer's bytes;
// then the program's --pickup option with text from the bytes.
//
// The object: creation succeeds exactly for G above 0 and at most 0.5 (a clear error otherwise);
// the designed outlets send, block for block, the same floats as the plain object's; every list
// on the fourth outlet is "position f0 confidence other", finite, position and other within
// [0, 0.5], confidence within [0, 1], f0 not negative. The option: a command line that parses
// holds a pickup within (0, 0.5]; any other ends with exit status 2.
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "attackscope.h"
#include "byte_reader.h"
#include "invariant.h"
#include "options.h"
#include "pd_host.h"

extern "C" void attackscope_tilde_setup(void);

namespace {

constexpr const char *target = "fuzz_position";

bool same_floats(const std::vector<float> &a, const std::vector<float> &b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); i++)
        if (std::bit_cast<uint32_t>(a[i]) != std::bit_cast<uint32_t>(b[i]))
            return false;
    return true;
}

void check_object(fuzz::ByteReader &in) {
    static const float pickups[] = {0.05f, 0.12f, 0.5f, 0.0f, -0.1f, 0.51f, 1.0f};
    const float g = in.pick(pickups, 200, [&] { return in.raw_float(); });
    static const int sizes[] = {1, 7, 64, 256, 373, 512, 1024, 2048};
    const int n = in.pick(sizes, 240, [&] { return 1 + in.u16() % 2048; });
    static const float rates[] = {44100.0f, 48000.0f, 96000.0f, 22050.0f, 8000.0f};
    const float rate = in.pick(rates, 250, [&] { return 4000.0f + in.u16() * 10.0f; });

    pdhost::clear_console();
    std::unique_ptr<pdhost::Object> scoped;
    try {
        scoped = std::make_unique<pdhost::Object>(
            "attackscope~", pdhost::Words{{"-position", "-pickup"}}, std::vector<float>{g});
    } catch (const std::runtime_error &) { // the host's "couldn't create"
    }
    const bool valid = g > 0.0f && g <= 0.5f;
    if ((scoped != nullptr) != valid)
        fuzz::violated(target, "-pickup %.9g %s", static_cast<double>(g),
                       valid ? "refused" : "accepted");
    if (!valid) {
        if (pdhost::console().empty())
            fuzz::violated(target, "-pickup %.9g refused without an error", double(g));
        return;
    }
    pdhost::Object plain("attackscope~");
    scoped->dsp(n, rate);
    plain.dsp(n, rate);

    // Blocks of noise, silence and plucks, enough for a few notes to end.
    const long total = std::min<long>(3 * static_cast<long>(rate), 400 * n);
    std::vector<float> block(static_cast<size_t>(n));
    uint32_t noise = in.u32() | 1u;
    for (long done = 0; done < total; done += n) {
        const uint8_t kind = in.byte();
        const float level = static_cast<float>(in.byte()) / 255.0f;
        for (int i = 0; i < n; i++) {
            noise ^= noise << 13, noise ^= noise >> 17, noise ^= noise << 5;
            const float white = static_cast<float>(noise) / 4294967296.0f * 2.0f - 1.0f;
            switch (kind % 4) {
            case 0:
                block[static_cast<size_t>(i)] = 0.0f;
                break;
            case 1:
                block[static_cast<size_t>(i)] = level * white;
                break;
            case 2: // a decaying buzz: a plucked note's spectrum, roughly
                block[static_cast<size_t>(i)] =
                    level * std::exp(-static_cast<float>(done + i) / rate) *
                    (std::fmod(static_cast<float>(done + i) * 220.0f / rate, 1.0f) - 0.5f);
                break;
            default:
                block[static_cast<size_t>(i)] = in.raw_float();
            }
        }
        scoped->perform(block.data());
        plain.perform(block.data());
    }
    for (int outlet : {1, 2})
        if (!same_floats(scoped->outlet(outlet), plain.outlet(outlet)))
            fuzz::violated(target, "outlet %d differs from the plain object's (n %d, rate %g)",
                           outlet, n, double(rate));
    for (const std::vector<float> &l : scoped->lists(3)) {
        if (l.size() != 4)
            fuzz::violated(target, "a list of %zu floats", l.size());
        for (float v : l)
            if (!std::isfinite(v))
                fuzz::violated(target, "a list holds %g", double(v));
        if (l[0] < 0 || l[0] > 0.5f || l[3] < 0 || l[3] > 0.5f || l[2] < 0 || l[2] > 1 || l[1] < 0)
            fuzz::violated(target, "list %g %g %g %g", double(l[0]), double(l[1]), double(l[2]),
                           double(l[3]));
    }
}

void check_option(fuzz::ByteReader &in) {
    std::string text;
    for (uint8_t length = in.byte() % 24; length > 0 && !in.empty(); length--)
        text += static_cast<char>(in.byte());
    std::vector<std::string> words = {"attackscope", "--position", "--pickup", text, "file.wav"};
    std::vector<char *> argv;
    for (std::string &w : words)
        argv.push_back(w.data());
    run_options options;
    // The usage a refused line prints goes nowhere.
    std::streambuf *const err = std::cerr.rdbuf(nullptr);
    const int status = parse_options(static_cast<int>(argv.size()), argv.data(), options);
    std::cerr.rdbuf(err);
    std::cerr.clear();
    if (status == -1 && !(options.pickup > 0.0 && options.pickup <= 0.5))
        fuzz::violated(target, "--pickup \"%s\" parsed as %.17g", text.c_str(), options.pickup);
    if (status != -1 && status != 2)
        fuzz::violated(target, "--pickup \"%s\" gave status %d", text.c_str(), status);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const bool set_up = (attackscope_tilde_setup(), true);
    (void)set_up;
    fuzz::ByteReader in(data, size);
    if (in.byte() % 2 == 0)
        check_object(in);
    else
        check_option(in);
    return 0;
}
