// Soft-decision decoding: the receiver's log-likelihood ratio for each of the 54 bits in, 320
// samples out, through the same synthesis as the hard decoder.
//
// Every quantised parameter (a field of the frame) is estimated from the likelihoods of all
// its possible indices (the product over its bits, through its Gray or plain code) times a
// prior trained on real speech: how likely each index is after the index the same parameter
// had one step before (energy and voicing step by 20 ms half frames, pitch and each envelope
// codebook by frames). The forward recursion over those chains gives each frame's
// posterior; because the decoder holds one frame back anyway, the frame about to be played
// is revised with the next frame's evidence (one step of backward recursion) at no extra
// delay. Ordered values (energy and its 10/30 ms offsets in dB, log pitch, the line spectral
// frequencies of the end-of-frame envelope and the middle envelope's offsets from the mean of
// its neighbours, averaged over their codebook entries) take the posterior mean, which
// minimises the squared error; the voicing level, where an in-between value makes no sense,
// the likeliest index (an envelope so estimated is not mended further by the synthesis). The
// end envelope's codebooks (256 and 64 entries) have far more transitions than training
// counts well, so each transition counted is shared out among the entries close to its two
// ends (a Gaussian kernel of their distance); building that costs about 25 ms, once.
// A parity check is evidence about the bits it covers: when it fails, the field whose index
// fits its track worst takes the blame (each bit is under a set of checks of its own, so the
// failures together point at few bits). Closely tied fields of a frame (joint_tree: the
// envelope's codebooks, voicing, energy, pitch) are evidence about each other: how often each
// index came with each index of its pair in the same frame, passed up the tree and down again.
// A frame whose bits are mostly noise is concealed: the last good parameters with decaying
// energy; when the frame after it is readable, it is estimated after all from its bits and
// both neighbours.
//
// With very reliable bits the estimate is the hard decoder's: the same output sample for
// sample. Non-finite ratios count as no information.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "codec/codec_constants.h"
#include "codec/decoder.h"
#include "codec/quantiser.h"

namespace tarpo::codec {

// A track is one parameter's chain of indices in time: energy, its 10/30 ms offsets and
// voicing step by half frames; pitch and every envelope codebook by frames.
inline constexpr std::size_t track_count = 4 + lsf_groups + lsf_mid_groups;
constexpr std::size_t track_of(const Field& f) {
    const auto slot = static_cast<std::size_t>(f.slot);
    switch (f.kind) {
        case FieldKind::energy:
            return 0;
        case FieldKind::energy_mid:
            return 1;
        case FieldKind::voicing:
            return 2;
        case FieldKind::pitch:
            return 3;
        case FieldKind::lsf:
            return 4 + slot;
        default:
            return 4 + lsf_groups + slot;
    }
}
// Whether a field's track has two steps per frame, one per half frame.
constexpr bool steps_by_halves(const Field& f) {
    return f.kind == FieldKind::energy || f.kind == FieldKind::energy_mid ||
           f.kind == FieldKind::voicing;
}
// Half frame (0, 1) of a field on a track with two steps per frame, else 0.
constexpr std::size_t step_of(const Field& f) {
    return steps_by_halves(f) ? static_cast<std::size_t>(f.slot) : 0;
}

// Position of a field in frame_fields.
constexpr std::size_t field_at(FieldKind kind, int slot) {
    for (std::size_t i = 0; i < frame_fields.size(); ++i)
        if (frame_fields[i].kind == kind && frame_fields[i].slot == slot) return i;
    return frame_fields.size();
}
// Index levels of the field at position field of frame_fields.
constexpr std::size_t field_levels(std::size_t field) {
    return std::size_t{1} << frame_fields[field].bits;
}
// Pairs of fields of one frame whose indices are closely tied (positions in frame_fields),
// trained jointly: a tree around the low end-of-frame envelope codebook, which tells much
// about the other codebooks, the voicing and the pitch; the energies hang on the voicing of
// their half, the 10/30 ms offsets on the energies and the middle envelope's codebooks on the
// end envelope's. Every pair's first field is the tree's root or some earlier pair's second.
struct JointPair {
    std::size_t first, second;
};
inline constexpr std::array<JointPair, 11> joint_tree = {{
    {field_at(FieldKind::lsf, 0), field_at(FieldKind::lsf, 1)},
    {field_at(FieldKind::lsf, 1), field_at(FieldKind::lsf, 2)},
    {field_at(FieldKind::lsf, 0), field_at(FieldKind::voicing, 1)},
    {field_at(FieldKind::voicing, 1), field_at(FieldKind::energy, 1)},
    {field_at(FieldKind::lsf, 0), field_at(FieldKind::voicing, 0)},
    {field_at(FieldKind::voicing, 0), field_at(FieldKind::energy, 0)},
    {field_at(FieldKind::lsf, 0), field_at(FieldKind::pitch, 0)},
    {field_at(FieldKind::lsf, 0), field_at(FieldKind::lsf_mid, 0)},
    {field_at(FieldKind::lsf, 2), field_at(FieldKind::lsf_mid, 1)},
    {field_at(FieldKind::energy, 0), field_at(FieldKind::energy_mid, 0)},
    {field_at(FieldKind::energy, 1), field_at(FieldKind::energy_mid, 1)},
}};
// Whether the field at position field of frame_fields is in a pair of joint_tree.
constexpr bool in_joint_tree(std::size_t field) {
    for (const JointPair& e : joint_tree)
        if (e.first == field || e.second == field) return true;
    return false;
}

constexpr std::size_t most_field_levels() {
    std::size_t m = 0;
    for (const Field& f : frame_fields) m = std::max(m, std::size_t{1} << f.bits);
    return m;
}
inline constexpr std::size_t max_levels = most_field_levels();

// Whether codec/tables/soft_priors.h was made for this frame layout (else every transition
// counts alike until bench/codec/soft_train has run again). These and the two below are
// defined in soft_statistics.cpp.
bool soft_priors_fit();
// The same for codec/tables/soft_joint_priors.h and joint_tree (else the fields of a frame
// say nothing about each other).
bool soft_joint_priors_fit();
// P(second = j | first = i) for a pair of joint_tree, pulled towards the overall
// probabilities as transitions are.
double joint_prob(std::size_t pair, int first, int second);

// Energies averaged over likely indices: silence (index 0, or below) counts two steps below
// the lowest level, and a mean below half a step under the lowest level is silence again.
double energy_for_mean(int index);
double energy_from_mean(double mean_db);

// P(to | from) one step along a track: the trained counts, with the end envelope's shared out
// among close codebook entries first (with 256 entries most transitions were seen a few times
// or never, and a voice the tables never heard follows close entries alike), each row pulled
// towards the overall index probabilities so that no change is impossible (every index alike
// where the priors do not fit). from and to must be valid indices of the track.
double shared_transition_prob(std::size_t track, int from, int to);

class SoftDecoder {
  public:
    SoftDecoder();

    // llr: log P(bit = 1) / P(bit = 0) per bit, transmission order; any value (NaN and
    // infinities are no information). Writes 320 samples, one frame behind as the hard
    // decoder. Returns true when this frame was concealed.
    bool decode(const float* llr, std::int16_t* speech);
    // Hard bits through the plain decoder, on the same stream.
    void decode(const std::uint8_t* bits, std::int16_t* speech);

    // Mean bit error probability above which a frame counts as noise and is concealed.
    static constexpr double conceal_above = 0.25;
    // Energy fall per 20 ms half frame while concealing, dB.
    static constexpr double conceal_decay_db = 4.0;
    // The receiver's ratios are weighed by this much against the priors: in fading they lean
    // to caution (70-93 % of the errors they predict come), and soft decoding on the tuning
    // voices over a fading path gained by trusting them more.
    static constexpr double llr_weight = 1.3;
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
        Probs pred{};  // the new frame's first step, predicted from the held-back frame
    };

    void sanitise(const float* llr);
    // Each track's new first step predicted from the held-back frame (Track::pred).
    void predict_first_steps();
    // The likelihoods of the parity-covered fields times what their tracks predict.
    void predict_covered(std::array<Probs, field_count>& belief) const;
    void add_parity_evidence();
    // What each check says of each field: the weight of its indices whose bits under the
    // check sum to 0, and to 1 ({1, 1} for a field the check does not cover).
    using CheckMessages = std::array<std::array<std::array<double, 2>, field_count>, parity_bits>;
    static constexpr int parity_rounds = 3;
    // P(the bits of field j under check k sum to 1), by its belief and the other checks.
    static double odd_share(const Probs& belief, const CheckMessages& msg, std::size_t j, int k);
    // Each check's messages anew from the fields' beliefs and the others' last messages.
    void parity_round(const std::array<Probs, field_count>& belief, CheckMessages& msg) const;
    void likelihoods();
    // What the fields of joint_tree say about each other.
    void add_joint_evidence();
    // The held-back frame's posterior revised with the new frame's likelihoods.
    void revise(Track& t);
    // The new frame's filtered posterior.
    void advance(Track& t);
    Decoder::Params estimate(bool smoothed_posterior, const Decoder::Params& hard) const;
    Decoder::Params concealed();

    Decoder decoder_;
    std::array<Track, track_count> tracks_{};
    std::array<double, frame_bits> llr_{};
    // add_joint_evidence's messages: up each pair of joint_tree, down to each field.
    std::array<Probs, joint_tree.size()> up_{};
    std::array<Probs, field_count> down_{};
    bool started_ = false;  // the tracks hold the held-back frame's posterior
    bool pending_concealed_ = false;
    Decoder::Params last_good_{};  // the last estimate not concealed
    Decoder::Params pending_hard_{};
    double conceal_db_ = -INFINITY;
};

}  // namespace tarpo::codec
