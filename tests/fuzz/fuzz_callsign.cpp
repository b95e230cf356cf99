// The callsign channel's receiver: any dibit stream (four to a byte) must give a terminated
// text of at most 80 characters, and a sender's text must come through after any noise.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "modem/callsign.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tarpo::modem::CallsignChannel receiver;
    char text[tarpo::modem::CallsignChannel::max_text + 8];
    for (std::size_t i = 0; i < size; ++i) {
        for (int d = 0; d < 4; ++d) receiver.receive_dibit((data[i] >> (2 * d)) & 3);
        std::memset(text, 'x', sizeof text);
        const int n = receiver.take_text(text);
        if (n < 0 || n > tarpo::modem::CallsignChannel::max_text) std::abort();
        if (n > 0 && (text[n - 1] != '\0' || std::strlen(text) != static_cast<std::size_t>(n - 1)))
            std::abort();
    }
    // Then a real sender, twice over: the receiver must find the text whatever came before.
    tarpo::modem::CallsignChannel sender;
    char call[] = "DL1ABC";
    sender.set_text(call);
    for (int i = 0; i < 2 * tarpo::modem::CallsignChannel::max_sequence; ++i)
        receiver.receive_dibit(sender.next_dibit());
    if (receiver.take_text(text) != 7 || std::strcmp(text, "DL1ABC") != 0) std::abort();
    return 0;
}
