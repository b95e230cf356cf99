// Listens where a software radio would: the audio a station sends over the SDR loop device
// (16-bit little-endian mono 48 kHz datagrams) is kept and written to a WAV file at the end,
// and each PTT datagram is printed at once as "PTT <0|1> <UTC milliseconds>". Runs until
// SIGTERM or SIGINT.
//   udp_capture AUDIO_PORT OUT.wav PTT_PORT
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/wavfile.h"

namespace {

volatile std::sig_atomic_t stop = 0;

int bound_socket(int port) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<std::uint16_t>(port));
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
        std::fprintf(stderr, "udp_capture: cannot listen on port %d\n", port);
        std::exit(2);
    }
    return fd;
}

long long utc_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: udp_capture AUDIO_PORT OUT.wav PTT_PORT\n");
        return 2;
    }
    std::signal(SIGTERM, [](int) { stop = 1; });
    std::signal(SIGINT, [](int) { stop = 1; });
    pollfd fds[2] = {{bound_socket(std::atoi(argv[1])), POLLIN, 0},
                     {bound_socket(std::atoi(argv[3])), POLLIN, 0}};
    std::vector<std::int16_t> audio;
    unsigned char buffer[65536];
    while (!stop) {
        if (poll(fds, 2, 100) <= 0) continue;
        if (fds[0].revents & POLLIN) {
            const ssize_t n = recv(fds[0].fd, buffer, sizeof buffer, 0);
            for (ssize_t i = 0; i + 1 < n; i += 2)
                audio.push_back(static_cast<std::int16_t>(buffer[i] | (buffer[i + 1] << 8)));
        }
        if (fds[1].revents & POLLIN) {
            const ssize_t n = recv(fds[1].fd, buffer, sizeof buffer - 1, 0);
            if (n > 0) {
                buffer[n] = 0;
                std::printf("%s %lld\n", reinterpret_cast<char*>(buffer), utc_ms());
                std::fflush(stdout);
            }
        }
    }
    std::string error;
    if (!tarpo::app::write_wav16(argv[2], 48000, audio, error)) {
        std::fprintf(stderr, "udp_capture: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
