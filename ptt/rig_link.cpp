#include "ptt/rig_link.h"

#include <hamlib/rig.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace tarpo::ptt {

namespace {

std::atomic<bool> hamlib_trace{false};

// Hamlib's diagnostics: its whole trace on standard error when asked for, nothing otherwise
// (a rig that stops answering is said once, in our own words).
int hamlib_message(enum rig_debug_level_e, rig_ptr_t, const char* format, va_list args) {
    if (!hamlib_trace.load()) return 0;
    return std::vfprintf(stderr, format, args);
}

// Hamlib's backends are loaded once, before any thread opens a rig or lists the models, so
// that both only read its tables afterwards.
void hamlib_setup() {
    static std::once_flag once;
    std::call_once(once, [] {
        rig_set_debug_callback(hamlib_message, nullptr);
        rig_set_debug(hamlib_trace.load() ? RIG_DEBUG_TRACE : RIG_DEBUG_NONE);
        rig_load_all_backends();
    });
}

int collect_model(const rig_caps* caps, rig_ptr_t data) {
    auto* models = static_cast<std::vector<RigModel>*>(data);
    models->push_back({static_cast<int>(caps->rig_model), caps->mfg_name ? caps->mfg_name : "",
                       caps->model_name ? caps->model_name : ""});
    return 1;  // go on
}

// Errors that say the link itself is gone, as opposed to a rig that cannot do one thing.
bool link_error(int code) {
    switch (-std::abs(code)) {
        case -RIG_EIO:
        case -RIG_ETIMEOUT:
        case -RIG_EPROTO:
        case -RIG_BUSERROR:
        case -RIG_BUSBUSY:
        case -RIG_EINTERNAL:
            return true;
        default:
            return false;
    }
}

// Hamlib's one-line text for an error code, without its line end.
std::string hamlib_error(int code) {
    std::string text = rigerror2(code);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

void set_conf(RIG* rig, const char* name, const std::string& value) {
    const token_t token = rig_token_lookup(rig, name);
    if (token != RIG_CONF_END) rig_set_conf(rig, token, value.c_str());
}

}  // namespace

void set_hamlib_trace(bool on) {
    hamlib_trace.store(on);
    rig_set_debug(on ? RIG_DEBUG_TRACE : RIG_DEBUG_NONE);
}

std::vector<RigModel> hamlib_rig_models() {
    hamlib_setup();
    std::vector<RigModel> models;
    rig_list_foreach(collect_model, &models);
    std::sort(models.begin(), models.end(),
              [](const RigModel& a, const RigModel& b) { return a.model < b.model; });
    return models;
}

RigLink::RigLink(RigConfig config, Report report, PttObserver observer)
    : config_(std::move(config)), report_(std::move(report)), observer_(std::move(observer)) {
    if (!report_) {
        report_ = [](const std::string& text) {
            std::fprintf(stderr, "%s\n", text.c_str());
            std::fflush(stderr);
        };
    }
    hamlib_setup();
    state_.keys = config_.keys;
    state_.state = RigReadout::State::connecting;
    publish();
    thread_ = std::thread([this] { run(); });
}

RigLink::~RigLink() {
    stop();
}

void RigLink::request_ptt(bool on) {
    if (!config_.keys) return;
    wanted_.store(on, std::memory_order_release);
    wake_.release();
}

bool RigLink::stop() {
    if (thread_.joinable()) {
        stop_.store(true);
        wake_.release();
        thread_.join();
    }
    return stopped_unkeyed_;
}

void RigLink::say(const std::string& text) {
    report_(text);
}

void RigLink::run() {
    using clock = std::chrono::steady_clock;
    auto last_open = clock::time_point::min();
    auto next_poll = clock::now();
    auto stop_deadline = clock::time_point::max();
    for (;;) {
        const bool stopping = stop_.load();
        if (stopping && stop_deadline == clock::time_point::max())
            stop_deadline = clock::now() + config_.stop_wait;
        if (stopping && stop_done(stop_deadline)) break;
        wanted_now_ = !stopping && wanted_.load(std::memory_order_acquire);
        // A lost rig is reopened soon while its PTT matters, every few seconds otherwise.
        const auto open_period =
            wanted_now_ || may_be_keyed_ ? config_.urgent_period : config_.retry_period;
        if (!rig_ &&
            (last_open == clock::time_point::min() || clock::now() >= last_open + open_period)) {
            last_open = clock::now();
            open_rig();
            next_poll = clock::now();
        }
        if (rig_) settle_ptt(wanted_now_);
        if (rig_ && !stopping && clock::now() >= next_poll) {
            poll();
            next_poll = clock::now() + config_.poll_period;
        }
        if (!rig_) publish_wanted(wanted_now_);
        if (stopping && rig_ && agrees()) continue;  // confirmed off: done at the loop's top
        auto until = rig_ ? next_poll : last_open + open_period;
        if (rig_ && !agrees() && !refused_) until = clock::now() + config_.urgent_period;
        if (stopping) until = std::min(until, stop_deadline);
        static_cast<void>(wake_.try_acquire_until(until));
        while (wake_.try_acquire()) {
        }
    }
    close_rig();
    state_.state = RigReadout::State::stopped;
    publish();
}

bool RigLink::stop_done(std::chrono::steady_clock::time_point deadline) {
    // Done once the rig said "off", or when no key command went out since it last did.
    if (confirmed_ == Ptt::off || refused_ || (!rig_ && !may_be_keyed_)) return true;
    if (std::chrono::steady_clock::now() < deadline) return false;
    stopped_unkeyed_ = false;
    say("Radio: the rig did not confirm PTT off before the link closed; check the transmitter.");
    return true;
}

void RigLink::open_rig() {
    RIG* rig = rig_init(static_cast<rig_model_t>(config_.model));
    if (rig == nullptr) {
        if (!failure_reported_)
            say("Radio: Hamlib knows no rig model " + std::to_string(config_.model) + ".");
        failure_reported_ = true;
        state_.state = RigReadout::State::failed;
        publish();
        return;
    }
    set_conf(rig, "rig_pathname", config_.pathname);
    if (config_.baud > 0) set_conf(rig, "serial_speed", std::to_string(config_.baud));
    set_conf(rig, "timeout", std::to_string(config_.timeout_ms));
    set_conf(rig, "retry", "0");
    const int code = rig_open(rig);
    if (code != RIG_OK) {
        rig_cleanup(rig);
        if (!failure_reported_) {
            say("Radio: cannot open the rig (Hamlib model " + std::to_string(config_.model) +
                " on " + config_.pathname + "): " + hamlib_error(code));
            state_.failures++;
        }
        failure_reported_ = true;
        state_.state = RigReadout::State::failed;
        publish();
        return;
    }
    // PTT is read from the rig itself, never from Hamlib's memory of what it sent.
    rig_set_cache_timeout_ms(rig, HAMLIB_CACHE_ALL, 0);
    rig_ = rig;
    if (failure_reported_ && state_.failures > 0) say("Radio: the rig answers again.");
    failure_reported_ = false;
    refused_ = !config_.keys;  // a dial-only link takes no PTT commands, as a refusing rig
    state_.state = RigReadout::State::connected;
    publish();
}

void RigLink::settle_ptt(bool on) {
    // Whatever was sent before a reconnection is unknown to the rig's new link: the wanted
    // state, keyed or not, is sent once the link is open and until the rig confirms it.
    if (!config_.keys) return publish_wanted(false);
    if (agrees() || (refused_ && on == state_.wanted)) return publish_wanted(on);
    if (on) may_be_keyed_ = true;
    const int code = rig_set_ptt(rig_, RIG_VFO_CURR, on ? RIG_PTT_ON : RIG_PTT_OFF);
    if (code != RIG_OK && link_error(code)) return fail(on ? "keying" : "unkeying", code);
    if (code != RIG_OK) {
        // The rig answers but will not be keyed this way (a model without CAT PTT).
        if (!refusal_reported_)
            say(std::string("Radio: the rig refuses PTT: ") + hamlib_error(code));
        refusal_reported_ = true;
        refused_ = true;
        if (!on) may_be_keyed_ = false;  // it never took a key command either
        return publish_wanted(on);
    }
    read_back_ptt(on);
}

void RigLink::read_back_ptt(bool on) {
    ptt_t ptt = RIG_PTT_OFF;
    const int code = rig_get_ptt(rig_, RIG_VFO_CURR, &ptt);
    if (code != RIG_OK && link_error(code)) return fail("reading PTT", code);
    // A rig that cannot tell its PTT confirms by taking the command.
    const bool keyed = code == RIG_OK ? ptt != RIG_PTT_OFF : on;
    set_confirmed(keyed ? Ptt::on : Ptt::off);
    if (keyed != on && !mismatch_reported_) {
        say(std::string("Radio: the rig reports PTT ") + (keyed ? "on" : "off") +
            " after the command to " + (on ? "key" : "unkey") + "; sending it again.");
        mismatch_reported_ = true;
    }
    if (keyed == on && mismatch_reported_) {
        say(std::string("Radio: the rig confirms PTT ") + (on ? "on." : "off."));
        mismatch_reported_ = false;
    }
    publish_wanted(on);
}

void RigLink::set_confirmed(Ptt ptt) {
    const bool was_keyed = confirmed_ == Ptt::on;
    confirmed_ = ptt;
    if (ptt == Ptt::off) may_be_keyed_ = false;
    state_.keyed = ptt == Ptt::on;
    if (observer_ && ptt != Ptt::unknown && state_.keyed != was_keyed) observer_(state_.keyed);
}

bool RigLink::show_wanted(bool on) {
    // Off needs no confirmation when no key command went out since the rig last said "off".
    const bool confirmed = agrees() || refused_ || (!on && !may_be_keyed_);
    if (state_.wanted == on && state_.confirmed == confirmed) return false;
    state_.wanted = on;
    state_.confirmed = confirmed;
    return true;
}

void RigLink::publish_wanted(bool on) {
    if (show_wanted(on)) publish();
}

void RigLink::poll() {
    freq_t freq = 0;
    int code = rig_get_freq(rig_, RIG_VFO_CURR, &freq);
    if (code != RIG_OK && link_error(code)) return fail("reading the frequency", code);
    if (code == RIG_OK) state_.freq_hz = freq;
    rmode_t mode = RIG_MODE_NONE;
    pbwidth_t width = 0;
    code = rig_get_mode(rig_, RIG_VFO_CURR, &mode, &width);
    if (code != RIG_OK && link_error(code)) return fail("reading the mode", code);
    if (code == RIG_OK) {
        state_.mode = {};
        const char* text = rig_strrmode(mode);
        if (text) std::strncpy(state_.mode.data(), text, state_.mode.size() - 1);
    }
    // The rig's PTT may have changed under us (its own time-out, a restarted server that
    // kept the port): the next settle sends the wanted state again.
    if (!refused_ && config_.keys) read_back_ptt(wanted_now_);
    if (rig_) publish();
}

void RigLink::fail(const char* what, int code) {
    // The rig's PTT is unknown until it answers again; then the wanted state goes out again.
    if (!failure_reported_) {
        say(std::string("Radio: the rig stopped answering (") + what + ": " + hamlib_error(code) +
            "); reconnecting" + (may_be_keyed_ ? " to confirm PTT." : "."));
        state_.failures++;
    }
    failure_reported_ = true;
    rig_close(rig_);
    rig_cleanup(rig_);
    rig_ = nullptr;
    state_.state = RigReadout::State::failed;
    set_confirmed(Ptt::unknown);
    show_wanted(wanted_now_);
    publish();
}

void RigLink::close_rig() {
    if (!rig_) return;
    rig_close(rig_);
    rig_cleanup(rig_);
    rig_ = nullptr;
}

}  // namespace tarpo::ptt
