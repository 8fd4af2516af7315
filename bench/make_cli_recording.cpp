// Writes the sound-file analyser's benchmark recording: the looped plucked-note stream, twenty
// times over (ten minutes at 44100 Hz), as a 16-bit WAV, the most common kind of file.
#include <sndfile.h>

#include <cstdio>
#include <vector>

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s STREAM.wav OUT.wav\n", argv[0]);
        return 2;
    }
    SF_INFO in_info{};
    SNDFILE *in = sf_open(argv[1], SFM_READ, &in_info);
    if (!in || in_info.channels != 1) {
        std::fprintf(stderr, "%s: %s\n", argv[1], in ? "not mono" : sf_strerror(nullptr));
        return 1;
    }
    std::vector<float> stream(static_cast<size_t>(in_info.frames));
    const sf_count_t got = sf_readf_float(in, stream.data(), in_info.frames);
    sf_close(in);
    SF_INFO out_info{};
    out_info.samplerate = in_info.samplerate;
    out_info.channels = 1;
    out_info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE *out = sf_open(argv[2], SFM_WRITE, &out_info);
    if (!out) {
        std::fprintf(stderr, "%s: %s\n", argv[2], sf_strerror(nullptr));
        return 1;
    }
    const sf_count_t loops = (600 * in_info.samplerate + got - 1) / got;
    bool ok = got == in_info.frames;
    for (sf_count_t i = 0; i < loops && ok; i++)
        ok = sf_writef_float(out, stream.data(), got) == got;
    sf_close(out);
    if (!ok) {
        std::fprintf(stderr, "%s: short read or write\n", argv[2]);
        return 1;
    }
    return 0;
}
