// Recording of received speech: one 8 kHz mono 16-bit WAV file per reception in a directory
// of its own. The file is written under a temporary name ("YYYYMMDD-HHMMSS.wav.part") and gets
// its final name "YYYYMMDD-HHMMSS-CALL.wav" only when the reception is kept, so a file under
// a final name is always complete; a reception that is dropped (too short, no callsign)
// leaves nothing behind. Runs on the user-interface thread: it does file I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

struct sf_private_tag;

namespace tarpo::engine {

class Recorder {
  public:
    static constexpr int rate = 8000;  // Hz

    Recorder() = default;
    ~Recorder();  // a recording still open is dropped
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Opens a recording for a reception that started at utc_ms in `directory` (created when
    // missing). An open recording is dropped first. False with a one-line reason on failure.
    bool start(const std::filesystem::path& directory, std::int64_t utc_ms, std::string& error);
    // Appends samples at 8 kHz; nothing when no recording is open.
    void write(const std::int16_t* samples, std::size_t n);
    // Closes the recording and gives it its final name with the callsign; returns that path,
    // or an empty one (with a reason in error) when there was none or it could not be kept.
    std::filesystem::path keep(const std::string& callsign, std::string& error);
    // Closes and deletes the recording.
    void drop();

    bool recording() const { return file_ != nullptr; }

  private:
    void close_file();

    sf_private_tag* file_ = nullptr;
    std::filesystem::path part_;
    std::string stamp_;  // YYYYMMDD-HHMMSS
    bool failed_ = false;
};

// The final file name of a recording: "YYYYMMDD-HHMMSS-CALL.wav", the callsign reduced to
// letters, digits and '-' ('/' becomes '-'), "NOCALL" when nothing is left.
std::string recording_name(const std::string& stamp, const std::string& callsign);

}  // namespace tarpo::engine
