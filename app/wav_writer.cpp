#include "app/wav_writer.h"

#include <algorithm>
#include <cstring>

namespace tarpo::app {

namespace {

void little_endian32(unsigned char* at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(v >> (8 * i));
}

}  // namespace

bool WavWriter::open(const std::string& path, int rate, std::string& error) {
    data_bytes_ = 0;
    if (!out_.open(path, error)) return false;
    unsigned char header[44] = {'R', 'I', 'F', 'F', 0,  0, 0, 0, 'W', 'A', 'V', 'E',
                                'f', 'm', 't', ' ', 16, 0, 0, 0, 1,   0,   1,   0};
    little_endian32(header + 4, 0xffffffffu);  // the sizes of a stream of unknown length
    little_endian32(header + 24, static_cast<std::uint32_t>(rate));
    little_endian32(header + 28, static_cast<std::uint32_t>(rate) * 2);
    header[32] = 2;   // bytes per frame
    header[34] = 16;  // bits per sample
    std::memcpy(header + 36, "data", 4);
    little_endian32(header + 40, 0xffffffffu);
    return out_.write(header, sizeof header, error);
}

bool WavWriter::write(const std::int16_t* samples, std::size_t n, std::string& error) {
    unsigned char bytes[2048];
    while (n > 0) {
        const std::size_t take = std::min(n, sizeof bytes / 2);
        for (std::size_t i = 0; i < take; ++i) {
            const auto v = static_cast<std::uint16_t>(samples[i]);
            bytes[2 * i] = static_cast<unsigned char>(v & 0xff);
            bytes[2 * i + 1] = static_cast<unsigned char>(v >> 8);
        }
        if (!out_.write(bytes, 2 * take, error)) return false;
        data_bytes_ += 2 * take;
        samples += take;
        n -= take;
    }
    return true;
}

bool WavWriter::finish(std::string& error) {
    if (out_.rewritable()) {
        // A WAV file counts its bytes in 32 bits; the 4-hour input limit keeps far below.
        unsigned char size[4];
        little_endian32(size, static_cast<std::uint32_t>(data_bytes_ + 36));
        const bool riff = out_.write_at(4, size, 4);
        little_endian32(size, static_cast<std::uint32_t>(data_bytes_));
        if (!riff || !out_.write_at(40, size, 4)) {
            error = "cannot write the file's header";
            out_.discard();
            return false;
        }
    }
    return out_.commit(error);
}

}  // namespace tarpo::app
