// Reads a sound file as the mono stream of 32-bit floats the object would be given, block by
// block, resampled to 44100 Hz where asked. Nothing is held but one chunk of the file. Samples
// already in memory go through the same chunks and the same resampler, so they give the very
// stream a mono float file of the same samples gives.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

struct sound_source_impl;

class sound_source {
  public:
    // Opens path. channel counts from 1; 0 takes the mean of all channels, summed in double
    // precision and rounded once to float. With resample, a rate other than target_rate is
    // converted to it (libsoxr, high quality). On failure, error() says why and read() gives 0.
    sound_source(const std::string &path, int channel, bool resample, int target_rate);
    // Reads samples[0..frames-1] at `rate` Hz (the caller keeps them alive while this reads)
    // as a mono file of those samples would be read.
    sound_source(const float *samples, std::size_t frames, int rate, bool resample,
                 int target_rate);
    ~sound_source();
    sound_source(const sound_source &) = delete;
    sound_source &operator=(const sound_source &) = delete;

    bool ok() const { return error_.empty(); }
    const std::string &error() const { return error_; }
    int file_rate() const { return file_rate_; }
    // The rate of the samples read(): the file's, or target_rate when resampled.
    int rate() const { return rate_; }
    bool resampled() const { return file_rate_ != rate_; }

    // Fills out[0..count-1] with the next samples and returns how many there were; fewer than
    // count only at the end of the stream, or after a decoding error (see error()).
    std::size_t read(float *out, std::size_t count);

  private:
    void start_resampler(bool resample, int target_rate);

    std::unique_ptr<sound_source_impl> impl_;
    std::string error_;
    int file_rate_ = 0;
    int rate_ = 0;
};
