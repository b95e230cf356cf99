// Sound files that lie, are cut short or hold numbers that are not samples: every verb gives
// one line and exit status 2, quickly, without a crash and without holding memory the file
// does not justify.
#include <sys/resource.h>

#include <chrono>

#include "sound/sound_file.h"
#include "hostile.h"
#include "sim/channel.h"

namespace {

using namespace hostile;

TEST_F(Dir, HeadersThatClaimHugeLengthsAreReadToTheirRealEnd) {
    // A WAV whose data chunk claims 4 GB, piped in on standard input where its real size
    // cannot be seen, and a FLAC whose header claims 2^36 samples.
    write_bytes(dir / "lie.wav", wav_bytes(8000, tone(300, 1.0, 8000), 0, 0xfffffff0));
    Result r = run("codec - " + path("out.wav") + " < " + path("lie.wav"));
    EXPECT_EQ(r.status, 0) << r.out;

    SF_INFO info{};
    info.samplerate = 8000;
    info.channels = 1;
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    SNDFILE* flac = sf_open(path("lie.flac").c_str(), SFM_WRITE, &info);
    ASSERT_TRUE(flac);
    std::vector<short> samples(8000, 1000);
    sf_write_short(flac, samples.data(), 8000);
    sf_close(flac);
    std::fstream f(path("lie.flac"), std::ios::in | std::ios::out | std::ios::binary);
    // STREAMINFO follows "fLaC" and its 4-byte block header; the total sample count is its
    // last 4 bits of byte 13 and bytes 14..17.
    f.seekg(8 + 13);
    const char low = static_cast<char>(f.get() | 0x0f);
    f.seekp(8 + 13);
    f.put(low);
    for (int i = 0; i < 4; ++i) f.put(static_cast<char>(0xff));
    f.close();
    for (const char* verb : {"codec", "tx", "channel"}) {
        r = run(std::string(verb) + " " + path("lie.flac") + " " + path("out.wav"));
        EXPECT_TRUE(r.status == 0 || (r.status == 2 && one_line(r.out))) << verb << r.out;
    }
}

TEST_F(Dir, UnusableRatesAreRefusedInOurWordsBeforeAnyWork) {
    const std::vector<double> second = tone(440, 1.0, 8000);
    const struct {
        std::uint32_t rate;
        const char* words;
    } cases[] = {{0, "no usable sample rate"},
                 {4000000000u, "no usable sample rate"},
                 {1, "1 Hz cannot be used"},
                 {999, "999 Hz cannot be used"},
                 {500000, "500000 Hz cannot be used"}};
    for (const auto& c : cases) {
        write_bytes(dir / "in.wav", wav_bytes(c.rate, second));
        const auto start = std::chrono::steady_clock::now();
        const Result r = run("rx " + path("in.wav") + " " + path("out.wav"));
        EXPECT_EQ(r.status, 2) << c.rate;
        EXPECT_TRUE(one_line(r.out)) << r.out;
        EXPECT_NE(r.out.find(c.words), std::string::npos) << r.out;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        EXPECT_FALSE(fs::exists(path("out.wav")));
    }
}

TEST_F(Dir, EveryVerbRefusesSamplesThatAreNotNumbersAndSaysWhen) {
    for (const double bad : {NAN, INFINITY, -INFINITY}) {
        std::vector<double> samples = tone(1000, 1.0, 48000, 0.1);
        samples[36000] = bad;  // 0.75 s
        write_bytes(dir / "in.wav", wav_bytes(48000, samples, 4));
        for (const char* verb : {"tx", "rx", "codec", "channel"}) {
            const Result r = run(std::string(verb) + " " + path("in.wav") + " " + path("o.wav"));
            EXPECT_EQ(r.status, 2) << verb;
            EXPECT_TRUE(one_line(r.out)) << verb << ": " << r.out;
            EXPECT_NE(r.out.find("0.750000 s is not a finite number"), std::string::npos) << r.out;
            EXPECT_EQ(names(), std::vector<std::string>{"in.wav"});
        }
    }
}

TEST(SoundReader, StreamedResamplingMatchesTheWholeFileConversion) {
    // Pieces of every size against one conversion of the whole signal: the chunk seams must
    // not show. 44.1 kHz has no short ratio to 48 kHz.
    std::vector<double> signal = tone(997, 2.0, 44100, 0.4);
    for (std::size_t i = 0; i < signal.size(); ++i) signal[i] += 0.1 * std::sin(0.001 * i * i);
    const std::string bytes = wav_bytes(44100, signal, 4);
    std::vector<double> expected = tarpo::sim::resample(signal, 48000.0 / 44100.0);
    for (double& v : expected) v *= 32768.0;

    for (const long piece : {1L, 7L, 1920L, 100000L}) {
        tarpo::sound::SoundReader reader;
        std::string error;
        ASSERT_TRUE(reader.open_memory(bytes.data(), bytes.size(), 48000, error)) << error;
        std::vector<double> got, buffer(static_cast<std::size_t>(piece));
        long n;
        while ((n = reader.read(buffer.data(), piece, error)) > 0)
            got.insert(got.end(), buffer.begin(), buffer.begin() + n);
        ASSERT_EQ(n, 0) << error;
        ASSERT_EQ(got.size(), expected.size()) << piece;
        double worst = 0;
        for (std::size_t i = 0; i < got.size(); ++i)
            worst = std::max(worst, std::abs(got[i] - expected[i]));
        EXPECT_LT(worst, 0.05) << piece;  // float arithmetic in the converter, 16-bit units
    }
}

TEST(SoundReader, SamplesFarBeyondFullScaleStayFiniteThroughTheResampler) {
    // Found by fuzzing: a float file's huge values became infinities in the float resampler.
    std::vector<double> samples = tone(500, 0.5, 44100);
    for (std::size_t i = 100; i < samples.size(); i += 300) samples[i] = i % 600 ? 1e300 : -3e38;
    const std::string bytes = wav_bytes(44100, samples, 8);
    tarpo::sound::SoundReader reader;
    std::string error;
    ASSERT_TRUE(reader.open_memory(bytes.data(), bytes.size(), 48000, error)) << error;
    std::vector<double> out(30000);
    const long n = reader.read(out.data(), 30000, error);
    ASSERT_GT(n, 20000) << error;
    for (long i = 0; i < n; ++i)
        ASSERT_LT(std::abs(out[static_cast<std::size_t>(i)]), 64 * 32768.0) << i;
}

TEST(SoundReader, MemoryStaysFlatWhateverTheHeaderClaims) {
    // A 44-byte header that claims 4 GB of 1000 Hz samples resampled to 48 kHz.
    const std::string bytes = wav_bytes(1000, {}, 0, 0xfffffff0);
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    tarpo::sound::SoundReader reader;
    std::string error;
    ASSERT_TRUE(reader.open_memory(bytes.data(), bytes.size(), 48000, error)) << error;
    double out[100];
    EXPECT_EQ(reader.read(out, 100, error), 0);
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024);  // kB
}

}  // namespace
