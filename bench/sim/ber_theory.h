// The bit-error rate of an ideal differential detector for the modem's dibit mapping, and the
// curve arithmetic the bit-error-rate benchmark needs (Eb/N0 at a given BER, implementation
// loss).
//
// The modem sends dibit k (0..3) as a phase advance of k quarter turns: natural binary, no Gray
// code. The ideal detector sees two consecutive matched-filter samples of one carrier, each
// with independent complex Gaussian noise, and decides the nearest quarter turn of the phase
// advance between them. With P1 the probability of landing one quarter turn off (either way,
// each) and P2 two quarter turns off:
//   symbol error  Ps = 2 P1 + P2
//   Gray BER      Ph = P1 + P2   (the advance falls beyond a line 45 degrees from the true one)
//   natural BER   = (1.5 * 2 P1 + 1 * P2) / 2 = Ps - Ph / 2
// since a one-quarter error flips one bit for 0<->1 and 2<->3 but two bits for 1<->2 and 3<->0
// (1.5 on average) and a half-turn error flips exactly one bit (0<->2, 1<->3).
#pragma once

#include <cstdint>
#include <span>

namespace tarpo::bench {

// Symbol-error probability of M-ary differential PSK with differential detection at symbol
// SNR es_n0 (linear, >= 0), M >= 2: Ps = 1/pi * integral over 0 .. pi - pi/M of
// exp(-es_n0 sin^2(pi/M) / (1 + cos(pi/M) cos t)) dt.
double mdpsk_symbol_error(int m, double es_n0);

// Probability that the detected phase advance of DQPSK lands beyond the line 45 degrees from
// the true advance (Q1(a, b) - I0(ab) exp(-(a^2 + b^2) / 2) / 2 with
// a^2 = es_n0 (1 - 1/sqrt 2), b^2 = es_n0 (1 + 1/sqrt 2)): the BER of Gray-coded DQPSK.
double dqpsk_half_plane_error(double es_n0);

// The BER of the ideal differential detector with the modem's natural dibit mapping at
// es_n0 = 2 Eb/N0 (linear).
double dqpsk_natural_ber(double es_n0);

// The same against Eb/N0 in dB as the channel tool defines it: Eb is the whole received power
// (pilot included) over 1400 bit/s, and the ideal detector puts all of it into the data:
// Es/N0 = 2 Eb/N0.
double ideal_ber_at_ebno_db(double ebno_db);

// Eb/N0 in dB at which the ideal curve reaches `ber` (0 < ber < 0.375), by bisection.
double ideal_ebno_db_at_ber(double ber);

// Where a measured curve crosses `ber`: the first pair of neighbouring points (x ascending)
// whose BERs straddle it, interpolated linearly in log10(BER) against x (dB). NaN when the
// curve never crosses it; points with BER 0 end the search (their log is unbounded).
double crossing_db(std::span<const double> x_db, std::span<const double> ber, double target);

// A Monte-Carlo model of the ideal differential detector: a stream of unit-amplitude symbols
// advancing by random dibits times 90 degrees, complex Gaussian noise of variance 1 / es_n0 on
// each, the nearest quarter turn of each advance decided and its bits compared (natural
// mapping). Returns the BER over `symbols` decisions (2 bits each).
double ideal_ber_monte_carlo(double es_n0, std::uint64_t symbols, std::uint64_t seed);

}  // namespace tarpo::bench
