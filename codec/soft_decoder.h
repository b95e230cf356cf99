// Soft-decision decoding: the receiver's log-likelihood ratio for each of the 54 bits in, 320
// samples out, through the same synthesis as the hard decoder.
//
// Every quantised parameter (a field of the frame) is estimated from the likelihoods of all
// its possible indices (the product over its bits, through its Gray or plain code) times a
// prior trained on real speech: how likely each index is after the index the same parameter
// had one step before (energy and voicing step by 20 ms half frames, pitch and each line
// spectral frequency by frames). The forward recursion over those chains gives each frame's
// posterior; because the decoder holds one frame back anyway, the frame about to be played
// is revised with the next frame's evidence (one step of backward recursion) at no extra
// delay. Ordered values (energy in dB, log pitch, line spectral frequencies) take the
// posterior mean, which minimises the squared error; the voicing level takes the likeliest
// index. The parity bit is evidence about the bits it covers. A frame whose bits are mostly
// noise is concealed: the last good parameters with decaying energy.
//
// With very reliable bits the estimate is the hard decoder's: the same output sample for
// sample. Non-finite ratios count as no information.
#ifndef TARPO_CODEC_SOFT_DECODER_H
#define TARPO_CODEC_SOFT_DECODER_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "codec/constants.h"
#include "codec/decoder.h"
#include "codec/quantiser.h"

namespace tarpo::codec {

// One quantised parameter as it travels in the frame.
enum class FieldKind { energy, voicing, pitch, lsf };
struct Field {
    FieldKind kind;
    int slot;       // half frame (energy, voicing) or the line spectral frequency's number
    int first_bit;  // position of its most significant bit in the frame
    int bits;
    bool gray;  // sent as a Gray code; else plain binary
};

inline constexpr std::size_t field_count = 5 + lpc_order;
// The frame's fields in transmission order.
const std::array<Field, field_count>& frame_fields();

// A track is one parameter's chain of indices in time: energy, voicing, pitch, then each line
// spectral frequency.
inline constexpr std::size_t track_count = 3 + lpc_order;
std::size_t track_of(const Field& f);
inline constexpr std::size_t max_levels = std::size_t{1} << pitch_bits;

class SoftDecoder {
  public:
    SoftDecoder();

    // llr: log P(bit = 1) / P(bit = 0) per bit, transmission order; any value (NaN and
    // infinities are no information). Writes 320 samples, one frame behind as the hard
    // decoder. Returns true when this frame was concealed.
    bool decode(std::span<const float, frame_bits> llr,
                std::span<std::int16_t, frame_samples> speech);
    // Hard bits through the plain decoder, on the same stream.
    void decode(std::span<const std::uint8_t, frame_bits> bits,
                std::span<std::int16_t, frame_samples> speech);

    // Mean bit error probability above which a frame counts as noise and is concealed.
    static constexpr double conceal_above = 0.25;
    // Energy fall per 20 ms half frame while concealing, dB.
    static constexpr double conceal_decay_db = 4.0;
    // Ratios are clipped to this magnitude; far enough that the other indices of a field have
    // probability exactly 0 in double precision.
    static constexpr double llr_limit = 1000.0;

  private:
    using Probs = std::array<double, max_levels>;
    struct Track {
        std::size_t levels = 0;
        std::size_t steps = 0;            // 1 or 2 per frame
        std::array<Probs, 2> alpha{};     // filtered posterior of the held-back frame
        std::array<Probs, 2> lik{};       // its likelihoods
        std::array<Probs, 2> next_lik{};  // the new frame's
        std::array<Probs, 2> smoothed{};  // the held-back frame's, revised
    };

    void sanitise(std::span<const float, frame_bits> llr);
    void add_parity_evidence();
    void likelihoods();
    // The held-back frame's posterior revised with the new frame's likelihoods.
    void revise(Track& t);
    // The new frame's filtered posterior.
    void advance(Track& t);
    Decoder::Params estimate(bool smoothed_posterior, const Decoder::Params& hard) const;
    Decoder::Params concealed();

    Decoder decoder_;
    std::array<Track, track_count> tracks_{};
    std::array<double, frame_bits> llr_{};
    std::array<int, frame_bits> parity_set_{};  // bits of the parity check, then -1
    bool started_ = false;                      // the tracks hold the held-back frame's posterior
    bool pending_concealed_ = false;
    Decoder::Params last_good_{};  // the last estimate not concealed
    Decoder::Params pending_hard_{};
    double conceal_db_ = -INFINITY;
};

}  // namespace tarpo::codec

#endif
