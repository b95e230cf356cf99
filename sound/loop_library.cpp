#include "sound/loop_library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

namespace tarpo::sound {

namespace {

std::string executable_dir() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return {};
    path[n] = '\0';
    std::string dir(path);
    const auto slash = dir.rfind('/');
    return slash == std::string::npos ? std::string() : dir.substr(0, slash + 1);
}

template <typename Fn>
Fn lookup(void* handle, const char* name) {
    return reinterpret_cast<Fn>(dlsym(handle, name));
}

}  // namespace

LoopLibrary::~LoopLibrary() {
    if (handle_) dlclose(handle_);
}

void LoopLibrary::use_entry_points(tarpo_set_ptt_fn set_ptt_entry,
                                   tarpo_init_rx_recording_fn init_rx_entry,
                                   tarpo_read_rx_fn read_rx_entry,
                                   tarpo_init_tx_playback_fn init_tx_entry,
                                   tarpo_write_tx_fn write_tx_entry) {
    if (handle_) {
        dlclose(handle_);
        handle_ = nullptr;
    }
    set_ptt = set_ptt_entry;
    init_rx_recording = init_rx_entry;
    read_rx = read_rx_entry;
    init_tx_playback = init_tx_entry;
    write_tx = write_tx_entry;
    present_ = set_ptt && init_rx_recording && read_rx && init_tx_playback && write_tx;
    given_ = true;
}

bool LoopLibrary::load(const std::string& path) {
    if (handle_ || given_) return present_;
    if (!path.empty()) {
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    } else {
        const std::string beside = executable_dir() + TARPO_LOOP_LIBRARY;
        handle_ = dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle_) handle_ = dlopen(TARPO_LOOP_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    }
    if (!handle_) return false;
    set_ptt = lookup<tarpo_set_ptt_fn>(handle_, "SetPTT");
    init_rx_recording = lookup<tarpo_init_rx_recording_fn>(handle_, "InitRXRecording");
    read_rx = lookup<tarpo_read_rx_fn>(handle_, "ReadRX");
    init_tx_playback = lookup<tarpo_init_tx_playback_fn>(handle_, "InitTXPlayback");
    write_tx = lookup<tarpo_write_tx_fn>(handle_, "WriteTX");
    // A library without all five entries would leave a direction half working: treat it as
    // absent.
    present_ = set_ptt && init_rx_recording && read_rx && init_tx_playback && write_tx;
    if (!present_) {
        dlclose(handle_);
        handle_ = nullptr;
    }
    return present_;
}

}  // namespace tarpo::sound
