// loop.txt: any text is either refused with the line named or gives ports the device can use.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "loop/loop_config.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string problem;
    const auto config = tarpo::loop::loop_config_parse(text, &problem);
    if (!config) {
        if (problem.rfind("line ", 0) != 0) std::abort();
        return 0;
    }
    if (config->rx_port < 1 || config->rx_port > 65535) std::abort();
    if (config->tx_port < 1 || config->tx_port > 65534) std::abort();
    return 0;
}
