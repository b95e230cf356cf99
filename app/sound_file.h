// Reading sound files of any format libsndfile knows in fixed-size pieces, and writing 16-bit
// WAV files without ever destroying what stood at the output path.
#pragma once

#include <samplerate.h>
#include <sndfile.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/output_file.h"
#include "app/wavfile.h"

namespace tarpo::app {

// Input rates the tool can use (Hz): below 1000 Hz there is no speech band to speak of, and
// the resampler's ratio to 8 kHz or 48 kHz stays well inside its range.
inline constexpr int min_input_rate = 1000;
inline constexpr int max_input_rate = 384000;
// The longest input read (s). Nothing is sized from a file's header: the samples are read
// in pieces until the file really ends or this much has been read.
inline constexpr int max_input_seconds = 4 * 3600;

// Streams the first channel of a sound file, resampled to `rate` Hz (libsamplerate, best
// sinc quality) when the file has another rate, in 16-bit units (full scale 32768). The
// memory it holds does not depend on the file's length. Every problem gives a one-line
// reason naming the file: unreadable, an unusable header, a rate outside
// [min_input_rate, max_input_rate], a sample that is not a finite number (with its time), or
// more than max_input_seconds of audio.
class SoundReader {
  public:
    SoundReader() = default;
    SoundReader(const SoundReader&) = delete;
    SoundReader& operator=(const SoundReader&) = delete;
    ~SoundReader();

    // path "-" is standard input.
    bool open(const std::string& path, int rate, std::string& error);
    // The bytes of a whole file in memory (kept by the caller while reading).
    bool open_memory(const void* data, std::size_t size, int rate, std::string& error);
    // Up to n samples into out; the count read (0 at the end), or -1 with `error` set.
    long read(double* out, long n, std::string& error);
    const SoundInfo& info() const { return info_; }

  private:
    struct Memory {
        const unsigned char* data = nullptr;
        sf_count_t size = 0;
        sf_count_t position = 0;
    };
    bool start(SNDFILE* file, const SF_INFO& sfinfo, int rate, std::string& error);
    bool read_source(std::string& error);
    bool refill(std::string& error);
    static SF_VIRTUAL_IO memory_io();

    std::string name_;
    SNDFILE* file_ = nullptr;
    SRC_STATE* converter_ = nullptr;
    Memory memory_;
    SoundInfo info_;
    double ratio_ = 1.0;
    std::int64_t frames_read_ = 0;  // of the file, at its own rate
    std::int64_t frame_limit_ = 0;
    std::vector<double> interleaved_;  // one piece of the file, all channels
    std::vector<float> source_;        // its first channel, full scale 1
    std::size_t source_used_ = 0, source_length_ = 0;
    bool source_ended_ = false;
    std::array<float, 4096> converted_{};
    std::vector<double> ready_;  // converted samples waiting to be read, 16-bit units
    std::size_t ready_used_ = 0, ready_length_ = 0;
    bool finished_ = false;
};

// Writes mono 16-bit PCM WAV at `rate` Hz through an OutputFile, in pieces. The header's
// sizes are filled in at the end where the output can be rewritten; a pipe or a device gets
// the largest sizes instead, as streams of unknown length do.
class WavWriter {
  public:
    bool open(const std::string& path, int rate, std::string& error);
    bool write(const std::int16_t* samples, std::size_t n, std::string& error);
    bool finish(std::string& error);
    std::uint64_t samples_written() const { return data_bytes_ / 2; }

  private:
    OutputFile out_;
    std::uint64_t data_bytes_ = 0;
};

}  // namespace tarpo::app
