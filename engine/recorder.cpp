#include "engine/recorder.h"

#include <sndfile.h>

#include <cctype>
#include <ctime>

namespace tarpo::engine {

Recorder::~Recorder() {
    drop();
}

std::string recording_name(const std::string& stamp, const std::string& callsign) {
    std::string call;
    for (const unsigned char c : callsign) {
        if (std::isalnum(c)) call += static_cast<char>(std::toupper(c));
        if (c == '/' || c == '-') call += '-';
    }
    if (call.empty()) call = "NOCALL";
    return stamp + "-" + call + ".wav";
}

bool Recorder::start(const std::filesystem::path& directory, std::int64_t utc_ms,
                     std::string& error) {
    drop();
    std::error_code ec;
    std::filesystem::create_directories(directory, ec);
    const std::time_t seconds = static_cast<std::time_t>(utc_ms / 1000);
    std::tm t{};
    gmtime_r(&seconds, &t);
    char stamp[32];
    stamp_.assign(stamp, std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &t));
    part_ = directory / (stamp_ + ".wav.part");
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    file_ = sf_open(part_.c_str(), SFM_WRITE, &info);
    failed_ = false;
    if (file_ == nullptr) {
        error = part_.string() + ": cannot write: " + sf_strerror(nullptr);
        return false;
    }
    return true;
}

void Recorder::write(const std::int16_t* samples, std::size_t n) {
    if (file_ == nullptr || n == 0) return;
    const auto count = static_cast<sf_count_t>(n);
    if (sf_write_short(file_, samples, count) != count) failed_ = true;
}

void Recorder::close_file() {
    if (file_ != nullptr) sf_close(file_);
    file_ = nullptr;
}

std::filesystem::path Recorder::keep(const std::string& callsign, std::string& error) {
    if (file_ == nullptr) return {};
    close_file();
    const std::filesystem::path final_path = part_.parent_path() / recording_name(stamp_, callsign);
    std::error_code ec;
    if (!failed_) std::filesystem::rename(part_, final_path, ec);
    if (failed_ || ec) {
        std::filesystem::remove(part_, ec);
        error = final_path.string() + ": the recording could not be written";
        return {};
    }
    return final_path;
}

void Recorder::drop() {
    if (file_ == nullptr) return;
    close_file();
    std::error_code ec;
    std::filesystem::remove(part_, ec);
}

}  // namespace tarpo::engine
