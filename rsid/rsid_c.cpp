// The C entries of the identification-burst library, each over one instance of its own.
// init_rsid runs on the user-interface thread at start-up, before the worker starts; the
// other entries run on the worker. The instances are made on first use, so init_rsid also
// moves the detector's transform planning to start-up.
#include "external/rsid.h"
#include "rsid/burst_encoder.h"
#include "rsid/detector.h"

namespace {

// Full level of the burst: 0.7 of 16-bit full scale. The burst is a single tone of constant
// envelope; the modem's own peaks reach about 0.78 of full scale, so at 0.7 the transmitter
// sees about 80 % of the modem's peak envelope power: as loud as the transmission that
// follows without driving the transmitter's audio harder than the modem does.
constexpr double burst_amplitude = 0.7 * 32767.0;
constexpr int block_samples = 1920;  // 40 ms at 48000 Hz

tarpo::rsid::Detector& detector() {
    static tarpo::rsid::Detector instance;
    return instance;
}

tarpo::rsid::Encoder& encoder() {
    static tarpo::rsid::Encoder instance(48000.0, burst_amplitude);
    return instance;
}

}  // namespace

extern "C" {

void init_rsid(void) {
    detector().reset();
    encoder().stop();
}

int rsid_check(const double* samples) {
    return detector().check(samples) ? 1 : 0;
}

double getrsfreq(void) {
    return detector().frequency();
}

void rsid_encode(double freq_hz) {
    encoder().start(freq_hz);
}

int rsid_get(short* block) {
    auto& enc = encoder();
    if (!enc.active()) return 0;
    static double scratch[block_samples];  // only the worker produces bursts
    enc.generate(scratch, block_samples);
    for (int i = 0; i < block_samples; ++i) {
        // Truncation toward zero, as every conversion to a 16-bit sample; the level keeps
        // the burst well inside the 16-bit range.
        block[i] = static_cast<short>(scratch[i]);
    }
    return 1;
}

}  // extern "C"
