// The codec adapter's call contract, watched through a fake codec.
#include "voice/codec_adapter.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

#include "dsp/rate_convert.h"

namespace {

using tarpo::voice::CodecAdapter;

struct Watch {
    int ana = 0, syn = 0, encodes = 0, decodes = 0;
    std::array<std::int16_t, 320> encoded{};  // what encode was given
    const std::int16_t* out = nullptr;        // the block decode's samples will go to
    bool out_untouched_at_decode = false;
} watch;

struct FakeCodec : tarpo::voice::SpeechCodec {
    void ana_init() override { ++watch.ana; }
    void syn_init() override { ++watch.syn; }
    void encode(const short* speech, unsigned char* bits) override;
    void decode(const unsigned char* bits, short* speech) override;
};

void FakeCodec::encode(const short* speech, unsigned char* bits) {
    ++watch.encodes;
    std::copy_n(speech, 320, watch.encoded.begin());
    for (int i = 0; i < 54; ++i) bits[i] = static_cast<unsigned char>(i & 1);
}
void FakeCodec::decode(const unsigned char*, short* speech) {
    ++watch.decodes;
    bool untouched = true;
    for (int i = 0; i < 1920; ++i) untouched &= watch.out[i] == 12345;
    watch.out_untouched_at_decode = untouched;
    for (int i = 0; i < 320; ++i) speech[i] = 1000;
}

TEST(CodecAdapter, CallsTheCodecOncePerBlockAtTheRightMoment) {
    watch = {};
    FakeCodec codec;
    CodecAdapter adapter(codec);
    adapter.init();
    EXPECT_EQ(watch.ana, 1);
    EXPECT_EQ(watch.syn, 1);

    // Encoder input sample i is decimate6 of mic samples 6i..6i+5, computed with the history
    // of the previous block: compare two blocks with a separate decimator.
    tarpo::dsp::Decimator6 reference;
    std::array<std::uint8_t, 64> bits{};
    for (int block = 0; block < 2; ++block) {
        std::array<std::int16_t, 1920> mic{};
        for (int i = 0; i < 1920; ++i)
            mic[static_cast<std::size_t>(i)] =
                static_cast<std::int16_t>(8000 * std::sin(0.01 * (i + 1920 * block)));
        adapter.encode_block(mic.data(), bits.data());
        EXPECT_EQ(watch.encodes, block + 1);
        for (int i = 0; i < 320; ++i)
            ASSERT_EQ(watch.encoded[static_cast<std::size_t>(i)],
                      reference.decimate6(&mic[6 * static_cast<std::size_t>(i)]));
    }
    EXPECT_EQ(bits[1], 1);

    std::array<std::int16_t, 1920> out{};
    out.fill(12345);
    watch.out = out.data();
    std::array<std::uint8_t, 56> rx_bits{};
    for (int block = 0; block < 3; ++block) {
        out.fill(12345);
        adapter.decode_block(rx_bits.data(), out.data());
        EXPECT_TRUE(watch.out_untouched_at_decode);  // decode ran before any output sample
    }
    EXPECT_EQ(watch.decodes, 3);
    // A constant decoder output comes out at about the same value on all six phases.
    for (std::int16_t v : out) EXPECT_NEAR(v, 1000, 2);
}

}  // namespace
