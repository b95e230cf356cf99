#include "sound/sound_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace tarpo::sound {

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

// libsndfile's words without their decoration ("Error : flac decoder lost sync.").
std::string plain_reason(const char* reason) {
    std::string text = reason ? reason : "";
    if (text.rfind("Error : ", 0) == 0) text.erase(0, 8);
    while (!text.empty() && (text.back() == '.' || text.back() == '\n')) text.pop_back();
    return text;
}

// libsndfile's reason for a file it would not open, in our words where its own are obscure.
std::string open_failure(const std::string& name) {
    const std::string reason = sf_strerror(nullptr);
    if (reason.find("SF_INFO") != std::string::npos)
        return name + ": the header gives no usable sample rate or channel count";
    return name + ": " + reason;
}

std::string kind_of(mode_t mode) {
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a regular file";
}

std::string seconds_text(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f s", seconds);
    return text;
}

// The next bytes of a stream that cannot seek: from memory, or read(2) until count or the end.
sf_count_t pull(int fd, const unsigned char* data, sf_count_t size, sf_count_t delivered,
                unsigned char* to, sf_count_t count) {
    if (fd < 0) {
        const sf_count_t n = std::clamp<sf_count_t>(size - delivered, 0, count);
        if (n > 0) std::memcpy(to, data + delivered, static_cast<std::size_t>(n));
        return n;
    }
    sf_count_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(fd, to + done, static_cast<std::size_t>(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += n;
    }
    return done;
}

}  // namespace

SoundReader::~SoundReader() {
    if (file_) sf_close(file_);
    if (converter_) src_delete(converter_);
    if (fd_ >= 0) ::close(fd_);
}

double SoundReader::seconds_read() const {
    return info_.rate > 0 ? static_cast<double>(frames_read_) / info_.rate : 0.0;
}

bool SoundReader::fail(std::string message, std::string& error) {
    failure_ = std::move(message);
    error = failure_;
    return false;
}

bool SoundReader::open(const std::string& path, int rate, std::string& error, Sources sources) {
    name_ = path == "-" ? "standard input" : path;
    const bool regular_only = sources == Sources::regular_files;
    if (regular_only) {
        // Looked at before anything is opened: opening a FIFO waits for its writer, opening a
        // serial port may raise its lines.
        if (path == "-") return fail(name_ + ": not a file", error);
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) return fail(name_ + ": " + std::strerror(errno), error);
        if (!S_ISREG(st.st_mode))
            return fail(name_ + ": " + kind_of(st.st_mode) + ", not a sound file", error);
    }
    // Non-blocking where only a regular file will do: what the path names may have changed
    // since it was looked at.
    const int fd =
        path == "-" ? ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0)
                    : ::open(path.c_str(), O_RDONLY | O_CLOEXEC | (regular_only ? O_NONBLOCK : 0));
    if (fd < 0) return fail(name_ + ": " + std::strerror(errno), error);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode) || (regular_only && !S_ISREG(st.st_mode))) {
        ::close(fd);
        return fail(name_ + ": " + kind_of(st.st_mode) + ", not a sound file", error);
    }
    if (regular_only) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    const std::string name = name_;
    return open_fd(fd, name, rate, error);
}

bool SoundReader::open_fd(int fd, const std::string& name, int rate, std::string& error) {
    name_ = name;
    fd_ = fd;
    struct stat st {};
    const bool seekable =
        ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::lseek(fd, 0, SEEK_CUR) >= 0;
    if (seekable) {
        SF_INFO sfinfo{};
        SNDFILE* file = sf_open_fd(fd, SFM_READ, &sfinfo, SF_FALSE);
        if (!file) return fail(open_failure(name_), error);
        return start(file, sfinfo, rate, error);
    }
    source_io_ = Source{};
    source_io_.fd = fd;
    source_io_.seekable = false;
    return open_virtual(rate, error);
}

bool SoundReader::open_memory(const void* data, std::size_t size, int rate, std::string& error,
                              bool seekable) {
    name_ = "the sound data";
    source_io_ = Source{};
    source_io_.data = static_cast<const unsigned char*>(data);
    source_io_.size = static_cast<sf_count_t>(size);
    source_io_.seekable = seekable;
    return open_virtual(rate, error);
}

bool SoundReader::open_virtual(int rate, std::string& error) {
    SF_VIRTUAL_IO io = virtual_io();
    SF_INFO sfinfo{};
    SNDFILE* file = sf_open_virtual(&io, SFM_READ, &sfinfo, &source_io_);
    if (!file) return fail(open_failure(name_), error);
    return start(file, sfinfo, rate, error);
}

bool SoundReader::start(SNDFILE* file, const SF_INFO& sfinfo, int rate, std::string& error) {
    file_ = file;
    info_.rate = sfinfo.samplerate;
    info_.channels = sfinfo.channels;
    info_.format = describe_format(sfinfo.format);
    info_.frames = sfinfo.frames;
    if (sfinfo.channels <= 0 || sfinfo.samplerate <= 0)
        return fail(name_ + ": the header gives no usable sample rate or channel count", error);
    if (sfinfo.samplerate < min_input_rate || sfinfo.samplerate > max_input_rate)
        return fail(name_ + ": a sample rate of " + std::to_string(sfinfo.samplerate) +
                        " Hz cannot be used (" + std::to_string(min_input_rate) + " to " +
                        std::to_string(max_input_rate) + " Hz)",
                    error);
    // FLAC's STREAMINFO counts the samples exactly (0: not known); other headers are
    // clamped to the file by libsndfile, or are estimates, or are a stream's "unknown".
    exact_length_ = (sfinfo.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC && sfinfo.frames > 0 &&
                    sfinfo.frames < SF_COUNT_MAX;
    ratio_ = static_cast<double>(rate) / sfinfo.samplerate;
    if (sfinfo.samplerate != rate) {
        int rc = 0;
        if (src_is_valid_ratio(ratio_)) converter_ = src_new(SRC_SINC_BEST_QUALITY, 1, &rc);
        if (!converter_)
            return fail(
                name_ + ": cannot resample from " + std::to_string(sfinfo.samplerate) + " Hz",
                error);
    }
    frame_limit_ = static_cast<std::int64_t>(max_input_seconds) * sfinfo.samplerate;
    const std::size_t channels = static_cast<std::size_t>(sfinfo.channels);
    interleaved_.resize(std::max(piece_samples / channels, std::size_t{1}) * channels);
    source_.resize(interleaved_.size() / channels);
    ready_.resize(std::max(source_.size(), converted_.size()));
    return true;
}

std::string SoundReader::at_time(std::int64_t frame) const {
    return seconds_text(static_cast<double>(frame) / info_.rate);
}

// Whether every byte of the source has been taken (a decoder error there is a file cut short).
bool SoundReader::source_exhausted() const {
    if (source_io_.data && source_io_.seekable) return source_io_.position >= source_io_.size;
    if (source_io_.data || source_io_.fd >= 0) return source_io_.ended;
    struct stat st {};
    const off_t at = ::lseek(fd_, 0, SEEK_CUR);
    return ::fstat(fd_, &st) == 0 && at >= st.st_size;
}

// One piece of the file into source_ (first channel, full scale 1).
bool SoundReader::read_source(std::string& error) {
    const auto channels = static_cast<std::size_t>(info_.channels);
    const auto frames = static_cast<sf_count_t>(interleaved_.size() / channels);
    const sf_count_t got = sf_readf_double(file_, interleaved_.data(), frames);
    source_used_ = 0;
    source_length_ = got > 0 ? static_cast<std::size_t>(got) : 0;
    for (std::size_t i = 0; i < source_length_; ++i) {
        const double v = interleaved_[i * channels];
        if (!std::isfinite(v)) {
            char at[64];
            std::snprintf(
                at, sizeof at, "%.6f s",
                static_cast<double>(frames_read_ + static_cast<std::int64_t>(i)) / info_.rate);
            return fail(name_ + ": the sample at " + at + " is not a finite number", error);
        }
        // Far beyond full scale means nothing more than clipped; limited here, so that a float
        // file's 1e300 stays a finite number through the float resampler.
        source_[i] = static_cast<float>(std::clamp(v, -max_level, max_level));
    }
    frames_read_ += static_cast<std::int64_t>(source_length_);
    if (frames_read_ > frame_limit_)
        return fail(name_ + ": longer than " + std::to_string(max_input_seconds / 3600) +
                        " hours, the most that is read",
                    error);
    if (sf_error(file_) != SF_ERR_NO_ERROR) {
        // The decoder gave up in the middle: what came before is good, the rest is lost.
        const std::string reason = plain_reason(sf_strerror(file_));
        if (exact_length_ && frames_read_ < info_.frames && source_exhausted())
            return fail(name_ + ": the file is cut short: it ends after " + at_time(frames_read_) +
                            " of the " + at_time(info_.frames) + " its header gives",
                        error);
        return fail(name_ + ": the file cannot be decoded after " + at_time(frames_read_) + " (" +
                        reason + ")",
                    error);
    }
    if (source_length_ > 0) return true;
    source_ended_ = true;
    if (frames_read_ == 0) return fail(name_ + ": the file holds no samples", error);
    if (static_cast<double>(frames_read_) < min_input_seconds * info_.rate - 1e-9)
        return fail(name_ + ": only " + at_time(frames_read_) + " of sound, less than one " +
                        std::to_string(static_cast<int>(min_input_seconds * 1000 + 0.5)) +
                        " ms block",
                    error);
    if (exact_length_ && frames_read_ < info_.frames)
        return fail(name_ + ": the file is cut short: it ends after " + at_time(frames_read_) +
                        " of the " + at_time(info_.frames) + " its header gives",
                    error);
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
    if (rc != 0) return fail(name_ + ": resampling failed: " + src_strerror(rc), error);
    source_used_ += static_cast<std::size_t>(data.input_frames_used);
    ready_length_ = static_cast<std::size_t>(data.output_frames_gen);
    for (std::size_t i = 0; i < ready_length_; ++i) ready_[i] = converted_[i] * 32768.0;
    finished_ = source_ended_ && ready_length_ == 0;
    return true;
}

long SoundReader::read(double* out, long n, std::string& error) {
    if (!failure_.empty() || !file_) {
        error = failure_.empty() ? name_ + ": not open" : failure_;
        return -1;
    }
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

// Seekable memory is a file; a pipe (or memory read as one) is a stream whose first
// stream_head_bytes are kept, so that libsndfile may go back to the start after it has looked
// at the header. Its length is not known: the largest count stands for it, as for a stream.
SF_VIRTUAL_IO SoundReader::virtual_io() {
    SF_VIRTUAL_IO io{};
    io.get_filelen = [](void* user) {
        auto* s = static_cast<Source*>(user);
        return s->seekable ? s->size : SF_COUNT_MAX;
    };
    io.seek = [](sf_count_t offset, int whence, void* user) {
        auto* s = static_cast<Source*>(user);
        if (s->seekable) {
            const sf_count_t base = whence == SEEK_CUR   ? s->position
                                    : whence == SEEK_END ? s->size
                                                         : 0;
            if (offset < -base || offset > s->size - base) return static_cast<sf_count_t>(-1);
            s->position = base + offset;
            return s->position;
        }
        if (whence == SEEK_END) return static_cast<sf_count_t>(-1);
        const sf_count_t base = whence == SEEK_CUR ? s->position : 0;
        if (offset < -base) return static_cast<sf_count_t>(-1);
        const sf_count_t target = base + offset;
        const auto kept = static_cast<sf_count_t>(s->head.size());
        if (target <= kept || target == s->delivered) {
            s->position = target;
            return target;
        }
        if (target < s->delivered) return static_cast<sf_count_t>(-1);  // gone by
        // Forward: read and drop (keeping what belongs to the head).
        s->position = s->delivered;
        unsigned char skip[4096];
        while (s->delivered < target) {
            const sf_count_t want =
                std::min<sf_count_t>(static_cast<sf_count_t>(sizeof skip), target - s->delivered);
            const sf_count_t got = read_stream(*s, skip, want);
            if (got <= 0) return static_cast<sf_count_t>(-1);
        }
        return s->position;
    };
    io.read = [](void* to, sf_count_t count, void* user) {
        auto* s = static_cast<Source*>(user);
        auto* bytes = static_cast<unsigned char*>(to);
        if (s->seekable) {
            const sf_count_t n = std::clamp<sf_count_t>(s->size - s->position, 0, count);
            if (n > 0) std::memcpy(bytes, s->data + s->position, static_cast<std::size_t>(n));
            s->position += n;
            return n;
        }
        sf_count_t done = 0;
        const auto kept = static_cast<sf_count_t>(s->head.size());
        if (s->position < kept) {
            done = std::min(count, kept - s->position);
            std::memcpy(bytes, s->head.data() + s->position, static_cast<std::size_t>(done));
            s->position += done;
        }
        if (done < count && s->position == s->delivered)
            done += read_stream(*s, bytes + done, count - done);
        return done;
    };
    io.write = [](const void*, sf_count_t, void*) { return sf_count_t{0}; };
    io.tell = [](void* user) { return static_cast<Source*>(user)->position; };
    return io;
}

// The next bytes of a stream, at its end of what has been delivered; the head keeps a copy.
sf_count_t SoundReader::read_stream(Source& s, unsigned char* to, sf_count_t count) {
    const sf_count_t got = pull(s.fd, s.data, s.size, s.delivered, to, count);
    if (got < count) s.ended = true;
    if (static_cast<sf_count_t>(s.head.size()) == s.delivered &&
        s.head.size() < stream_head_bytes) {
        const auto keep = static_cast<std::size_t>(
            std::min<sf_count_t>(got, static_cast<sf_count_t>(stream_head_bytes - s.head.size())));
        s.head.insert(s.head.end(), to, to + keep);
    }
    s.delivered += got;
    s.position = s.delivered;
    return got;
}

}  // namespace tarpo::sound
