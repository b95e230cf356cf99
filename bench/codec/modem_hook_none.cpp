#include "modem_hook.h"

namespace tarpo::bench {

// Built without the voice path: the benchmark prints "n/a" in the modem column.
SpeechChannel modem_channel_6db() {
    return {};
}

}  // namespace tarpo::bench
