#include "app/sound_file.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tarpo::app {

namespace {

constexpr std::size_t piece_samples = 16384;  // of the file, all channels together
constexpr double max_level = 4.0;             // full scale 1: 12 dB above it

std::string describe_format(int format) {
    SF_FORMAT_INFO major{};
    major.format = format & SF_FORMAT_TYPEMASK;
    std::string text = "unknown";
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &major, sizeof(major)) == 0 && major.name)
        text = major.name;
    SF_FORMAT_INFO sub{};
    sub.format = format & SF_FORMAT_SUBMASK;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &sub, sizeof(sub)) == 0 && sub.name)
        text += std::string(" ") + sub.name;
    return text;
}

// libsndfile's reason for a file it would not open, in our words where its own are obscure.
std::string open_failure(const std::string& name) {
    const std::string reason = sf_strerror(nullptr);
    if (reason.find("SF_INFO") != std::string::npos)
        return name + ": the header gives no usable sample rate or channel count";
    return name + ": " + reason;
}

void little_endian32(unsigned char* at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(v >> (8 * i));
}

}  // namespace

// ---------------------------------------------------------------------------------------

SoundReader::~SoundReader() {
    if (file_) sf_close(file_);
    if (converter_) src_delete(converter_);
}

bool SoundReader::open(const std::string& path, int rate, std::string& error) {
    name_ = path == "-" ? "standard input" : path;
    SF_INFO sfinfo{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &sfinfo);
    if (!file) {
        error = open_failure(name_);
        return false;
    }
    return start(file, sfinfo, rate, error);
}

bool SoundReader::open_memory(const void* data, std::size_t size, int rate, std::string& error) {
    name_ = "the sound data";
    memory_ = {static_cast<const unsigned char*>(data), static_cast<sf_count_t>(size), 0};
    SF_VIRTUAL_IO io = memory_io();
    SF_INFO sfinfo{};
    SNDFILE* file = sf_open_virtual(&io, SFM_READ, &sfinfo, &memory_);
    if (!file) {
        error = open_failure(name_);
        return false;
    }
    return start(file, sfinfo, rate, error);
}

bool SoundReader::start(SNDFILE* file, const SF_INFO& sfinfo, int rate, std::string& error) {
    file_ = file;
    info_.rate = sfinfo.samplerate;
    info_.channels = sfinfo.channels;
    info_.format = describe_format(sfinfo.format);
    info_.frames = sfinfo.frames;
    if (sfinfo.channels <= 0 || sfinfo.samplerate <= 0) {
        error = name_ + ": the header gives no usable sample rate or channel count";
        return false;
    }
    if (sfinfo.samplerate < min_input_rate || sfinfo.samplerate > max_input_rate) {
        error = name_ + ": a sample rate of " + std::to_string(sfinfo.samplerate) +
                " Hz cannot be used (" + std::to_string(min_input_rate) + " to " +
                std::to_string(max_input_rate) + " Hz)";
        return false;
    }
    ratio_ = static_cast<double>(rate) / sfinfo.samplerate;
    if (sfinfo.samplerate != rate) {
        int rc = 0;
        if (src_is_valid_ratio(ratio_)) converter_ = src_new(SRC_SINC_BEST_QUALITY, 1, &rc);
        if (!converter_) {
            error = name_ + ": cannot resample from " + std::to_string(sfinfo.samplerate) + " Hz";
            return false;
        }
    }
    frame_limit_ = static_cast<std::int64_t>(max_input_seconds) * sfinfo.samplerate;
    const std::size_t channels = static_cast<std::size_t>(sfinfo.channels);
    interleaved_.resize(std::max(piece_samples / channels, std::size_t{1}) * channels);
    source_.resize(interleaved_.size() / channels);
    ready_.resize(std::max(source_.size(), converted_.size()));
    return true;
}

// One piece of the file into source_ (first channel, full scale 1).
bool SoundReader::read_source(std::string& error) {
    const auto channels = static_cast<std::size_t>(info_.channels);
    const auto frames = static_cast<sf_count_t>(interleaved_.size() / channels);
    const sf_count_t got = sf_readf_double(file_, interleaved_.data(), frames);
    source_used_ = 0;
    source_length_ = got > 0 ? static_cast<std::size_t>(got) : 0;
    if (source_length_ == 0) source_ended_ = true;
    for (std::size_t i = 0; i < source_length_; ++i) {
        const double v = interleaved_[i * channels];
        if (!std::isfinite(v)) {
            char at[64];
            std::snprintf(
                at, sizeof at, "%.6f s",
                static_cast<double>(frames_read_ + static_cast<std::int64_t>(i)) / info_.rate);
            error = name_ + ": the sample at " + at + " is not a finite number";
            return false;
        }
        // Far beyond full scale means nothing more than clipped; limited here, so that a float
        // file's 1e300 stays a finite number through the float resampler.
        source_[i] = static_cast<float>(std::clamp(v, -max_level, max_level));
    }
    frames_read_ += static_cast<std::int64_t>(source_length_);
    if (frames_read_ > frame_limit_) {
        error = name_ + ": longer than " + std::to_string(max_input_seconds / 3600) +
                " hours, the most this tool reads";
        return false;
    }
    return true;
}

// Makes more samples ready (possibly none, when the converter wants more input first).
bool SoundReader::refill(std::string& error) {
    ready_used_ = ready_length_ = 0;
    if (source_used_ == source_length_ && !source_ended_ && !read_source(error)) return false;
    if (!converter_) {
        for (std::size_t i = 0; i < source_length_; ++i) ready_[i] = source_[i] * 32768.0;
        ready_length_ = source_length_;
        source_used_ = source_length_;
        finished_ = source_ended_;
        return true;
    }
    SRC_DATA data{};
    data.data_in = source_.data() + source_used_;
    data.input_frames = static_cast<long>(source_length_ - source_used_);
    data.data_out = converted_.data();
    data.output_frames = static_cast<long>(converted_.size());
    data.src_ratio = ratio_;
    data.end_of_input = source_ended_ ? 1 : 0;
    const int rc = src_process(converter_, &data);
    if (rc != 0) {
        error = name_ + ": resampling failed: " + src_strerror(rc);
        return false;
    }
    source_used_ += static_cast<std::size_t>(data.input_frames_used);
    ready_length_ = static_cast<std::size_t>(data.output_frames_gen);
    for (std::size_t i = 0; i < ready_length_; ++i) ready_[i] = converted_[i] * 32768.0;
    finished_ = source_ended_ && ready_length_ == 0;
    return true;
}

long SoundReader::read(double* out, long n, std::string& error) {
    long done = 0;
    while (done < n) {
        if (ready_used_ < ready_length_) {
            const auto take =
                std::min(static_cast<std::size_t>(n - done), ready_length_ - ready_used_);
            std::copy_n(ready_.data() + ready_used_, take, out + done);
            ready_used_ += take;
            done += static_cast<long>(take);
            continue;
        }
        if (finished_) break;
        if (!refill(error)) return -1;
    }
    return done;
}

SF_VIRTUAL_IO SoundReader::memory_io() {
    SF_VIRTUAL_IO io{};
    io.get_filelen = [](void* user) { return static_cast<Memory*>(user)->size; };
    io.seek = [](sf_count_t offset, int whence, void* user) {
        auto* m = static_cast<Memory*>(user);
        sf_count_t base = whence == SEEK_CUR ? m->position : whence == SEEK_END ? m->size : 0;
        if (offset < -base || offset > m->size - base) return static_cast<sf_count_t>(-1);
        m->position = base + offset;
        return m->position;
    };
    io.read = [](void* to, sf_count_t count, void* user) {
        auto* m = static_cast<Memory*>(user);
        const sf_count_t n = std::clamp<sf_count_t>(m->size - m->position, 0, count);
        if (n > 0) std::memcpy(to, m->data + m->position, static_cast<std::size_t>(n));
        m->position += n;
        return n;
    };
    io.write = [](const void*, sf_count_t, void*) { return sf_count_t{0}; };
    io.tell = [](void* user) { return static_cast<Memory*>(user)->position; };
    return io;
}

// ---------------------------------------------------------------------------------------

bool WavWriter::open(const std::string& path, int rate, std::string& error) {
    data_bytes_ = 0;
    if (!out_.open(path, error)) return false;
    unsigned char header[44] = {'R', 'I', 'F', 'F', 0,  0, 0, 0, 'W', 'A', 'V', 'E',
                                'f', 'm', 't', ' ', 16, 0, 0, 0, 1,   0,   1,   0};
    little_endian32(header + 4, 0xffffffffu);  // the sizes of a stream of unknown length
    little_endian32(header + 24, static_cast<std::uint32_t>(rate));
    little_endian32(header + 28, static_cast<std::uint32_t>(rate) * 2);
    header[32] = 2;   // bytes per frame
    header[34] = 16;  // bits per sample
    std::memcpy(header + 36, "data", 4);
    little_endian32(header + 40, 0xffffffffu);
    return out_.write(header, sizeof header, error);
}

bool WavWriter::write(const std::int16_t* samples, std::size_t n, std::string& error) {
    unsigned char bytes[2048];
    while (n > 0) {
        const std::size_t take = std::min(n, sizeof bytes / 2);
        for (std::size_t i = 0; i < take; ++i) {
            const auto v = static_cast<std::uint16_t>(samples[i]);
            bytes[2 * i] = static_cast<unsigned char>(v & 0xff);
            bytes[2 * i + 1] = static_cast<unsigned char>(v >> 8);
        }
        if (!out_.write(bytes, 2 * take, error)) return false;
        data_bytes_ += 2 * take;
        samples += take;
        n -= take;
    }
    return true;
}

bool WavWriter::finish(std::string& error) {
    if (out_.rewritable()) {
        // A WAV file counts its bytes in 32 bits; the 4-hour input limit keeps far below.
        unsigned char size[4];
        little_endian32(size, static_cast<std::uint32_t>(data_bytes_ + 36));
        const bool riff = out_.write_at(4, size, 4);
        little_endian32(size, static_cast<std::uint32_t>(data_bytes_));
        if (!riff || !out_.write_at(40, size, 4)) {
            error = "cannot write the file's header";
            out_.discard();
            return false;
        }
    }
    return out_.commit(error);
}

}  // namespace tarpo::app
