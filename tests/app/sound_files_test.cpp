// Sound files that lie, are cut short or hold numbers that are not samples: every verb gives
// one line and exit status 2, quickly, without a crash and without holding memory the file
// does not justify.
#include <sys/resource.h>
#include <sys/stat.h>

#include <chrono>

#include "hostile.h"
#include "sim/channel.h"
#include "sound/sound_file.h"

namespace {

using namespace hostile;

TEST_F(Dir, HeadersThatClaimHugeLengthsAreReadToTheirRealEnd) {
    // A WAV whose data chunk claims 4 GB, piped in on standard input where its real size
    // cannot be seen, and a FLAC whose header claims 2^36 samples.
    write_bytes(dir / "lie.wav", wav_bytes(8000, tone(300, 1.0, 8000), 0, 0xfffffff0));
    Result r = run("codec - " + path("out.wav") + " < " + path("lie.wav"));
    EXPECT_EQ(r.status, 0) << r.out;

    write_lying_flac(dir / "lie.flac");
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
    EXPECT_EQ(reader.read(out, 100, error), -1);
    EXPECT_NE(error.find("holds no samples"), std::string::npos) << error;
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024);  // kB
}

TEST_F(Dir, ADecoderErrorInTheMiddleStopsTheRunAndSaysWhen) {
    // 4 s of FLAC with a stretch of noise in the middle: the decoder loses sync about 2 s in.
    // Every verb stops with one line naming the time, exit status 2, and no output file; half
    // of the file is said to be cut short.
    write_flac(dir / "good.flac", 4.0, 48000);
    const std::string good = read_bytes(dir / "good.flac");
    write_bytes(dir / "sync.flac", corrupted(good, 0.5));
    write_bytes(dir / "half.flac", good.substr(0, good.size() / 2));
    for (const char* verb : {"tx", "rx", "codec", "channel"}) {
        Result r = run(std::string(verb) + " " + path("sync.flac") + " " + path("o.wav"));
        EXPECT_EQ(r.status, 2) << verb;
        EXPECT_TRUE(one_line(r.out)) << r.out;
        EXPECT_NE(r.out.find("sync.flac: the file cannot be decoded after 1."), std::string::npos)
            << r.out;
        r = run(std::string(verb) + " " + path("half.flac") + " " + path("o.wav"));
        EXPECT_EQ(r.status, 2) << verb;
        EXPECT_TRUE(one_line(r.out)) << r.out;
        EXPECT_NE(r.out.find("half.flac: the file is cut short: it ends after 1."),
                  std::string::npos)
            << r.out;
        EXPECT_NE(r.out.find("of the 4.00 s its header gives"), std::string::npos) << r.out;
        EXPECT_FALSE(fs::exists(path("o.wav"))) << verb;
        EXPECT_EQ(names().size(), 3u);
    }
}

TEST_F(Dir, FlacReadsFromAPipeAndAFifo) {
    write_flac(dir / "in.flac", 2.0, 48000);
    Result r = run("codec - " + path("out.wav") + " < " + path("in.flac"));
    EXPECT_EQ(r.status, 0) << r.out;
    const std::string piped = "cat " + path("in.flac") + " | " + cli() + " codec - " +
                              path("piped.wav") + " > /dev/null 2>&1";
    EXPECT_EQ(std::system(piped.c_str()), 0);
    EXPECT_EQ(read_bytes(dir / "piped.wav"), read_bytes(dir / "out.wav"));
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
    FILE* writer = popen(("cat " + path("in.flac") + " > " + path("fifo")).c_str(), "r");
    r = run("codec " + path("fifo") + " " + path("fifo.wav"));
    pclose(writer);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(read_bytes(dir / "fifo.wav"), read_bytes(dir / "out.wav"));
    EXPECT_EQ(fs::file_size(dir / "out.wav"), 44u + 2 * 16000);
}

TEST_F(Dir, InputShorterThanOneBlockIsRefused) {
    write_bytes(dir / "in.wav", wav_bytes(48000, tone(1000, 0.02, 48000)));
    for (const char* verb : {"tx", "rx", "codec", "channel"}) {
        const Result r = run(std::string(verb) + " " + path("in.wav") + " " + path("o.wav"));
        EXPECT_EQ(r.status, 2) << verb;
        EXPECT_TRUE(one_line(r.out)) << r.out;
        EXPECT_NE(r.out.find("in.wav: only 0.02 s of sound, less than one 40 ms block"),
                  std::string::npos)
            << r.out;
        EXPECT_EQ(names(), std::vector<std::string>{"in.wav"});
    }
}

TEST(SoundReader, APipeGivesTheSamplesOfTheFile) {
    // Every format libsndfile reads in one pass: the kept head lets it start again after it
    // has looked at the header, and nothing else is ever sought.
    tarpo::test::TempDir temp{"tarpo-pipe"};
    write_flac(temp.path("a.flac"), 3.0, 44100);
    const std::string flac = read_bytes(temp.path("a.flac"));
    const std::string wav = wav_bytes(22050, tone(300, 2.0, 22050), 4);
    for (const std::string* bytes : {&flac, &wav}) {
        std::vector<double> got[2];
        for (const bool seekable : {true, false}) {
            tarpo::sound::SoundReader reader;
            std::string error;
            ASSERT_TRUE(reader.open_memory(bytes->data(), bytes->size(), 48000, error, seekable))
                << error;
            std::vector<double> piece(1000);
            long n;
            while ((n = reader.read(piece.data(), 1000, error)) > 0)
                got[seekable].insert(got[seekable].end(), piece.begin(), piece.begin() + n);
            ASSERT_EQ(n, 0) << error;
        }
        EXPECT_GT(got[0].size(), 90000u);
        EXPECT_EQ(got[0], got[1]);
    }
}

}  // namespace
