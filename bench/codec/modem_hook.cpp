#include "modem_hook.h"

#include "app/speech_path.h"

namespace tarpo::bench {

SpeechChannel modem_channel_6db() {
    return [](const std::vector<double>& speech_8k) {
        return app::speech_through_modem(speech_8k, 6.0, 6);
    };
}

}  // namespace tarpo::bench
