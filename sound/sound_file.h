// Reading sound files of any format libsndfile knows in fixed-size pieces: the one reader of
// the command-line tool and of the program's voice keyer. Nothing is sized from a file's
// header, every problem is one line that names the file (and, inside the audio, the time).
#pragma once

#include <samplerate.h>
#include <sndfile.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarpo::sound {

// Input rates that can be used (Hz): below 1000 Hz there is no speech band to speak of, and
// the resampler's ratio to 8 kHz or 48 kHz stays well inside its range.
inline constexpr int min_input_rate = 1000;
inline constexpr int max_input_rate = 384000;
// The longest input read (s): the samples are read in pieces until the file really ends or
// this much has been read.
inline constexpr int max_input_seconds = 4 * 3600;
// The shortest input (s): one 40 ms block of the modem and the codec.
inline constexpr double min_input_seconds = 0.04;
// Bytes of a stream that cannot seek (a pipe, a FIFO) kept from its start, so that the
// format's detection may go back to the first byte: libsndfile reads a header of a few
// hundred bytes before it starts again; FLAC metadata (a picture) may be larger.
inline constexpr std::size_t stream_head_bytes = 1 << 20;

// What a file held before conversion, for messages.
struct SoundInfo {
    int rate = 0;  // Hz
    int channels = 0;
    std::string format;  // e.g. "WAV 16-bit PCM"
    std::int64_t frames = 0;
};

// Which paths open() takes.
enum class Sources {
    any,           // files, "-" (standard input), FIFOs and devices: the command-line tool
    regular_files  // regular files (or links to one) only: the voice keyer, which must never
                   // wait for a writer; anything else is refused before it is opened
};

// Streams the first channel of a sound file, resampled to `rate` Hz (libsamplerate, best
// sinc quality) when the file has another rate, in 16-bit units (full scale 32768). The
// memory it holds does not depend on the file's length. Every problem gives a one-line
// reason naming the file: unreadable, an unusable header, a rate outside
// [min_input_rate, max_input_rate], a sample that is not a finite number (with its time), a
// decoder error in the middle (with the time up to which the file was good), a FLAC file
// that ends before its header says, less than min_input_seconds or more than
// max_input_seconds of audio. A source that cannot seek (a pipe) is read through a kept head
// of stream_head_bytes, so that FLAC (and every format libsndfile can read in one pass) works
// from a pipe too.
class SoundReader {
  public:
    SoundReader() = default;
    SoundReader(const SoundReader&) = delete;
    SoundReader& operator=(const SoundReader&) = delete;
    ~SoundReader();

    // path "-" is standard input.
    bool open(const std::string& path, int rate, std::string& error,
              Sources sources = Sources::any);
    // An open descriptor (taken over: closed by the reader), named `name` in messages.
    bool open_fd(int fd, const std::string& name, int rate, std::string& error);
    // The bytes of a whole file in memory (kept by the caller while reading); seekable false
    // reads them as a pipe would deliver them (for tests and the fuzzer).
    bool open_memory(const void* data, std::size_t size, int rate, std::string& error,
                     bool seekable = true);
    // Up to n samples into out; the count read (0 at the end), or -1 with `error` set.
    // After -1 every further call returns -1 again.
    long read(double* out, long n, std::string& error);
    const SoundInfo& info() const { return info_; }
    // Seconds of the file read so far, at its own rate.
    double seconds_read() const;

  private:
    // Where libsndfile's virtual I/O reads: bytes in memory, or a descriptor that cannot seek.
    struct Source {
        const unsigned char* data = nullptr;  // memory; null for a descriptor
        sf_count_t size = 0;                  // memory: its size
        int fd = -1;                          // a pipe
        bool seekable = true;
        sf_count_t position = 0;          // where the next read starts
        sf_count_t delivered = 0;         // a pipe: bytes taken from it so far
        std::vector<unsigned char> head;  // a pipe: its first bytes (up to stream_head_bytes)
        bool ended = false;               // a pipe: its end has been seen
    };
    bool open_virtual(int rate, std::string& error);
    bool source_exhausted() const;
    static sf_count_t read_stream(Source& s, unsigned char* to, sf_count_t count);
    bool start(SNDFILE* file, const SF_INFO& sfinfo, int rate, std::string& error);
    bool read_source(std::string& error);
    bool refill(std::string& error);
    bool fail(std::string message, std::string& error);
    std::string at_time(std::int64_t frame) const;
    static SF_VIRTUAL_IO virtual_io();

    std::string name_;
    SNDFILE* file_ = nullptr;
    int fd_ = -1;  // owned, for open_fd and pipes
    SRC_STATE* converter_ = nullptr;
    Source source_io_;
    SoundInfo info_;
    bool exact_length_ = false;  // the header's frame count is exact (FLAC)
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
    std::string failure_;  // the first problem, repeated by every later read
};

}  // namespace tarpo::sound
