// The operator's side of the engine: the heard log's entry rules and files, the recording life
// cycle, and the voice keyer's keying order.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "dsp/numeric.h"
#include "engine/heard_log.h"
#include "engine/recorder.h"
#include "engine/voice_keyer.h"
#include "sound/sound_file.h"
#include "tests/app/hostile.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace tarpo::engine;
namespace fs = std::filesystem;

constexpr std::int64_t t0 = 1765197296000;  // 2025-12-08 12:34:56 UTC

// Feeds observations every 150 ms: `open` ticks with the squelch open, then closed ones.
struct Feed {
    ReceptionTracker tracker;
    std::int64_t now = t0;
    std::uint32_t count = 0;
    std::string call = "DL1ABC";  // the text the decoder completes next
    std::vector<HeardEntry> entries;
    void run(int ticks, bool open, int snr = 20, bool new_call = false, bool rsid = false) {
        for (int i = 0; i < ticks; ++i) {
            if (new_call && i == ticks / 2) ++count;
            Observation o{now, open, snr, count, count ? call : "", 1520.0, 14.2e6, rsid};
            rsid = false;
            if (auto e = tracker.observe(o)) entries.push_back(*e);
            now += 150;
        }
    }
};

TEST(HeardLog, OneEntryPerQualifyingReception) {
    Feed f;
    f.run(10, false);
    f.run(20, true, 20, true);  // 3 s open, a callsign completed during it
    f.run(10, false);
    ASSERT_EQ(f.entries.size(), 1u);
    const HeardEntry& e = f.entries[0];
    EXPECT_EQ(e.callsign, "DL1ABC");
    EXPECT_EQ(e.start_ms, t0 + 1500);
    EXPECT_EQ(e.end_ms, t0 + 1500 + 19 * 150);
    EXPECT_EQ(e.best_snr_db, 20);
    EXPECT_EQ(e.dial_hz, 14.2e6);
    EXPECT_FALSE(e.rsid_seen);

    f.run(10, true, 20);  // too short, and no new callsign: the old one does not count again
    f.run(10, false);
    f.run(30, true, 20);  // long enough, but still no new callsign
    f.run(10, false);
    EXPECT_EQ(f.entries.size(), 1u);
}

TEST(HeardLog, FadesDoNotSplitAndRsidCounts) {
    Feed f;
    f.run(1, false, 0, false, true);  // a burst just before the signal
    f.run(10, true, 10);
    f.run(4, false);  // 600 ms closed: within the hang-over
    f.run(10, true, 30, true);
    f.run(7, false);  // a second after the last open tick the entry comes out
    ASSERT_EQ(f.entries.size(), 1u);
    EXPECT_TRUE(f.entries[0].rsid_seen);
    EXPECT_EQ(f.entries[0].best_snr_db, 30);
    EXPECT_DOUBLE_EQ(f.entries[0].mean_snr_db, 20.0);
    // A reception still running at shutdown is logged when it qualifies.
    f.run(20, true, 12, true);
    const auto last = f.tracker.finish();
    ASSERT_TRUE(last.has_value());
    EXPECT_EQ(last->best_snr_db, 12);
}

// Reception starts mid-cycle (the tail "L1ABC" first), a fade garbles one text, and after the
// over noise completes a cut "DL1AB" while the hang-over runs: the entry keeps DL1ABC.
TEST(HeardLog, TheCallsignHeardMostOftenWins) {
    Feed f;
    f.call = "L1ABC";
    f.run(6, true, 20, true);
    f.call = "DL1ABC";
    f.run(6, true, 20, true);
    f.run(6, true, 20, true);
    f.call = "DL1AXC";
    f.run(6, true, 20, true);
    f.call = "DL1AB";
    f.run(7, false, 0, true);
    ASSERT_EQ(f.entries.size(), 1u);
    EXPECT_EQ(f.entries[0].callsign, "DL1ABC");
    // Of two texts heard equally often, the later one.
    f.call = "L1ABC";
    f.run(10, true, 20, true);
    f.call = "DL1ABC";
    f.run(10, true, 20, true);
    f.run(7, false);
    ASSERT_EQ(f.entries.size(), 2u);
    EXPECT_EQ(f.entries[1].callsign, "DL1ABC");
}

TEST(HeardLog, FilesReadBack) {
    const tarpo::test::TempDir temp("tarpo-heard");
    const fs::path& dir = temp.dir();
    HeardEntry e{t0, t0 + 5000, "DL1ABC", 25, 23.6, 1520.0, 14236000.0, true};
    HeardEntry unknown = e;
    unknown.dial_hz.reset();
    unknown.callsign = "G4/AB";
    std::string error;
    ASSERT_TRUE(append_heard(dir, e, error)) << error;
    ASSERT_TRUE(append_heard(dir, unknown, error)) << error;

    std::ifstream csv(dir / "heard.csv");
    std::string header, first, second;
    std::getline(csv, header);
    std::getline(csv, first);
    std::getline(csv, second);
    EXPECT_EQ(header, csv_header());  // written once
    EXPECT_EQ(first, "2025-12-08 12:34:56,2025-12-08 12:35:01,DL1ABC,25,23.6,1520.0,14236000,yes");
    EXPECT_EQ(second.substr(40), "G4/AB,25,23.6,1520.0,,yes");

    std::stringstream adi;
    adi << std::ifstream(dir / "heard.adi").rdbuf();
    const auto records = read_adif(adi.str());
    ASSERT_EQ(records.size(), 2u);
    auto field = [](const std::vector<AdifField>& r, const std::string& name) {
        for (const AdifField& f : r)
            if (f.name == name) return f.value;
        return std::string("<none>");
    };
    EXPECT_EQ(field(records[0], "CALL"), "DL1ABC");
    EXPECT_EQ(field(records[0], "QSO_DATE"), "20251208");
    EXPECT_EQ(field(records[0], "TIME_ON"), "123456");
    EXPECT_EQ(field(records[0], "TIME_OFF"), "123501");
    EXPECT_EQ(field(records[0], "FREQ"), "14.236000");
    EXPECT_EQ(field(records[0], "MODE"), "DIGITALVOICE");
    EXPECT_EQ(field(records[0], "RST_RCVD"), "24");
    EXPECT_EQ(field(records[0], "COMMENT"), "heard");
    EXPECT_EQ(field(records[0], "SWL"), "Y");
    EXPECT_EQ(field(records[1], "FREQ"), "<none>");
    EXPECT_EQ(field(records[1], "CALL"), "G4/AB");
    // Hostile text: lengths past the end, stray brackets, no header.
    EXPECT_TRUE(read_adif("<CALL:99>AB<EOR>").empty());
    EXPECT_EQ(read_adif("<call:2>AB <x> <eor>").at(0).at(0).value, "AB");
}

TEST(Recorder, FinalNameOnlyWhenKept) {
    const tarpo::test::TempDir temp("tarpo-rec");
    const fs::path dir = temp.path("recordings");  // made by the first recording
    Recorder r;
    std::string error;
    ASSERT_TRUE(r.start(dir, t0, error)) << error;
    std::vector<std::int16_t> speech(8000, 1000);
    r.write(speech.data(), speech.size());
    // While it is written only the temporary name exists.
    ASSERT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
    EXPECT_EQ(fs::directory_iterator(dir)->path().extension(), ".part");
    const fs::path kept = r.keep("dl1abc/p", error);
    EXPECT_EQ(kept, dir / "20251208-123456-DL1ABC-P.wav");
    SF_INFO info{};
    SNDFILE* f = sf_open(kept.c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr);
    sf_close(f);
    EXPECT_EQ(info.samplerate, 8000);
    EXPECT_EQ(info.frames, 8000);

    // A dropped reception, and one open at destruction, leave nothing behind.
    ASSERT_TRUE(r.start(dir, t0 + 60000, error));
    r.write(speech.data(), 100);
    r.drop();
    {
        Recorder open;
        ASSERT_TRUE(open.start(dir, t0 + 120000, error));
        open.write(speech.data(), 100);
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
    EXPECT_TRUE(r.keep("X", error).empty());  // nothing open
    // A directory that cannot be made: a clear reason, no crash.
    { std::ofstream(dir / "file") << "x"; }
    EXPECT_FALSE(r.start(dir / "file" / "sub", t0, error));
    EXPECT_NE(error.find("cannot write"), std::string::npos);
}

TEST(HeardLog, CallsignsOfAnyTextReadBackWhole) {
    // Commas, quotes, blanks at the ends and line ends in the text do not break the line.
    HeardEntry e{t0, t0 + 5000, "", 25, 23.6, 1520.0, std::nullopt, false};
    for (const std::string call : {"A,B", "say \"hi\"", " DL1ABC ", "two\nlines", "<EOR>", ""}) {
        e.callsign = call;
        const auto records = read_csv(csv_header() + "\n" + csv_line(e) + "\n");
        ASSERT_EQ(records.size(), 2u) << call;
        ASSERT_EQ(records[1].size(), 8u) << call;
        EXPECT_EQ(records[1][2], call);
        const auto adif = read_adif(adif_header() + adif_record(e));
        ASSERT_EQ(adif.size(), 1u) << call;
        EXPECT_EQ(adif[0][0].value, call);
    }
    // A decoded text of only '/' and blanks is no callsign: unknown, and NOCALL in a name.
    EXPECT_EQ(stored_callsign(" / "), "");
    EXPECT_EQ(stored_callsign(" DL1ABC/P "), "DL1ABC/P");
    EXPECT_EQ(recording_name("20251208-123456", "/"), "20251208-123456-NOCALL.wav");
    EXPECT_EQ(recording_name("20251208-123456", "/P"), "20251208-123456-P.wav");
}

TEST(HeardLog, AFifoIsRefusedAtOnceAndTheEntryWaits) {
    const tarpo::test::TempDir temp("tarpo-heard");
    const fs::path csv = temp.path("heard.csv");
    ASSERT_EQ(::mkfifo(csv.c_str(), 0644), 0);
    HeardLog log(temp.dir());
    HeardEntry e{t0, t0 + 5000, "DL1ABC", 25, 23.6, 1520.0, std::nullopt, false};
    std::string error;
    EXPECT_FALSE(log.append(e, error));  // returns at once: no reader is waited for
    EXPECT_NE(error.find("heard.csv is not a regular file"), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);  // one line
    EXPECT_EQ(log.pending(), 1u);
    fs::remove(csv);
    fs::create_symlink("/dev/null", csv);  // a device: refused too
    e.start_ms += 60000;
    EXPECT_FALSE(log.append(e, error));
    EXPECT_EQ(log.pending(), 2u);
    fs::remove(csv);
    // Once it can be written, both waiting entries go, in order; heard.adi took each at once.
    e.start_ms += 60000;
    ASSERT_TRUE(log.append(e, error)) << error;
    EXPECT_EQ(log.pending(), 0u);
    std::stringstream text;
    text << std::ifstream(csv).rdbuf();
    EXPECT_EQ(read_csv(text.str()).size(), 4u);  // the header and three entries
    std::stringstream adi;
    adi << std::ifstream(temp.path("heard.adi")).rdbuf();
    EXPECT_EQ(read_adif(adi.str()).size(), 3u);
}

TEST(Recorder, OnlyNewRegularFilesAndOneReasonPerReception) {
    const tarpo::test::TempDir temp("tarpo-rec");
    const fs::path dir = temp.path("recordings");
    fs::create_directories(dir);
    // FIFOs under the temporary and the final name: neither is opened or replaced.
    ASSERT_EQ(::mkfifo((dir / "20251208-123456.wav.part").c_str(), 0644), 0);
    ASSERT_EQ(::mkfifo((dir / "20251208-123456-DL1ABC.wav").c_str(), 0644), 0);
    Recorder r;
    std::string error;
    ASSERT_TRUE(r.start(dir, t0, error)) << error;
    std::vector<std::int16_t> speech(800, 1000);
    r.write(speech.data(), speech.size());
    const fs::path kept = r.keep("DL1ABC", error);
    EXPECT_EQ(kept, dir / "20251208-123456-DL1ABC-2.wav");
    EXPECT_NE(error.find("is not a regular file"), std::string::npos);
    EXPECT_TRUE(fs::is_regular_file(kept));
    EXPECT_TRUE(fs::is_fifo(dir / "20251208-123456-DL1ABC.wav"));
    EXPECT_TRUE(fs::is_fifo(dir / "20251208-123456.wav.part"));
    for (const auto& entry : fs::directory_iterator(dir))
        EXPECT_FALSE(entry.path().string().ends_with(".part") && entry.is_regular_file());
    // A recordings directory that is a file: the reason once, then quiet for that reception.
    const fs::path file = temp.path("plain");
    { std::ofstream(file) << "x"; }
    error.clear();
    EXPECT_FALSE(r.start(file, t0, error));
    EXPECT_NE(error, "");
    error.clear();
    EXPECT_FALSE(r.start(file, t0, error));
    EXPECT_EQ(error, "");
}

// The worker side runs on its own thread (as the audio worker), so that ThreadSanitizer sees
// the hand-over: every sample of the file comes out once, in order, between key and unkey.
TEST(VoiceKeyer, KeysSendsTheFileUnkeys) {
    VoiceKeyer keyer;
    std::vector<std::int16_t> file(5 * 48000);
    for (std::size_t i = 0; i < file.size(); ++i)
        file[i] = static_cast<std::int16_t>(i % 30000 + 1);
    std::vector<std::int16_t> block(1920);
    EXPECT_FALSE(keyer.fill_block(block.data()));  // idle: the microphone is used
    ASSERT_TRUE(keyer.start(file));
    EXPECT_FALSE(keyer.start(file));  // one at a time
    ASSERT_EQ(keyer.tick(false), VoiceKeyer::Action::key);

    std::atomic<bool> transmitting{true};
    std::vector<std::int16_t> sent;
    std::thread worker([&] {
        std::vector<std::int16_t> b(1920);
        while (transmitting.load()) {
            if (keyer.fill_block(b.data())) sent.insert(sent.end(), b.begin(), b.end());
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    std::vector<VoiceKeyer::Action> actions;
    for (int i = 0; i < 20000 && actions.empty(); ++i) {
        if (const auto a = keyer.tick(true); a != VoiceKeyer::Action::none) actions.push_back(a);
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    EXPECT_TRUE(keyer.busy());  // unkey said, transmission not over yet
    transmitting = false;
    worker.join();
    EXPECT_EQ(keyer.tick(false), VoiceKeyer::Action::none);
    EXPECT_FALSE(keyer.busy());
    ASSERT_EQ(actions, std::vector<VoiceKeyer::Action>{VoiceKeyer::Action::unkey});
    ASSERT_GE(sent.size(), file.size());
    EXPECT_TRUE(std::equal(file.begin(), file.end(), sent.begin()));
    EXPECT_TRUE(std::all_of(sent.begin() + static_cast<long>(file.size()), sent.end(),
                            [](std::int16_t v) { return v == 0; }));  // silence after the end
}

TEST(VoiceKeyer, TxStopsTheFile) {
    VoiceKeyer keyer;
    ASSERT_TRUE(keyer.start(std::vector<std::int16_t>(10 * 48000, 7)));
    keyer.tick(false);
    std::vector<std::int16_t> b(1920);
    ASSERT_TRUE(keyer.fill_block(b.data()));
    EXPECT_EQ(b[0], 7);
    keyer.stop();
    ASSERT_TRUE(keyer.fill_block(b.data()));
    EXPECT_EQ(b[0], 0);  // the rest is dropped
    EXPECT_EQ(keyer.tick(true), VoiceKeyer::Action::unkey);
    EXPECT_EQ(keyer.tick(false), VoiceKeyer::Action::none);
    EXPECT_FALSE(keyer.fill_block(b.data()));
    ASSERT_TRUE(keyer.start(std::vector<std::int16_t>(1920, 9)));  // the next file starts clean
    keyer.tick(false);
    ASSERT_TRUE(keyer.fill_block(b.data()));
    EXPECT_EQ(b[0], 9);
}

// The worker's side on a thread of its own until the keyer says unkey: what it sent. A block
// every 2 ms against a tick every 0.1 ms: 20 times as fast as the air, and still far slower
// than the ticks refill the queue, as on the air (40 ms blocks, 150 ms ticks, 2 s queue).
std::vector<std::int16_t> send_until_unkey(VoiceKeyer& keyer) {
    std::atomic<bool> transmitting{true};
    std::vector<std::int16_t> sent;
    std::thread worker([&] {
        std::vector<std::int16_t> b(1920);
        while (transmitting.load()) {
            if (keyer.fill_block(b.data())) sent.insert(sent.end(), b.begin(), b.end());
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    bool unkey = false;
    for (int i = 0; i < 200000 && !unkey; ++i) {
        unkey = keyer.tick(true) == VoiceKeyer::Action::unkey;
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    transmitting = false;
    worker.join();
    EXPECT_TRUE(unkey);
    keyer.tick(false);
    EXPECT_FALSE(keyer.busy());
    return sent;
}

// The samples the shared reader gives for a file, as the keyer sends them.
std::vector<std::int16_t> read_as_keyer(const std::string& path) {
    tarpo::sound::SoundReader reader;
    std::string error;
    std::vector<std::int16_t> samples;
    if (!reader.open(path, 48000, error)) return samples;
    std::vector<double> piece(4800);
    long n;
    while ((n = reader.read(piece.data(), 4800, error)) > 0)
        for (long i = 0; i < n; ++i)
            samples.push_back(tarpo::dsp::to_sample16(piece[static_cast<std::size_t>(i)]));
    return samples;
}

using KeyerFiles = hostile::Dir;

TEST_F(KeyerFiles, HostileFilesAreRefusedWithAReasonAndNothingIsSizedFromAHeader) {
    using hostile::tone;
    using hostile::wav_bytes;
    using hostile::write_bytes;
    write_bytes(dir / "rate1.wav", wav_bytes(1, tone(1, 48000.0, 1)));
    write_bytes(dir / "rate999.wav", wav_bytes(999, tone(100, 2.0, 999)));
    write_bytes(dir / "claims4gb.wav", wav_bytes(8000, {}, 0, 0xfffffff0));
    write_bytes(dir / "short.wav", wav_bytes(48000, tone(1000, 0.02, 48000)));
    std::vector<double> nan = tone(1000, 1.0, 48000, 0.1);
    nan[12000] = NAN;
    write_bytes(dir / "nan.wav", wav_bytes(48000, nan, 4));
    hostile::write_lying_flac(dir / "huge.flac");
    hostile::write_flac(dir / "good.flac", 4.0, 48000);
    write_bytes(dir / "sync.flac", hostile::corrupted(hostile::read_bytes(dir / "good.flac"), 0.3));
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
    fs::create_directory(dir / "directory");
    const struct {
        std::string path;
        const char* words;
    } cases[] = {{path("rate1.wav"), "1 Hz cannot be used"},
                 {path("rate999.wav"), "999 Hz cannot be used"},
                 {path("claims4gb.wav"), "holds no samples"},
                 {path("short.wav"), "less than one 40 ms block"},
                 {path("nan.wav"), "0.250000 s is not a finite number"},
                 {path("huge.flac"), "cut short"},
                 {path("sync.flac"), "cannot be decoded after 1."},
                 {path("fifo"), "a FIFO, not a sound file"},
                 {"/dev/zero", "a device, not a sound file"},
                 {path("directory"), "a directory, not a sound file"},
                 {path("absent.wav"), "No such file"}};
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    for (const auto& c : cases) {
        VoiceKeyer keyer;
        std::string error;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(keyer.start_file(c.path, error)) << c.path;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << c.path;
        EXPECT_EQ(error.rfind(c.path + ": ", 0), 0u) << error;
        EXPECT_NE(error.find(c.words), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
        EXPECT_FALSE(keyer.busy());
        EXPECT_EQ(keyer.tick(false), VoiceKeyer::Action::none);
    }
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024);  // kB
}

TEST_F(KeyerFiles, AFileLongerThanTheQueueIsStreamedWhole) {
    // 7 s at 44.1 kHz against a 2 s queue: the ticks read it a piece at a time.
    std::vector<double> signal = hostile::tone(440, 7.0, 44100, 0.3);
    for (std::size_t i = 0; i < signal.size(); ++i) signal[i] += 0.2 * std::sin(1e-5 * i * i);
    hostile::write_bytes(dir / "long.wav", hostile::wav_bytes(44100, signal));
    const std::vector<std::int16_t> expected = read_as_keyer(path("long.wav"));
    ASSERT_GT(expected.size(), 7u * 48000 - 10);
    VoiceKeyer keyer;
    std::string error;
    ASSERT_TRUE(keyer.start_file(path("long.wav"), error)) << error;
    ASSERT_EQ(keyer.tick(false), VoiceKeyer::Action::key);
    const std::vector<std::int16_t> sent = send_until_unkey(keyer);
    ASSERT_GE(sent.size(), expected.size());
    const auto differ = std::mismatch(expected.begin(), expected.end(), sent.begin());
    EXPECT_EQ(differ.first, expected.end())
        << "sample " << (differ.first - expected.begin()) << " of " << expected.size();
    EXPECT_EQ(keyer.take_error(), "");
}

TEST_F(KeyerFiles, AFailureInTheMiddleIsSaidAfterTheGoodPartWentOut) {
    std::vector<double> samples = hostile::tone(1000, 5.0, 48000, 0.1);
    samples[3 * 48000] = NAN;
    hostile::write_bytes(dir / "nan.wav", hostile::wav_bytes(48000, samples, 4));
    VoiceKeyer keyer;
    std::string error;
    ASSERT_TRUE(keyer.start_file(path("nan.wav"), error)) << error;
    ASSERT_EQ(keyer.tick(false), VoiceKeyer::Action::key);
    const std::vector<std::int16_t> sent = send_until_unkey(keyer);
    const std::string failure = keyer.take_error();
    EXPECT_NE(failure.find("nan.wav: the sample at 3.000000 s is not a finite number"),
              std::string::npos)
        << failure;
    EXPECT_EQ(keyer.take_error(), "");  // said once
    // What came before the piece that failed went out, then silence.
    ASSERT_GE(sent.size(), 2u * 48000);
    EXPECT_NE(sent[2 * 48000 - 100], 0);
    EXPECT_TRUE(
        std::all_of(sent.begin() + 3 * 48000, sent.end(), [](std::int16_t v) { return v == 0; }));
}

}  // namespace
