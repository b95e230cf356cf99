// The SoundInterface's block model on the fake sound system, whose clock only moves when the
// test or a blocking wait moves it: every case below is deterministic.
#include "sound/sound_interface.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/sound_fake.h"

namespace tarpo::sound {
namespace {

constexpr int n = 1920;
constexpr std::int64_t block_ns = 40'000'000;  // one block of 1920 samples at 48 kHz

const std::string in_open = "Sound Interface Start, waveInOpen() failed.";
const std::string out_open = "Sound Interface Start, waveOutOpen() failed.";

class RecordedDiagnostics : public SoundDiagnostics {
  public:
    void print(const char* text) override { texts.emplace_back(text); }
    std::vector<std::string> texts;
};

// What the loop library's entry points saw. C entry points carry no context, so the test
// library keeps its record here; every test that uses it starts with reset().
struct LoopRecord {
    std::vector<std::string> calls;
    std::vector<double> written;
    std::vector<double> to_deliver;  // empty: ReadRX has nothing
    bool accept = true;

    void reset() { *this = LoopRecord{}; }
};
LoopRecord loop_record;

void test_set_ptt(int on) {
    loop_record.calls.push_back("SetPTT " + std::to_string(on));
}
void test_init_rx(int rate, int size) {
    loop_record.calls.push_back("InitRXRecording " + std::to_string(rate) + " " +
                                std::to_string(size));
}
int test_read_rx(double* samples) {
    loop_record.calls.push_back("ReadRX");
    if (loop_record.to_deliver.empty()) return 0;
    std::copy(loop_record.to_deliver.begin(), loop_record.to_deliver.end(), samples);
    return 1;
}
void test_init_tx(int rate, int size) {
    loop_record.calls.push_back("InitTXPlayback " + std::to_string(rate) + " " +
                                std::to_string(size));
}
int test_write_tx(double* samples) {
    loop_record.calls.push_back("WriteTX");
    loop_record.written.assign(samples, samples + n);
    return loop_record.accept ? 1 : 0;
}

class SoundTest : public ::testing::Test {
  protected:
    void SetUp() override {
        loop_record.reset();
        absent_loop();
    }
    void absent_loop() { loop.use_entry_points(nullptr, nullptr, nullptr, nullptr, nullptr); }
    void present_loop() {
        loop.use_entry_points(test_set_ptt, test_init_rx, test_read_rx, test_init_tx,
                              test_write_tx);
    }
    void init() {
        sound = std::make_unique<SoundInterface>(fake, loop, diag);
        sound->init(48000);
    }
    // A block of the fake input's ramp starting at sample `first`.
    static std::vector<std::int16_t> ramp_block(std::int64_t first) {
        std::vector<std::int16_t> b(n);
        for (int i = 0; i < n; ++i) b[i] = FakeSoundBackend::ramp(first + i);
        return b;
    }
    // A recognisable output block: every sample holds `tag`.
    static std::vector<std::int16_t> tagged(std::int16_t tag) {
        return std::vector<std::int16_t>(n, tag);
    }
    std::vector<std::int16_t> played_block(int k) const {
        const auto p = fake.played();
        if (static_cast<std::size_t>((k + 1) * n) > p.size()) return {};
        return {p.begin() + k * n, p.begin() + (k + 1) * n};
    }
    std::int64_t ns() { return fake.now().count(); }

    FakeSoundBackend fake;
    LoopLibrary loop;
    RecordedDiagnostics diag;
    std::unique_ptr<SoundInterface> sound;
    std::vector<std::int16_t> block = std::vector<std::int16_t>(n, 0);
};

TEST_F(SoundTest, ListsHoldEveryDeviceThenTheLoopEntry) {
    std::vector<std::string> many;
    for (int i = 0; i < 13; ++i) many.push_back("card " + std::to_string(i));
    many[2] = std::string(300, 'x');  // longer than an entry's 200 characters
    fake.set_devices(Direction::input, many);
    present_loop();
    init();
    ASSERT_EQ(sound->input_count(), 14);
    EXPECT_STREQ(sound->input_name(0), "card 0");
    EXPECT_STREQ(sound->input_name(12), "card 12");
    EXPECT_STREQ(sound->input_name(13), "SDR Loop In Device");
    EXPECT_EQ(std::string(sound->input_name(2)), std::string(199, 'x'));
    EXPECT_EQ(sound->output_count(), 3);
    EXPECT_STREQ(sound->output_name(2), "SDR Loop Out Device");
    EXPECT_STREQ(sound->output_name(3), "");
    EXPECT_STREQ(sound->output_name(-1), "");
    EXPECT_TRUE(sound->loop_present());
    EXPECT_EQ(sound->find_input("card 9"), 9);
    EXPECT_EQ(sound->find_input("card 10"), 10);
    EXPECT_EQ(sound->find_input("card 13"), std::nullopt);
    EXPECT_EQ(sound->find_output("SDR Loop Out Device"), 2);
    EXPECT_TRUE(diag.texts.empty());
}

TEST_F(SoundTest, NoDeviceOfOneKindIsReportedAndTheLoopEntryStillListed) {
    fake.set_devices(Direction::output, {});
    present_loop();
    init();
    EXPECT_EQ(diag.texts, std::vector<std::string>{"No audio device found."});
    EXPECT_EQ(sound->output_count(), 1);
    EXPECT_EQ(sound->input_count(), 3);
}

TEST_F(SoundTest, DiagnosticsGoToStandardOutputOneALine) {
    fake.set_devices(Direction::input, {});
    sound = std::make_unique<SoundInterface>(fake, loop);
    testing::internal::CaptureStdout();
    sound->init(48000);
    SoundDiagnostics().print("Sound Interface Start, waveInOpen() failed.");
    SoundDiagnostics().print("ends with its own\n");
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "No audio device found.\nSound Interface Start, waveInOpen() failed.\nends with its "
              "own\n");
}

TEST_F(SoundTest, SelectionTakesEffectAtTheNextReadAndReopensEvenTheSameDevice) {
    init();
    sound->start_input(n);
    ASSERT_EQ(fake.open_count(Direction::input), 1);
    sound->select_input(1, true);
    EXPECT_EQ(fake.open_count(Direction::input), 1);  // nothing happens at the choice
    sound->read_block(block.data());
    sound->read_block(block.data());
    ASSERT_EQ(fake.open_count(Direction::input), 2);
    sound->select_input(1, true);
    sound->read_block(block.data());
    ASSERT_EQ(fake.open_count(Direction::input), 3);
    // An index at or beyond the list's count is the default device; -1 stays -1.
    sound->select_input(2, true);
    sound->read_block(block.data());
    sound->select_output(57, false);
    sound->write_block(block.data());
    const auto opens = fake.opens();
    ASSERT_EQ(opens.size(), 5u);
    EXPECT_EQ(opens[1].device, 1);
    EXPECT_EQ(opens[2].device, 1);
    EXPECT_EQ(opens[3].device, -1);
    EXPECT_EQ(opens[4].direction, Direction::output);
    EXPECT_EQ(opens[4].device, -1);
    EXPECT_TRUE(diag.texts.empty());
}

TEST_F(SoundTest, BlockingReadsDeliverTheInputInOrderPacedByTheDevice) {
    init();
    sound->start_input(n);
    for (int k = 0; k < 40; ++k) {  // more than one trip round the 32 buffers
        const std::int64_t before = ns();
        EXPECT_EQ(sound->read_block(block.data()), SoundInterface::Read::delivered);
        EXPECT_EQ(block, ramp_block(std::int64_t{k} * n)) << "block " << k;
        EXPECT_EQ(ns() - before, block_ns);  // each read waited for exactly one block
    }
    EXPECT_EQ(fake.lost(), 0);
}

TEST_F(SoundTest, NonBlockingReadWithNothingReadyLeavesTheBlockAlone) {
    init();
    sound->set_fill_trim(false);
    sound->select_input(0, false);
    sound->start_input(n);
    std::fill(block.begin(), block.end(), std::int16_t{-7});
    const std::int64_t before = ns();
    EXPECT_EQ(sound->read_block(block.data()), SoundInterface::Read::nothing);
    EXPECT_EQ(ns(), before);
    EXPECT_TRUE(std::all_of(block.begin(), block.end(), [](std::int16_t v) { return v == -7; }));
    fake.advance(n - 1);  // one sample short of a block
    EXPECT_EQ(sound->read_block(block.data()), SoundInterface::Read::nothing);
    EXPECT_EQ(block[0], -7);
    fake.advance(1);
    EXPECT_EQ(sound->read_block(block.data()), SoundInterface::Read::delivered);
    EXPECT_EQ(block, ramp_block(0));
}

TEST_F(SoundTest, OverrunIsReportedExactlyWhenAll32BuffersAreFull) {
    init();
    sound->set_fill_trim(false);
    sound->select_input(0, false);
    for (int waiting = 0; waiting <= 34; ++waiting) {
        sound->select_input(0, false);  // a fresh start for each count
        sound->read_block(block.data());
        fake.advance(std::int64_t{waiting} * n);
        const bool overrun = sound->read_block(block.data()) == SoundInterface::Read::overrun;
        EXPECT_EQ(overrun, waiting >= 32) << waiting << " blocks waiting";
        EXPECT_EQ(sound->input_gaps(), overrun ? 1 : 0) << waiting << " blocks waiting";
    }
}

TEST_F(SoundTest, OverrunStillDeliversTheOldestBlockAndLosesOnlyWhatDidNotFit) {
    init();
    sound->start_input(n);
    const std::int64_t start = fake.produced();
    fake.advance(40 * n);  // 1.6 s without a read: 32 blocks fit, 8 are lost
    EXPECT_EQ(fake.lost(), 8 * n);
    EXPECT_EQ(sound->read_block(block.data()), SoundInterface::Read::overrun);
    EXPECT_EQ(block, ramp_block(start));
    for (int k = 1; k < 32; ++k) {
        EXPECT_EQ(sound->read_block(block.data()), SoundInterface::Read::delivered);
        EXPECT_EQ(block, ramp_block(start + std::int64_t{k} * n));
    }
    // The next block starts where the device found a free buffer again.
    EXPECT_EQ(sound->read_block(block.data()), SoundInterface::Read::delivered);
    EXPECT_EQ(block, ramp_block(start + 40 * n));
}

TEST_F(SoundTest, PacedOutputStartsWithItsCushionOfSilenceThenTheWrittenOnesInOrder) {
    init();
    sound->select_output(0, true);
    const int cushion = static_cast<int>(pace_cushion);
    for (int k = 1; k <= 20; ++k) {
        EXPECT_FALSE(sound->write_block(tagged(static_cast<std::int16_t>(k)).data()));
        // A paced write returns once no more than the cushion is queued ahead of the new one.
        EXPECT_LE(sound->output_fill(), (cushion + 1) * n);
        EXPECT_GT(sound->output_fill(), cushion * n);
    }
    fake.advance(40 * n);
    for (int k = 0; k < cushion; ++k) EXPECT_EQ(played_block(k), tagged(0));
    for (int k = 1; k <= 20; ++k) EXPECT_EQ(played_block(cushion - 1 + k), tagged(k)) << k;
    EXPECT_EQ(sound->output_underruns(), 0);
}

// For each sample of a tagged block that was played: the card's sample time between its
// write and its playing.
std::int64_t longest_wait(const std::vector<std::int16_t>& played,
                          const std::vector<std::int64_t>& written_at, int* tagged_blocks) {
    std::int64_t longest = 0;
    int last = 0;
    for (std::size_t k = 0; k < played.size(); ++k) {
        const int tag = played[k];
        if (tag == 0) continue;
        if (tag != last) ++*tagged_blocks;
        last = tag;
        longest = std::max(longest, static_cast<std::int64_t>(k) - written_at[tag - 1]);
    }
    return longest;
}

TEST_F(SoundTest, VoiceWrittenFasterThanItPlaysKeepsABoundedDelay) {
    // A receiver that declares two frames a block (a steady tone on the carriers) hands the
    // non-blocking voice output twice what the card plays: what does not fit is dropped, so
    // the delay from write to play stays within the queue instead of growing.
    init();
    sound->select_output(0, false);
    std::vector<std::int64_t> written_at;  // per tag - 1: the card's sample time of the write
    for (int b = 0; b < 500; ++b) {        // 20 s
        for (int twice = 0; twice < 2; ++twice) {
            written_at.push_back(static_cast<std::int64_t>(b) * n);
            sound->write_block(tagged(static_cast<std::int16_t>(written_at.size())).data());
        }
        fake.advance(n);
    }
    int tagged_blocks = 0;
    const std::int64_t longest = longest_wait(fake.played(), written_at, &tagged_blocks);
    EXPECT_GT(tagged_blocks, 400);
    // The cushion, the excess allowed beyond it, the block itself and a trimmed sample or so.
    EXPECT_LE(longest, static_cast<std::int64_t>(voice_cushion * n) + (excess_blocks + 1) * n +
                           FillTrim::max_step * 2);
}

TEST_F(SoundTest, AWriteAfterTheQueueRanDryQueuesACushionOfSilenceFirst) {
    for (const bool blocking : {false, true}) {
        SCOPED_TRACE(blocking ? "blocking" : "non-blocking");
        init();
        sound->select_output(0, blocking);
        const int cushion = static_cast<int>((blocking ? pace_cushion : voice_cushion) * n);
        sound->write_block(tagged(1).data());
        fake.advance(cushion + 2 * n);  // the silent cushion and the first block are out
        const std::size_t mark = fake.played().size();
        EXPECT_TRUE(sound->write_block(tagged(2).data()));
        EXPECT_EQ(sound->output_underruns(), 1);
        fake.advance(cushion + n);
        const auto p = fake.played();
        const std::vector<std::int16_t> after(p.begin() + mark, p.end());
        ASSERT_EQ(after.size(), static_cast<std::size_t>(cushion + n));
        EXPECT_TRUE(std::all_of(after.begin(), after.begin() + cushion,
                                [](std::int16_t v) { return v == 0; }));
        EXPECT_TRUE(std::all_of(after.begin() + cushion, after.end(),
                                [](std::int16_t v) { return v == 2; }));
    }
}

TEST_F(SoundTest, LoopEntryRoutesBothDirectionsToTheLibrary) {
    present_loop();
    init();
    const int loop_in = sound->input_count() - 1;
    const int loop_out = sound->output_count() - 1;
    sound->select_input(loop_in, true);
    sound->select_output(loop_out, true);
    // The PTT reads the output's loop flag at once, before any reopening.
    EXPECT_TRUE(sound->output_is_loop());

    std::fill(block.begin(), block.end(), std::int16_t{99});
    EXPECT_EQ(sound->read_block(block.data()),
              SoundInterface::Read::nothing);  // ReadRX had nothing
    EXPECT_EQ(block[0], 99);
    // Doubles on the 16-bit scale, truncated toward zero; out-of-range values are limited.
    loop_record.to_deliver.assign(n, 0.0);
    loop_record.to_deliver[0] = 1.9;
    loop_record.to_deliver[1] = -1.9;
    loop_record.to_deliver[2] = 40000.0;
    loop_record.to_deliver[3] = -40000.0;
    loop_record.to_deliver[4] = std::nan("");
    loop_record.to_deliver[5] = -32768.0;
    EXPECT_EQ(sound->read_block(block.data()), SoundInterface::Read::delivered);
    EXPECT_EQ((std::vector<int>{block[0], block[1], block[2], block[3], block[4], block[5]}),
              (std::vector<int>{1, -1, 32767, -32768, 0, -32768}));

    auto src = tagged(-1234);
    src[7] = 32767;
    EXPECT_FALSE(sound->write_block(src.data()));
    EXPECT_EQ(loop_record.written[0], -1234.0);
    EXPECT_EQ(loop_record.written[7], 32767.0);
    loop_record.accept = false;
    EXPECT_TRUE(sound->write_block(src.data()));

    const std::vector<std::string> expected = {"InitRXRecording 48000 1920", "ReadRX",  "ReadRX",
                                               "InitTXPlayback 48000 1920",  "WriteTX", "WriteTX"};
    EXPECT_EQ(loop_record.calls, expected);
    EXPECT_EQ(fake.open_count(Direction::input), 0);
    EXPECT_EQ(fake.open_count(Direction::output), 0);
}

TEST_F(SoundTest, EverySoundCardOutputOpenUnkeysTheLoopDeviceFirst) {
    present_loop();
    init();
    sound->start_output(n);
    sound->select_output(1, true);
    EXPECT_FALSE(sound->output_is_loop());
    sound->write_block(block.data());
    sound->select_output(sound->output_count() - 1, true);
    sound->write_block(block.data());  // the loop output: no unkeying
    sound->shutdown();
    const std::vector<std::string> expected = {"SetPTT 0", "SetPTT 0", "InitTXPlayback 48000 1920",
                                               "WriteTX", "SetPTT 0"};
    EXPECT_EQ(loop_record.calls, expected);
    EXPECT_EQ(fake.open_count(Direction::output), 2);
}

TEST_F(SoundTest, WithoutTheLibraryTheLastEntryIsAnOrdinaryDevice) {
    init();
    sound->select_output(sound->output_count() - 1, true);
    EXPECT_FALSE(sound->output_is_loop());
    sound->write_block(block.data());
    EXPECT_EQ(fake.opens().back().device, 1);
    EXPECT_TRUE(loop_record.calls.empty());
}

TEST_F(SoundTest, ADeviceThatFailedToOpenPacesWithoutHangingAndReportsOncePerReopen) {
    fake.fail_open(Direction::input, true);
    fake.fail_open(Direction::output, true);
    init();
    sound->start_input(n);
    sound->select_output(0, true);
    std::fill(block.begin(), block.end(), std::int16_t{3});
    for (int k = 0; k < 5; ++k) {
        std::int64_t before = ns();
        EXPECT_EQ(sound->read_block(block.data()), SoundInterface::Read::nothing);
        EXPECT_EQ(ns() - before, block_ns);  // paced like a device, one block per read
        before = ns();
        EXPECT_TRUE(sound->write_block(block.data()));
        EXPECT_EQ(ns() - before, block_ns);
    }
    EXPECT_EQ(block[0], 3);
    EXPECT_EQ(diag.texts, (std::vector<std::string>{in_open, out_open}));
    // Non-blocking directions return at once.
    sound->select_input(0, false);
    sound->select_output(0, false);
    const std::int64_t before = ns();
    EXPECT_EQ(sound->read_block(block.data()), SoundInterface::Read::nothing);
    EXPECT_TRUE(sound->write_block(block.data()));
    EXPECT_EQ(ns(), before);
    EXPECT_EQ(diag.texts, (std::vector<std::string>{in_open, out_open, in_open, out_open}));
}

TEST_F(SoundTest, AFailureNamesTheDeviceAndItsReasonOncePerReopenAfterTheFixedText) {
    const std::string in_why = "sound server device 'mic': No such entity";
    const std::string out_why = "sound server device 'rig': Connection terminated";
    fake.set_problem(Direction::input, in_why);
    fake.set_problem(Direction::output, out_why);
    fake.fail_open(Direction::input, true);
    init();
    sound->start_input(n);
    sound->select_output(0, true);
    for (int k = 0; k < 3; ++k) sound->read_block(block.data());
    EXPECT_EQ(diag.texts, (std::vector<std::string>{in_open, in_why}));
    // A stream that dies while running: the stall is reported with the reason, once.
    for (int k = 0; k < 3; ++k) sound->write_block(block.data());
    fake.vanish(Direction::output);
    for (int k = 0; k < 40; ++k) sound->write_block(block.data());
    EXPECT_EQ(diag.texts, (std::vector<std::string>{in_open, in_why, out_open, out_why}));
    sound->select_input(0, true);
    sound->read_block(block.data());
    EXPECT_EQ(diag.texts.size(), 6u);
    EXPECT_EQ(diag.texts.back(), in_why);
}

TEST_F(SoundTest, StableNamesAreListedBesideTheShownNamesAndRolesReachTheDevice) {
    fake.set_ids(Direction::output, {"sink.radio", "sink.speaker"});
    present_loop();
    init();
    EXPECT_EQ(sound->output_name(0), std::string("out 0"));
    EXPECT_EQ(sound->output_id(0), "sink.radio");
    EXPECT_EQ(sound->input_id(1), "in 1");  // no stable name of its own: the shown one
    EXPECT_EQ(sound->output_id(2), loop_output_name);
    EXPECT_EQ(sound->output_id(3), "");
    EXPECT_EQ(sound->find_output("sink.speaker"), 1);
    EXPECT_EQ(sound->find_output("out 1"), 1);
    EXPECT_EQ(sound->find_output("sink"), std::nullopt);

    sound->select_input(1, false, StreamRole::voice_input);
    sound->select_output(0, true, StreamRole::tx_output);
    sound->read_block(block.data());
    sound->write_block(block.data());
    EXPECT_EQ(fake.role(Direction::input), StreamRole::voice_input);
    EXPECT_EQ(fake.role(Direction::output), StreamRole::tx_output);
    sound->select_output(1, false, StreamRole::voice_output);
    sound->write_block(block.data());
    EXPECT_EQ(fake.role(Direction::output), StreamRole::voice_output);
}

TEST_F(SoundTest, AVanishedDeviceIsGivenUpAfterABoundedWait) {
    init();
    sound->start_input(n);
    sound->select_output(0, true);
    for (int k = 0; k < 20; ++k) {
        sound->read_block(block.data());
        sound->write_block(tagged(1).data());
    }
    ASSERT_TRUE(diag.texts.empty());
    fake.vanish(Direction::input);
    fake.vanish(Direction::output);
    // Whatever was already complete is still delivered; then the wait gives up after
    // stall_blocks block times, and every later wait after one block time.
    int timeouts = 0;
    for (int k = 0; k < 60; ++k) {
        const std::int64_t before = ns();
        const bool r = sound->read_block(block.data()) == SoundInterface::Read::nothing;
        const std::int64_t waited = ns() - before;
        EXPECT_LE(waited, stall_blocks * block_ns);
        if (timeouts > 0) {
            EXPECT_LE(waited, block_ns);
        }
        if (r) ++timeouts;
    }
    EXPECT_GT(timeouts, 0);
    for (int k = 0; k < 30; ++k) {
        const std::int64_t before = ns();
        sound->write_block(tagged(1).data());
        EXPECT_LE(ns() - before, stall_blocks * block_ns);
    }
    EXPECT_EQ(diag.texts, (std::vector<std::string>{in_open, out_open}));
    sound->shutdown();
    EXPECT_FALSE(fake.is_open(Direction::input));
    EXPECT_FALSE(fake.is_open(Direction::output));
}

TEST_F(SoundTest, StopClosesTheDeviceAndTheNextReadReopensIt) {
    init();
    sound->start_input(n);
    sound->select_output(0, true);
    sound->write_block(block.data());
    sound->stop(Direction::input);
    sound->stop(Direction::output);
    EXPECT_FALSE(fake.is_open(Direction::input));
    EXPECT_FALSE(fake.is_open(Direction::output));
    EXPECT_TRUE(diag.texts.empty());
    EXPECT_EQ(sound->read_block(block.data()), SoundInterface::Read::delivered);
    EXPECT_TRUE(fake.is_running(Direction::input));
    EXPECT_EQ(fake.open_count(Direction::input), 2);
}

TEST_F(SoundTest, FailuresInAStopAreReportedWithTheirTexts) {
    init();
    sound->select_input(0, false);
    sound->read_block(block.data());
    fake.advance(3 * n);  // 3 of 32 buffers complete, 29 still with the device
    fake.fail_reset(Direction::input, true);
    fake.fail_close(Direction::input, true);
    sound->stop(Direction::input);
    std::vector<std::string> expected = {"Sound Interface, waveInReset() failed."};
    expected.insert(expected.end(), 29, "Sound Interface, waveInUnprepareHeader() failed.");
    expected.push_back("Sound Interface, waveInClose() failed.");
    EXPECT_EQ(diag.texts, expected);

    diag.texts.clear();
    fake.fail_close(Direction::output, true);
    sound->start_output(n);
    sound->stop(Direction::output);
    EXPECT_EQ(diag.texts, std::vector<std::string>{"Sound Interface, waveOutClose() failed."});
}

TEST_F(SoundTest, BlockSizeIsLimitedAndNothingBeyondItIsTouched) {
    present_loop();
    init();
    // The loop device's conversion buffers hold 20000 samples.
    sound->select_input(sound->input_count() - 1, true);
    sound->start_input(50000);
    EXPECT_EQ(loop_record.calls.back(), "InitRXRecording 48000 20000");
    sound->select_input(0, true);
    fake.set_chunk(1);
    sound->start_input(0);
    std::vector<std::int16_t> guarded(8, 555);
    EXPECT_EQ(sound->read_block(guarded.data()), SoundInterface::Read::delivered);
    EXPECT_EQ(guarded[0], FakeSoundBackend::ramp(0));
    EXPECT_TRUE(
        std::all_of(guarded.begin() + 1, guarded.end(), [](std::int16_t v) { return v == 555; }));
}

TEST_F(SoundTest, ShutdownReleasesEverythingAndAFreshStartWorks) {
    init();
    sound->start_input(n);
    sound->start_output(n);
    sound->shutdown();
    EXPECT_FALSE(fake.is_open(Direction::input));
    EXPECT_FALSE(fake.is_open(Direction::output));
    sound->shutdown();  // twice is harmless
    EXPECT_EQ(sound->read_block(block.data()), SoundInterface::Read::delivered);
    EXPECT_EQ(block, ramp_block(fake.produced() - n));
}

}  // namespace
}  // namespace tarpo::sound
