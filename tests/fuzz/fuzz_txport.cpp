// txport.bin: any bytes into the port choice, which is the file's first byte or NUL.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "ptt/ptt.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;  // fmemopen refuses an empty buffer
    std::FILE* file = fmemopen(const_cast<std::uint8_t*>(data), size, "r");
    if (!file) return 0;
    const char choice = tarpo::ptt::read_port_choice(file);
    std::fclose(file);
    if (choice != static_cast<char>(data[0])) std::abort();
    return 0;
}
