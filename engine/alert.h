// The sound played when an identification burst is recognised: "alert.wav" in the working
// directory, played by the system's sound-file player without waiting for it.
#pragma once

#include <sys/types.h>

#include <array>
#include <string>

namespace tarpo::engine {

class AlertPlayer {
  public:
    explicit AlertPlayer(std::string path = "alert.wav") : path_(std::move(path)) {}
    ~AlertPlayer();
    AlertPlayer(const AlertPlayer&) = delete;
    AlertPlayer& operator=(const AlertPlayer&) = delete;

    // Starts playing the file and returns at once; a missing file or player plays nothing.
    // At most a few players run at a time; finished ones are reaped on the next call.
    void play();

  private:
    void reap();
    std::string path_;
    std::array<pid_t, 4> players_{};
};

}  // namespace tarpo::engine
