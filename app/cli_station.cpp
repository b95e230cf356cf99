// tarpo-cli station: a receiving station without a screen. It listens on the rx input of
// sc.txt (a sound card or the SDR loop device), or reads a sound file as fast as it can, and
// writes down each reception as the program does: a line here, heard.csv and heard.adi, a
// recording when asked, and a reception report when reporting is on. It never transmits: no
// PTT port is opened and the transmitter is never keyed. SIGUSR1 prints a status line;
// SIGINT, SIGTERM and SIGHUP end it cleanly (log, recording and reports flushed, status 0).
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/cli_options.h"
#include "app/cli_verbs.h"
#include "app/wav_writer.h"
#include "dsp/numeric.h"
#include "engine/device_names.h"
#include "engine/display_feed.h"
#include "engine/engine.h"
#include "engine/logger_link.h"
#include "engine/ready_station.h"
#include "engine/reception_desk.h"
#include "engine/settings_files.h"
#include "engine/speech_tap.h"
#include "engine/spot_reporter.h"
#include "modem/callsign.h"
#include "modem/decisions.h"
#include "net/callsign_check.h"

namespace tarpo::app {

namespace {

constexpr OptionSpec station_options[] = {
    {"--config", ValueKind::text, "DIR",
     "the station's directory (default: the working directory): sc.txt,\n"
     "sc_names.txt, cs.txt, locator.txt, receiver.txt and network.txt are read\n"
     "there, heard.csv, heard.adi and recordings/ written there"},
    {"--input", ValueKind::text, "FILE",
     "receive a sound file at full speed instead of the rx input; its\n"
     "end ends the station, and its reports carry the test bit"},
    {"--report", ValueKind::flag, "", "send reception reports (as \"report on\" in network.txt)"},
    {"--report-to", ValueKind::text, "HOST:PORT", "where the reports go (implies --report)"},
    {"--callsign", ValueKind::text, "CALL", "the operator's callsign (default: cs.txt)"},
    {"--locator", ValueKind::text, "LOC", "the operator's locator (default: locator.txt)"},
    {"--antenna", ValueKind::text, "TEXT", "the antenna shown with the reports"},
    {"--dial", ValueKind::number, "HZ",
     "the dial frequency, {range} Hz; without it or a dial in\n"
     "network.txt, a sound file's reports give the audio frequency alone",
     0.0, 1.0e11},
    {"--record", ValueKind::flag, "", "record each reception's speech in recordings/"},
    {"--squelch", ValueKind::whole_number, "N", "squelch level, {range} (default 7)", 0.0, 15.0},
    {"--freq", ValueKind::number, "HZ", "centre frequency to start at, {range} (default 1500)",
     500.0, 3000.0},
};

constexpr Synopsis station_synopses[] = {
    {"[--config DIR] [--report | --report-to HOST:PORT] [--callsign CALL]\n[--locator LOC] "
     "[--antenna TEXT] [--dial HZ] [--record]\n[--squelch N] [--freq HZ]",
     "receive on the rx input of sc.txt, log and report each reception"},
    {"--input FILE [options]", "the same on a sound file, at full speed"},
};

// Set by the signal handlers, read by the station's loop.
volatile std::sig_atomic_t stop_asked = 0;
volatile std::sig_atomic_t status_asked = 0;

extern "C" void ask_stop(int) {
    stop_asked = 1;
}
extern "C" void ask_status(int) {
    status_asked = 1;
}

void catch_signals() {
    struct sigaction stop {};
    stop.sa_handler = ask_stop;
    sigemptyset(&stop.sa_mask);
    for (const int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &stop, nullptr);
    struct sigaction status {};
    status.sa_handler = ask_status;
    sigemptyset(&status.sa_mask);
    sigaction(SIGUSR1, &status, nullptr);
}

struct StationSettings {
    std::filesystem::path directory = ".";
    std::string input;  // a sound file; empty: the rx input
    engine::NetworkSettings network;
    engine::SpotIdentity identity;
    bool record = false;
    int squelch = 7;
    double freq = 1500.0;
    bool enhanced = true;
};

// Whether an option's value is acceptable; says the problem when it is not.
bool check_value(const std::string& problem) {
    if (problem.empty()) return true;
    report_problem(station_verb, problem);
    return false;
}

// Options over the files of the station's directory; false after a reported problem.
bool read_settings(const ParsedOptions& options, StationSettings& s) {
    if (!options.files.empty()) {
        report_problem(station_verb, "'" + options.files[0] + "' is not an option");
        return false;
    }
    s.directory = options.text("--config", ".");
    s.input = options.text("--input", "");
    s.network = engine::network_settings_in(s.directory);
    s.identity = engine::spot_identity_in(s.directory);
    if (options.given("--callsign")) {
        s.identity.callsign = options.text("--callsign", "");
        s.identity.callsign_setting = "--callsign";
        if (!check_value(net::callsign_problem("--callsign", s.identity.callsign))) return false;
    }
    if (options.given("--locator")) {
        s.identity.locator = options.text("--locator", "");
        s.identity.locator_setting = "--locator";
        if (!check_value(net::locator_problem("--locator", s.identity.locator, false)))
            return false;
    }
    if (options.given("--report-to")) {
        const auto to = engine::parse_endpoint(options.text("--report-to", ""));
        if (!to) return check_value("--report-to: give HOST:PORT, e.g. 127.0.0.1:4739");
        s.network.report_to = *to;
        s.network.report = true;
    }
    if (options.given("--report")) s.network.report = true;
    if (options.given("--antenna")) s.network.antenna = options.text("--antenna", "");
    if (options.given("--dial"))
        s.network.dial_hz = static_cast<std::uint64_t>(std::llround(options.number("--dial", 0)));
    // A file comes from no rig: its (test) reports give the audio frequency alone.
    if (!s.input.empty() && !s.network.dial_hz) s.network.dial_hz = 0;
    s.record = options.given("--record");
    s.squelch = static_cast<int>(options.number("--squelch", 7.0));
    s.freq = options.number("--freq", 1500.0);
    engine::load_receiver_choice(s.directory / engine::receiver_file_name, s.enhanced);
    return true;
}

std::int64_t wall_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// What the receiver shows, in the words of the heard log. `take_text` copies the last
// confirmed callsign (80 bytes) and returns its length, 0 before the first.
template <typename TakeText>
engine::Observation observe(const engine::Controls& c, const engine::Monitor& m,
                            std::uint32_t callsign_count, TakeText take_text, std::int64_t utc_ms) {
    engine::Observation o;
    o.utc_ms = utc_ms;
    o.squelch_open = c.rx_active && m.squelch_open == 1;
    o.snr_db = modem::snr_db(m.phase_error);
    o.callsign_count = callsign_count;
    char text[modem::CallsignChannel::text_buffer_size] = {};
    if (take_text(text) > 0) {
        text[sizeof text - 1] = '\0';
        o.callsign = engine::stored_callsign(text);
    }
    o.audio_hz = m.tuned_freq;
    return o;
}

// The desk, the reporter, the logger link and what is said about them, whatever the input.
// A station without an operator logs no contacts: the logger hears its Heartbeats, a Status
// naming the last station heard, and Close.
class Logbook {
  public:
    Logbook(const StationSettings& s, std::int64_t now_ms, bool test)
        : desk_(s.directory),
          reporter_(engine::make_spot_reporter(s.network, s.identity, test, now_ms / 1000)),
          logger_(s.network) {
        desk_.set_recording(s.record);
        status_.de_call = net::plausible_callsign(s.identity.callsign).value_or("");
        status_.de_grid = s.identity.locator;
        status_.dial_hz = s.network.dial_hz.value_or(0);
        status_.decoding = true;
        say_notes();
    }

    void step(const engine::Observation& o, const std::int16_t* speech, std::size_t n) {
        take(desk_.step(o, speech, n), o.utc_ms);
        if (reporter_) reporter_->tick(o.utc_ms / 1000);
        logger_.tick(o.utc_ms);
        logger_.status(status_);
        if (status_asked) {
            status_asked = 0;
            print_status();
        }
        say_notes();
    }

    void finish(std::int64_t now_ms) {
        take(desk_.finish(), now_ms);
        if (reporter_) reporter_->stop(now_ms / 1000);
        logger_.stop();
        say_notes();
        if (reporter_) print_status();
    }

  private:
    void take(const engine::DeskStep& step, std::int64_t now_ms) {
        for (const std::string& e : step.errors) std::fprintf(stderr, "station: %s\n", e.c_str());
        if (!step.entry) return;
        const engine::HeardEntry& e = *step.entry;
        std::printf("%s  %s  SNR %ld dB  %.1f Hz\n", engine::utc_text(e.start_ms).c_str(),
                    e.callsign.empty() ? "?" : e.callsign.c_str(), std::lround(e.mean_snr_db),
                    e.audio_hz);
        std::fflush(stdout);
        if (reporter_) reporter_->heard(e, now_ms / 1000);
        if (const auto call = net::plausible_callsign(e.callsign)) status_.dx_call = *call;
        if (e.dial_hz) status_.dial_hz = static_cast<std::uint64_t>(*e.dial_hz);
    }

    void print_status() {
        std::printf("status: %s, entries %zu", desk_.receiving() ? "receiving" : "not receiving",
                    desk_.entries());
        if (reporter_ && reporter_->active()) {
            const engine::SpotReporter::Counts c = reporter_->counts();
            std::printf(", reports %zu (datagrams sent %zu, waiting %zu)", c.spots, c.sent,
                        c.waiting);
        } else {
            std::printf(", no reports");
        }
        std::printf("\n");
        std::fflush(stdout);
    }

    void say_notes() {
        if (!reporter_) return;
        for (const std::string& line : reporter_->take_notes())
            std::fprintf(stderr, "station: %s\n", line.c_str());
    }

    engine::ReceptionDesk desk_;
    std::unique_ptr<engine::SpotReporter> reporter_;
    engine::LoggerLink logger_;
    net::LoggerStatus status_;
};

// Decoded speech into the recorder's tap; nothing is played.
class TapSink final : public engine::ReceiveSink {
  public:
    void voice_block(const std::int16_t* block) override { tap.put(block); }
    engine::SpeechTap tap;
};

// A sound file block by block through the receive pass, on the file's own clock: it starts
// now and advances 40 ms a block; the display timer's side every 150 ms of signal.
int run_file(const StationSettings& s) {
    sound::SoundReader reader;
    std::string error;
    if (!reader.open(s.input, 48000, error)) {
        report_problem(station_verb, error);
        return 2;
    }
    auto ready = engine::make_station(engine::Voice::speech, s.freq);
    ready->controls.sq_level = s.squelch;
    ready->controls.enhanced_receiver = s.enhanced ? 1 : 0;
    engine::DisplayFeed display;
    TapSink sink;
    const std::int64_t start_ms = wall_ms();
    Logbook log(s, start_ms, true);
    std::array<double, modem::block_samples> input{};
    std::array<std::int16_t, modem::block_samples> block{};
    std::array<std::int16_t, 4096> speech{};
    std::int64_t ms = 0;
    while (!stop_asked) {
        const long got = reader.read(input.data(), static_cast<long>(input.size()), error);
        if (got < 0) report_problem(station_verb, error);
        if (got < static_cast<long>(input.size())) break;
        for (std::size_t i = 0; i < block.size(); ++i) block[i] = dsp::to_sample16(input[i]);
        ready->passes.receive_block(block.data(), sink);
        ms += 40;
        if (ms / 150 == (ms - 40) / 150) continue;
        display.tick(ready->controls, ready->monitor);
        const std::size_t n = sink.tap.take(speech.data(), speech.size());
        engine::CallsignRule& rule = ready->passes.callsign_rule();
        const std::uint32_t count = rule.text_count();
        log.step(observe(
                     ready->controls, ready->monitor, count,
                     [&rule](char* text) { return rule.take_text(text); }, start_ms + ms),
                 speech.data(), n);
    }
    log.finish(start_ms + ms);
    return 0;
}

// The devices of sc.txt, followed by their names in sc_names.txt; an entry beyond its list
// becomes the first one.
void choose_devices(engine::Engine& e, const std::filesystem::path& directory) {
    engine::Controls& c = e.controls();
    engine::SoundChoices choices{c.tx_output_device, c.voice_input_device, c.voice_output_device,
                                 c.rx_input_device};
    engine::load_sound_choices(directory / engine::sound_file_name, choices);
    c.voice_output_device = choices.voice_output_device;
    c.rx_input_device = choices.rx_input_device;
    engine::DeviceNames names;
    bool gone = false;
    if (engine::load_device_names(directory / engine::device_names_file_name, names))
        engine::follow_device_names(e, names, gone);
    if (c.rx_input_device >= e.sound_input_count()) c.rx_input_device = 0;
    if (c.voice_output_device >= e.sound_output_count()) c.voice_output_device = 0;
    std::printf("listening on %s\n", e.sound_input_name(c.rx_input_device).c_str());
    std::fflush(stdout);
}

struct Quiet final : engine::WorkerNotifier {
    void rsid_report(const char*) override {}
};

// The real engine's worker on the rx input, observed every 150 ms until a signal ends it.
int run_devices(const StationSettings& s) {
    engine::Engine e;
    engine::Controls& c = e.controls();
    c.sq_level = s.squelch;
    c.enhanced_receiver = s.enhanced ? 1 : 0;
    c.tx_active = 0;
    e.sound_init(48000);
    choose_devices(e, s.directory);
    c.request_frequency(s.freq);
    Logbook log(s, wall_ms(), false);
    Quiet quiet;
    e.start_worker(quiet);
    std::array<std::int16_t, 4096> speech{};
    while (!stop_asked) {
        const timespec tick{0, 150'000'000};
        nanosleep(&tick, nullptr);
        e.spectrum_tick();
        for (std::string m; e.take_message(m);) std::fprintf(stderr, "station: %s\n", m.c_str());
        const std::size_t n = e.take_received_speech(speech.data(), speech.size());
        const std::uint32_t count = e.callsign_text_count();
        log.step(observe(
                     c, e.monitor(), count, [&e](char* text) { return e.callsign_take_text(text); },
                     wall_ms()),
                 speech.data(), n);
    }
    const bool stopped = e.stop_worker();
    log.finish(wall_ms());
    if (!stopped) std::fprintf(stderr, "station: the audio worker did not stop in time\n");
    return 0;
}

}  // namespace

const VerbSpec station_verb{"station", station_synopses, station_options};

int cli_station(int argc, char** argv) {
    ParsedOptions options;
    if (const auto status = parse_options(station_verb, argc, argv, options)) return *status;
    StationSettings s;
    if (!read_settings(options, s)) return 2;
    catch_signals();
    return s.input.empty() ? run_devices(s) : run_file(s);
}

}  // namespace tarpo::app
