// Plays a sound file into the SDR loop device's receive port as a software radio would:
// 16-bit little-endian mono 48 kHz datagrams of 1920 samples, one every 40 ms.
//   udp_play FILE PORT
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app/wavfile.h"
#include "dsp/numeric.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: udp_play FILE PORT\n");
        return 2;
    }
    std::vector<double> samples;
    tarpo::app::SoundInfo info;
    std::string error;
    if (!tarpo::app::read_sound(argv[1], 48000, samples, info, error)) {
        std::fprintf(stderr, "udp_play: %s\n", error.c_str());
        return 2;
    }
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(std::atoi(argv[2])));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    auto due = std::chrono::steady_clock::now();
    std::vector<unsigned char> datagram(1920 * 2);
    for (std::size_t at = 0; at + 1920 <= samples.size(); at += 1920) {
        for (std::size_t i = 0; i < 1920; ++i) {
            const auto v = static_cast<std::uint16_t>(tarpo::dsp::to_sample16(samples[at + i]));
            datagram[2 * i] = static_cast<unsigned char>(v & 0xFF);
            datagram[2 * i + 1] = static_cast<unsigned char>(v >> 8);
        }
        sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to),
               sizeof to);
        due += std::chrono::milliseconds(40);
        std::this_thread::sleep_until(due);
    }
    close(fd);
    return 0;
}
