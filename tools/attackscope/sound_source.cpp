#include "sound_source.h"

#include <sndfile.h>
#include <soxr.h>

#include <algorithm>
#include <mutex>
#include <vector>

namespace {

constexpr std::size_t chunk_frames = 16384;

// libsndfile keeps the reason of a failed open in one variable for the whole process: files
// opened on several threads at once take turns, so that each reads its own reason.
std::mutex open_lock;

} // namespace

struct sound_source_impl {
    SNDFILE *file = nullptr;
    bool in_memory = false;        // instead of the file: mono samples not yet read
    const float *memory = nullptr; // memory[0..memory_left-1]
    std::size_t memory_left = 0;
    int channels = 1;
    int channel = 0;           // 1-based, 0 for the mean
    std::vector<float> frames; // one interleaved chunk of the file
    std::vector<float> mono;   // that chunk as the one stream the object gets
    bool file_done = false;
    soxr_t soxr = nullptr;
    std::vector<float> converted; // resampler output not yet read
    std::size_t converted_at = 0;
    bool soxr_done = false;

    ~sound_source_impl() {
        if (soxr)
            soxr_delete(soxr);
        if (file)
            sf_close(file);
    }

    // The next chunk of the file as mono samples; empty at the end of the file. Sets error on
    // a decoding failure.
    std::size_t read_chunk(std::string &error) {
        mono.clear();
        if (file_done)
            return 0;
        if (in_memory) {
            const std::size_t count = std::min(chunk_frames, memory_left);
            mono.assign(memory, memory + count);
            memory += count;
            memory_left -= count;
            file_done = count < chunk_frames;
            return count;
        }
        frames.resize(chunk_frames * static_cast<std::size_t>(channels));
        const sf_count_t got = sf_readf_float(file, frames.data(), chunk_frames);
        if (got <= 0 || static_cast<std::size_t>(got) < chunk_frames) {
            file_done = true;
            if (sf_error(file) != SF_ERR_NO_ERROR)
                error = sf_strerror(file);
        }
        const auto count = static_cast<std::size_t>(std::max<sf_count_t>(got, 0));
        const auto width = static_cast<std::size_t>(channels);
        mono.resize(count);
        if (width == 1) {
            std::copy_n(frames.begin(), count, mono.begin());
        } else if (channel > 0) {
            for (std::size_t i = 0; i < count; i++)
                mono[i] = frames[i * width + static_cast<std::size_t>(channel - 1)];
        } else {
            for (std::size_t i = 0; i < count; i++) {
                double sum = 0.0;
                for (std::size_t c = 0; c < width; c++)
                    sum += static_cast<double>(frames[i * width + c]);
                mono[i] = static_cast<float>(sum / static_cast<double>(width));
            }
        }
        return count;
    }

    // Resamples the next chunk of the file (or flushes the resampler's tail at the end).
    void convert_chunk(std::string &error) {
        converted_at = 0;
        converted.clear();
        const std::size_t in = read_chunk(error);
        if (!error.empty())
            return;
        // soxr may take less input than offered when the output is full: go on until it took
        // all of it (or, at the end, until nothing more comes out).
        std::size_t used = 0;
        for (;;) {
            const std::size_t at = converted.size();
            converted.resize(at + chunk_frames);
            std::size_t done_in = 0, done_out = 0;
            const soxr_error_t failed =
                soxr_process(soxr, in ? mono.data() + used : nullptr, in - used, &done_in,
                             converted.data() + at, chunk_frames, &done_out);
            converted.resize(at + done_out);
            if (failed) {
                error = std::string("resampling failed: ") + failed;
                return;
            }
            used += done_in;
            if (in == 0 ? done_out == 0 : used == in && done_out < chunk_frames)
                break;
        }
        if (in == 0)
            soxr_done = true;
    }
};

sound_source::sound_source(const std::string &path, int channel, bool resample, int target_rate)
    : impl_(std::make_unique<sound_source_impl>()) {
    SF_INFO info{};
    {
        const std::lock_guard<std::mutex> hold(open_lock);
        impl_->file = sf_open(path.c_str(), SFM_READ, &info);
        if (!impl_->file) {
            error_ = sf_strerror(nullptr);
            return;
        }
    }
    if (info.channels < 1 || info.samplerate < 1) {
        error_ = "no channels or no sample rate in the file";
        return;
    }
    if (channel > info.channels) {
        error_ = "has " + std::to_string(info.channels) + " channel" +
                 (info.channels == 1 ? "" : "s") + ", no channel " + std::to_string(channel);
        return;
    }
    impl_->channels = info.channels;
    impl_->channel = channel;
    file_rate_ = rate_ = info.samplerate;
    start_resampler(resample, target_rate);
}

sound_source::sound_source(const float *samples, std::size_t frames, int rate, bool resample,
                           int target_rate)
    : impl_(std::make_unique<sound_source_impl>()) {
    if (rate < 1) {
        error_ = "no sample rate";
        return;
    }
    impl_->in_memory = true;
    impl_->memory = samples;
    impl_->memory_left = samples ? frames : 0;
    file_rate_ = rate_ = rate;
    start_resampler(resample, target_rate);
}

void sound_source::start_resampler(bool resample, int target_rate) {
    if (!resample || file_rate_ == target_rate)
        return;
    soxr_error_t failed = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    impl_->soxr = soxr_create(file_rate_, target_rate, 1, &failed, &io, &quality, nullptr);
    if (failed) {
        error_ = std::string("cannot resample: ") + failed;
        return;
    }
    rate_ = target_rate;
}

sound_source::~sound_source() = default;

std::size_t sound_source::read(float *out, std::size_t count) {
    if (!ok())
        return 0;
    sound_source_impl &s = *impl_;
    std::size_t filled = 0;
    while (filled < count) {
        std::vector<float> &from = s.soxr ? s.converted : s.mono;
        if (s.converted_at >= from.size()) {
            if (s.soxr ? s.soxr_done : s.file_done)
                break;
            if (s.soxr)
                s.convert_chunk(error_);
            else
                s.read_chunk(error_);
            s.converted_at = 0;
            if (!ok())
                break;
            continue;
        }
        const std::size_t take = std::min(count - filled, from.size() - s.converted_at);
        std::copy_n(from.begin() + static_cast<std::ptrdiff_t>(s.converted_at), take, out + filled);
        s.converted_at += take;
        filled += take;
    }
    return filled;
}
