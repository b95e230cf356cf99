#include "engine/alert.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tarpo::engine {

AlertPlayer::~AlertPlayer() {
    reap();
}

void AlertPlayer::reap() {
    for (pid_t& pid : players_)
        if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == pid) pid = 0;
}

void AlertPlayer::play() {
    reap();
    if (access(path_.c_str(), R_OK) != 0) return;
    pid_t* slot = nullptr;
    for (pid_t& pid : players_)
        if (pid == 0) slot = &pid;
    if (!slot) return;  // enough alerts are playing already
    // aplay from alsa-utils; its output goes nowhere so that only our texts reach stdout.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    char arg0[] = "aplay";
    char arg1[] = "-q";
    std::string file = path_;
    char* argv[] = {arg0, arg1, file.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, "aplay", &actions, nullptr, argv, environ) == 0) *slot = pid;
    posix_spawn_file_actions_destroy(&actions);
}

}  // namespace tarpo::engine
