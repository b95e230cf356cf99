// Shared by the hostile-input tests of tarpo-cli: running the tool as a user does, a private
// directory per test, and sound files written byte by byte so that their headers can lie.
#pragma once

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace hostile {

namespace fs = std::filesystem;

struct Result {
    int status = -1;  // exit status; -1 when killed by a signal
    std::string out;  // standard output and standard error together
};

#ifdef TARPO_CLI
// The tool under test; TARPO_CLI_UNDER_TEST may name another build of it (an older one, to see
// these tests fail against the faults they guard).
inline std::string cli() {
    const char* other = std::getenv("TARPO_CLI_UNDER_TEST");
    return other ? other : TARPO_CLI;
}

inline Result run(const std::string& args) {
    Result r;
    const std::string command = cli() + " " + args + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return r;
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe)) r.out += buffer;
    const int status = pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}
#endif

// Exactly one line, ending with a line end.
inline bool one_line(const std::string& text) {
    return !text.empty() && text.back() == '\n' && text.find('\n') == text.size() - 1;
}

inline void put32(std::string& s, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) s += static_cast<char>(v >> (8 * i));
}
inline void put16(std::string& s, std::uint16_t v) {
    s += static_cast<char>(v & 0xff);
    s += static_cast<char>(v >> 8);
}

// A mono WAV file's bytes: 16-bit PCM, or IEEE float of `float_bytes` (4 or 8). data_size
// overrides the data chunk's size field (a header that lies).
inline std::string wav_bytes(std::uint32_t rate, const std::vector<double>& samples,
                             int float_bytes = 0, std::int64_t data_size = -1) {
    const std::uint32_t width = float_bytes ? static_cast<std::uint32_t>(float_bytes) : 2;
    const auto bytes = static_cast<std::uint32_t>(samples.size() * width);
    std::string s = "RIFF";
    put32(s, 36 + bytes);
    s += "WAVEfmt ";
    put32(s, 16);
    put16(s, float_bytes ? 3 : 1);
    put16(s, 1);
    put32(s, rate);
    put32(s, rate * width);
    put16(s, static_cast<std::uint16_t>(width));
    put16(s, static_cast<std::uint16_t>(8 * width));
    s += "data";
    put32(s, data_size >= 0 ? static_cast<std::uint32_t>(data_size) : bytes);
    for (double v : samples) {
        if (float_bytes == 8) {
            std::uint64_t u;
            std::memcpy(&u, &v, 8);
            put32(s, static_cast<std::uint32_t>(u));
            put32(s, static_cast<std::uint32_t>(u >> 32));
        } else if (float_bytes == 4) {
            const float f = static_cast<float>(v);
            std::uint32_t u;
            std::memcpy(&u, &f, 4);
            put32(s, u);
        } else {
            put16(s, static_cast<std::uint16_t>(static_cast<std::int16_t>(v * 32767.0)));
        }
    }
    return s;
}

inline std::vector<double> tone(double hz, double seconds, std::uint32_t rate, double amp = 0.5) {
    std::vector<double> v(static_cast<std::size_t>(seconds * rate));
    for (std::size_t i = 0; i < v.size(); ++i)
        v[i] = amp * std::sin(2.0 * M_PI * hz * static_cast<double>(i) / rate);
    return v;
}

inline void write_bytes(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string read_bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A mono 16-bit FLAC file of a tone (libsndfile's encoder), `seconds` long at `rate`.
inline void write_flac(const fs::path& path, double seconds, int rate = 8000) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    SNDFILE* flac = sf_open(path.string().c_str(), SFM_WRITE, &info);
    ASSERT_TRUE(flac);
    std::vector<short> samples(static_cast<std::size_t>(seconds * rate));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] =
            static_cast<short>(8000 * std::sin(0.3 * static_cast<double>(i)) +
                               3000 * std::sin(0.0071 * static_cast<double>(i * i % 99991)));
    sf_write_short(flac, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(flac);
}

// A FLAC whose header claims 2^36 - 1 samples for its 1 s: STREAMINFO follows "fLaC" and its
// 4-byte block header; the total sample count is the last 4 bits of its byte 13 and bytes
// 14..17.
inline void write_lying_flac(const fs::path& path) {
    write_flac(path, 1.0);
    std::string bytes = read_bytes(path);
    bytes[8 + 13] = static_cast<char>(bytes[8 + 13] | 0x0f);
    for (int i = 0; i < 4; ++i) bytes[8 + 14 + i] = static_cast<char>(0xff);
    write_bytes(path, bytes);
}

// The bytes of a file with a stretch from `at` (a share of its length, 0..1) turned to noise:
// a decoder loses sync there.
inline std::string corrupted(const std::string& bytes, double at, std::size_t length = 3000) {
    std::string out = bytes;
    const auto start = static_cast<std::size_t>(at * static_cast<double>(out.size()));
    for (std::size_t i = start; i < std::min(out.size(), start + length); ++i)
        out[i] = static_cast<char>(out[i] ^ 0x5a);
    return out;
}

class Dir : public ::testing::Test {
  protected:
    std::string path(const char* name) const { return temp.path(name).string(); }
    std::vector<std::string> names() const { return temp.names(); }
    tarpo::test::TempDir temp{"tarpo-hostile"};
    const fs::path dir = temp.dir();
};

}  // namespace hostile
