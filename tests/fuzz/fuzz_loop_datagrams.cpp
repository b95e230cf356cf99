// Loop-device datagrams: any sequence of datagrams (each a length byte pair and its bytes)
// into the receiver's sample queue, blocks taken out between them, against a plain model:
// the queue holds the newest samples that fit, in arrival order.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>

#include "loop/loop_device.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tarpo::loop::SampleFifo fifo;
    const std::size_t capacity = 4 * 1920;
    fifo.reset(capacity);
    std::deque<std::int16_t> model;
    double block[1920];
    while (size >= 3) {
        const std::size_t wanted = static_cast<std::size_t>(data[0] | (data[1] << 8)) & 0x7fff;
        const bool take_block = data[1] & 0x80;
        data += 2;
        size -= 2;
        const std::size_t n = wanted < size ? wanted : size;
        fifo.push_le16(data, n);
        for (std::size_t i = 0; i + 1 < n; i += 2) {
            model.push_back(static_cast<std::int16_t>(data[i] | (data[i + 1] << 8)));
            if (model.size() > capacity) model.pop_front();
        }
        data += n;
        size -= n;
        if (fifo.size() != model.size()) std::abort();
        if (take_block && fifo.size() >= 1920) {
            fifo.pop(block, 1920);
            for (double v : block) {
                if (v != model.front()) std::abort();
                model.pop_front();
            }
        }
    }
    return 0;
}
