// Recording of received speech: one 8 kHz mono 16-bit WAV file per reception in a directory
// of its own. The file is written under a temporary name ("YYYYMMDD-HHMMSS.wav.part") and gets
// its final name "YYYYMMDD-HHMMSS-CALL.wav" only when the reception is kept, so a file under
// a final name is always complete; a reception that is dropped (too short, no callsign)
// leaves nothing behind. Only new regular files are written: the temporary is made afresh
// (never opened when something of that name is there, a FIFO included; another name is taken
// then), and the final name is linked to it only when nothing has that name yet (else
// "...-CALL-2.wav" and so on). Runs on the user-interface thread: it does file I/O.
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
    // missing). An open recording is dropped first. False with a one-line reason on failure;
    // asked again for the same reception after a failure, false at once without a reason (the
    // reason is said once per reception).
    bool start(const std::filesystem::path& directory, std::int64_t utc_ms, std::string& error);
    // Appends samples at 8 kHz; nothing when no recording is open.
    void write(const std::int16_t* samples, std::size_t n);
    // Closes the recording and gives it its final name with the callsign; returns that path,
    // or an empty one (with a reason in error) when there was none or it could not be kept
    // (the temporary is deleted then). Something other than a regular file under the final
    // name is said in `error` too, with the name used instead.
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
    std::int64_t refused_ms_ = -1;  // the reception whose recording could not be opened
};

// The final file name of a recording: "YYYYMMDD-HHMMSS-CALL.wav", the callsign reduced to
// letters, digits and '-' ('/' becomes '-', none at either end), "NOCALL" when no letter or
// digit is left.
std::string recording_name(const std::string& stamp, const std::string& callsign);

}  // namespace tarpo::engine
