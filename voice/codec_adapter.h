// voice/: between the 48 kHz sound blocks and the speech codec, and the test frames.
// Second floor: it may include the floors below and reaches the codec through external/codec.h.
// Between the 48000 Hz sound blocks and the speech codec's 40 ms frames at 8000 Hz: the
// microphone block is decimated by 6 and encoded into 54 voice bits; a received frame's bits
// are decoded and interpolated by 6 back to a 48000 Hz block.
#pragma once

#include <array>
#include <cstdint>

#include "dsp/rate_convert.h"
#include "modem/constants.h"

namespace tarpo::voice {

// What the adapter needs of a speech codec: the codec library's four entries. Other
// implementations stand in for it in tests and carry test frames in place of speech.
class SpeechCodec {
  public:
    virtual ~SpeechCodec() = default;
    virtual void ana_init() = 0;
    virtual void syn_init() = 0;
    virtual void encode(const short* speech, unsigned char* bits) = 0;  // 320 samples -> 54
    virtual void decode(const unsigned char* bits, short* speech) = 0;  // 54 -> 320 samples
    // The same frame as 54 log-likelihood ratios (positive: bit 1). Returns true when the
    // codec concealed the frame as noise. By default the hard decisions through decode.
    virtual bool decode_soft(const float* llr, short* speech);
    // Whether decode_soft recognises a frame of noise by its ratios and conceals it; then
    // frames that come while the squelch is briefly shut may go to it too.
    virtual bool conceals_noise() const { return false; }
};

// The codec library linked into the program (one encoder and one decoder stream).
class LinkedCodec final : public SpeechCodec {
  public:
    void ana_init() override;
    void syn_init() override;
    void encode(const short* speech, unsigned char* bits) override;
    void decode(const unsigned char* bits, short* speech) override;
    bool decode_soft(const float* llr, short* speech) override;
    bool conceals_noise() const override { return true; }
};

class CodecAdapter {
  public:
    static constexpr int codec_samples = 320;  // 40 ms at 8000 Hz

    explicit CodecAdapter(SpeechCodec& codec) : codec_(codec) {}

    // Sets up the encoder's and the decoder's state, once before any block.
    void init();

    // mic: 1920 samples at 48000 Hz; bits: the 64-byte voice-bit buffer, bytes 0..53 written.
    void encode_block(const std::int16_t* mic, std::uint8_t* bits);

    // bits: 56 bytes, 0..53 the received voice bits; out: 1920 samples at 48000 Hz.
    void decode_block(const std::uint8_t* bits, std::int16_t* out);
    // The same from the receiver's log-likelihood ratios of the 54 voice bits (positive: 1),
    // each multiplied by trust (below 1: the ratios are believed less than they claim).
    void decode_block_soft(const double* llr, std::int16_t* out, double trust = 1.0);
    bool conceals_noise() const { return codec_.conceals_noise(); }

  private:
    void interpolate(std::int16_t* out);  // decoder_output_ to 1920 samples at 48000 Hz

    SpeechCodec& codec_;
    dsp::Decimator6 decimator_;
    dsp::Interpolator6 interpolator_;
    std::array<std::int16_t, codec_samples> encoder_input_{};
    std::array<std::int16_t, codec_samples> decoder_output_{};
    std::array<float, modem::voice_bits_per_frame> llr_{};
};

}  // namespace tarpo::voice
