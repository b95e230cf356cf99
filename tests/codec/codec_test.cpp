#include "external/codec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "codec/decoder.h"
#include "codec/encoder.h"
#include "signals.h"

namespace tarpo::codec {
namespace {

using test::rms_db;
using test::to_pcm;

// Input sample t comes out of the decoder at t + delay_samples.
constexpr std::size_t delay_samples = Encoder::lookahead + Decoder::delay_samples;

struct CodecRun {
    std::vector<std::uint8_t> bits;
    std::vector<std::int16_t> out;
};

// Input through a fresh encoder and decoder; the length is rounded up to whole frames.
CodecRun run_codec(const std::vector<std::int16_t>& in) {
    Encoder enc;
    Decoder dec;
    const std::size_t frames = (in.size() + frame_samples - 1) / frame_samples;
    std::vector<std::int16_t> pcm(in);
    pcm.resize(frames * frame_samples, 0);
    CodecRun r{std::vector<std::uint8_t>(frames * frame_bits),
               std::vector<std::int16_t>(pcm.size())};
    for (std::size_t f = 0; f < frames; ++f) {
        std::uint8_t* const bits = r.bits.data() + f * frame_bits;
        enc.encode(pcm.data() + f * frame_samples, bits);
        dec.decode(bits, r.out.data() + f * frame_samples);
    }
    return r;
}

// The period of a steady stretch of output, in Hz: the shortest lag whose normalised
// autocorrelation is within 10 % of the best one (a slow, obvious method that does not
// share code with the encoder's estimator), refined by a parabola.
double measured_pitch(const std::int16_t* x, std::size_t n) {
    std::vector<double> c(201, 0.0);
    const std::size_t len = n - 200;
    for (std::size_t lag = 16; lag <= 200; ++lag) {
        double xy = 0, xx = 0, yy = 0;
        for (std::size_t i = 0; i < len; ++i) {
            xy += double(x[i]) * x[i + lag];
            xx += double(x[i]) * x[i];
            yy += double(x[i + lag]) * x[i + lag];
        }
        c[lag] = xy / std::sqrt(xx * yy + 1e-9);
    }
    double top = 0.0;
    for (std::size_t lag = 17; lag < 200; ++lag) top = std::max(top, c[lag]);
    for (std::size_t lag = 17; lag < 200; ++lag) {
        if (c[lag] >= 0.9 * top && c[lag] >= c[lag - 1] && c[lag] >= c[lag + 1]) {
            const double den = c[lag - 1] - 2 * c[lag] + c[lag + 1];
            const double off = den < 0 ? 0.5 * (c[lag - 1] - c[lag + 1]) / den : 0.0;
            return 8000.0 / (lag + off);
        }
    }
    return 0.0;
}

// Peaks of the order-10 LPC envelope of a stretch of output, Hz.
std::vector<double> envelope_peaks(const std::int16_t* x, std::size_t n) {
    std::vector<double> w(n);
    for (std::size_t i = 0; i < n; ++i)
        w[i] = x[i] * (0.54 - 0.46 * std::cos(2 * pi * (i + 0.5) / n)) / 32768.0;
    Lpc a{};
    levinson(autocorrelate(w.data(), w.size()), a);
    std::vector<double> mag(400);
    for (std::size_t k = 0; k < mag.size(); ++k)
        mag[k] = 1.0 / std::abs(lpc_response(a, pi * (k + 0.5) / mag.size()));
    std::vector<double> peaks;
    for (std::size_t k = 1; k + 1 < mag.size(); ++k)
        if (mag[k] > mag[k - 1] && mag[k] >= mag[k + 1])
            peaks.push_back(4000.0 * (k + 0.5) / mag.size());
    return peaks;
}

TEST(Codec, SteadyVowelKeepsItsPitchAndFormants) {
    struct Case {
        double f0;
        std::array<double, 3> formants;
    };
    // Low male to high female pitch; open, front and back vowels.
    for (const Case& c : {Case{85.0, {700, 1220, 2600}}, Case{120.0, {730, 1090, 2440}},
                          Case{210.0, {310, 2200, 2960}}, Case{250.0, {600, 1000, 2600}}}) {
        const auto in = to_pcm(test::vowel(c.f0, c.formants, 8000));
        const CodecRun r = run_codec(in);
        // Judge the second half: well past start-up and the codec delay.
        const std::int16_t* steady = r.out.data() + 4000;
        const double f0 = measured_pitch(steady, 2400);
        EXPECT_NEAR(f0 / c.f0, 1.0, 0.02) << "pitch " << c.f0 << " Hz came out at " << f0;
        const auto peaks = envelope_peaks(steady, 2400);
        for (const double fm : c.formants) {
            // A formant may sit between harmonics: its peak may move by up to one harmonic
            // spacing, or 15 % where the harmonics are dense (the envelope's lowest three
            // frequencies share one 8-bit codebook).
            const double tol = std::max(c.f0, 0.15 * fm);
            double nearest = 1e9;
            for (double p : peaks) nearest = std::min(nearest, std::abs(p - fm));
            EXPECT_LT(nearest, tol) << "formant " << fm << " Hz lost at f0 " << c.f0;
        }
        // And the level comes through: -20 dBFS in, within the 2 dB energy step plus a
        // little for the vowel's decay within the analysis windows.
        EXPECT_NEAR(rms_db(steady, 2400), -20.0, 2.5);
    }
}

TEST(Codec, SilenceAndNearSilenceStaySilent) {
    std::vector<std::int16_t> zeros(8000, 0);
    for (auto s : run_codec(zeros).out) ASSERT_EQ(s, 0);
    // One-LSB dither (-96 dBFS) is below the lowest energy level.
    std::mt19937 rng(1);
    std::vector<std::int16_t> dither(8000);
    for (auto& s : dither) s = static_cast<std::int16_t>(int(rng() % 3) - 1);
    const auto out = run_codec(dither).out;
    const double limit = 32768.0 * std::pow(10.0, -60.0 / 20.0);
    for (auto s : out) ASSERT_LE(std::abs(s), limit);
}

TEST(Codec, LowFrequencyRumbleInPausesIsNotPlayedAsAHarmonicComb) {
    // Mains hum at 50 Hz and traffic rumble below 60 Hz at about
    // -30 dBFS, with a faint hiss: what a microphone picks up between words.
    const std::size_t n = 40 * frame_samples;
    auto rumble = test::white_noise(n, 0.05, 5);
    double lp = 0.0;
    for (double& v : rumble) v = lp += 0.047 * (v - lp);  // one pole at ~60 Hz
    const auto hiss = test::white_noise(n, 0.0003, 6);
    std::vector<double> x(n);
    for (std::size_t i = 0; i < n; ++i)
        x[i] = 0.02 * std::sin(2 * pi * 50.0 * i / 8000.0) + rumble[i] + hiss[i];
    const auto out = run_codec(to_pcm(x)).out;
    for (std::size_t f = 4; f + 1 < 40; ++f) {
        const std::int16_t* s = out.data() + f * frame_samples;
        if (rms_db(s, frame_samples) < -55.0) continue;  // quiet enough not to matter
        // A comb has harmonics all the way up: judged on the second difference (+12 dB per
        // octave), so that rumble played back as the low-pitched noise it is does not count.
        std::vector<double> v(frame_samples - 2);
        for (std::size_t i = 0; i < v.size(); ++i) v[i] = s[i + 2] - 2.0 * s[i + 1] + s[i];
        double top = 0.0;
        for (std::size_t lag = 20; lag <= 160; ++lag) {
            double xy = 0, xx = 0, yy = 0;
            for (std::size_t i = 0; i + lag < v.size(); ++i) {
                xy += v[i] * v[i + lag];
                xx += v[i] * v[i];
                yy += v[i + lag] * v[i + lag];
            }
            top = std::max(top, xy / std::sqrt(xx * yy + 1e-9));
        }
        EXPECT_LT(top, 0.5) << "frame " << f << " at " << rms_db(s, frame_samples) << " dBFS, in "
                            << rms_db(to_pcm(x).data() + f * frame_samples, frame_samples);
    }
}

TEST(Codec, EnergyFollowsA20dBStepWithinTwoFrames) {
    // Noise at -40 dBFS for 30 frames, then -20 dBFS; and the step down again.
    for (const bool up : {true, false}) {
        auto x = test::white_noise(60 * frame_samples, 0.01, 9);
        for (std::size_t i = 0; i < x.size(); ++i)
            if ((i >= 30 * frame_samples) == up) x[i] *= 10.0;
        const auto out = run_codec(to_pcm(x)).out;
        const double before = up ? -40.0 : -20.0, after = up ? -20.0 : -40.0;
        // The step reaches the output in frame `arrival`, part way through it; the frames
        // before are at the old level, and two frames on the new level must hold.
        const std::size_t arrival = (30 * frame_samples + delay_samples) / frame_samples;
        for (std::size_t f = 20; f < arrival; ++f)
            EXPECT_NEAR(rms_db(out.data() + f * frame_samples, frame_samples), before, 2.0) << f;
        for (std::size_t f = arrival + 2; f < 60; ++f)
            EXPECT_NEAR(rms_db(out.data() + f * frame_samples, frame_samples), after, 2.0) << f;
    }
}

TEST(Codec, RandomFramesNeverClipOrBlowUp) {
    // Hostile input: bytes of any value (only bit 0 counts), decoded back to back.
    Decoder dec;
    std::mt19937 rng(1234);
    std::array<std::uint8_t, frame_bits> bits{};
    std::array<std::int16_t, frame_samples> out{};
    const double limit = 32768.0 * std::pow(10.0, -1.0 / 20.0);  // -1 dBFS
    for (int f = 0; f < 400; ++f) {
        for (auto& b : bits) b = static_cast<std::uint8_t>(rng());
        dec.decode(bits.data(), out.data());
        for (auto s : out) ASSERT_LE(std::abs(int(s)), limit) << "frame " << f;
    }
}

TEST(Codec, DeadChannelFramesAreQuiet) {
    // All zeros or all ones, even with one bit wrong, after loud speech: the decoder's delay
    // plays one more speech frame, the first dead frame fades out, the second is silence.
    const auto speech = to_pcm(test::vowel(150.0, {700, 1200, 2500}, 10 * frame_samples, -12.0));
    for (const int fill : {0, 1}) {
        for (const int flipped : {-1, 0, 53}) {
            Encoder enc;
            Decoder dec;
            std::array<std::uint8_t, frame_bits> bits{};
            std::array<std::int16_t, frame_samples> out{};
            for (std::size_t f = 0; f < 10; ++f) {
                enc.encode(speech.data() + f * frame_samples, bits.data());
                dec.decode(bits.data(), out.data());
            }
            for (int k = 0; k < 3; ++k) {
                bits.fill(static_cast<std::uint8_t>(fill));
                if (flipped >= 0) bits[flipped] ^= 1;
                dec.decode(bits.data(), out.data());
            }
            for (auto s : out) ASSERT_EQ(s, 0) << "fill " << fill << " flipped " << flipped;
        }
    }
}

TEST(Codec, OneBitErrorInSilenceMakesNoLoudBurst) {
    // Every single-bit error in a frame surrounded by silence: the rise limit keeps the
    // damaged frame at least 25 dB below full scale (floor -60 dBFS + 30 dB rise, plus 5 dB
    // for the limiter-free peak-to-RMS of one frame).
    Encoder enc;
    std::array<std::int16_t, frame_samples> zeros{};
    std::array<std::uint8_t, frame_bits> silent{};
    enc.encode(zeros.data(), silent.data());
    for (std::size_t bit = 0; bit < frame_bits; ++bit) {
        Decoder dec;
        std::array<std::int16_t, frame_samples> out{};
        dec.decode(silent.data(), out.data());
        auto bad = silent;
        bad[bit] ^= 1;
        double worst = -200.0;
        for (int k = 0; k < 4; ++k) {
            dec.decode((k == 0 ? bad : silent).data(), out.data());
            worst = std::max(worst, rms_db(out.data(), out.size()));
        }
        EXPECT_LT(worst, -25.0) << "bit " << bit;
    }
}

TEST(Codec, IsBitExactlyDeterministicAndTheCEntryPointsMatchTheClasses) {
    auto x = test::vowel(130.0, {600, 1400, 2400}, 12 * frame_samples);
    const auto n = test::white_noise(12 * frame_samples, 0.02, 4);
    x.insert(x.end(), n.begin(), n.end());
    const auto in = to_pcm(x);
    const CodecRun a = run_codec(in);
    const CodecRun b = run_codec(in);
    EXPECT_EQ(a.bits, b.bits);
    EXPECT_EQ(a.out, b.out);

    // Twice through the C interface, re-initialised in between: the same stream again.
    for (int pass = 0; pass < 2; ++pass) {
        ana_init();
        syn_init();
        std::vector<std::uint8_t> bits(a.bits.size() + 2, 0);
        std::vector<std::int16_t> out(a.out.size());
        for (std::size_t f = 0; f < in.size() / frame_samples; ++f) {
            // encode writes bytes 0..53 only; the two after are the caller's.
            bits[f * frame_bits + frame_bits] = 0xAA;
            encode(in.data() + f * frame_samples, bits.data() + f * frame_bits);
            EXPECT_EQ(bits[f * frame_bits + frame_bits], 0xAA);
            decode(bits.data() + f * frame_bits, out.data() + f * frame_samples);
        }
        bits.resize(a.bits.size());
        EXPECT_EQ(bits, a.bits);
        EXPECT_EQ(out, a.out);
    }
}

TEST(Codec, EncoderPitchTracksAGlide) {
    // A vowel whose pitch glides from 100 to 200 Hz over 1.2 s: the encoder's estimate
    // follows without octave jumps (each frame within 5 %: the glide moves 2.3 % per frame
    // and the estimate is for one instant of it).
    const std::size_t frames = 30;
    auto x = test::impulse_train(100.0, 200.0, frames * frame_samples);
    test::formant_filter(x, {650, 1100, 2500});
    test::set_level(x, -18.0);
    Encoder enc;
    const auto pcm = to_pcm(x);
    for (std::size_t f = 0; f < frames; ++f) {
        enc.analyse(pcm.data() + f * frame_samples);
        if (f < 3) continue;
        const double t = double((f + 1) * frame_samples - delay_samples) / x.size();
        const double want = 100.0 * std::pow(2.0, t);
        EXPECT_NEAR(enc.last_analysis().pitch_hz / want, 1.0, 0.05) << "frame " << f;
    }
}

}  // namespace
}  // namespace tarpo::codec
