#include "ptt/rig_link.h"

#include <hamlib/rig.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace tarpo::ptt {

namespace {

// Hamlib's backends are loaded once, before any thread opens a rig or lists the models, so
// that both only read its tables afterwards. Its own diagnostics are silenced.
void hamlib_setup() {
    static std::once_flag once;
    std::call_once(once, [] {
        rig_set_debug(RIG_DEBUG_NONE);
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

void set_conf(RIG* rig, const char* name, const std::string& value) {
    const token_t token = rig_token_lookup(rig, name);
    if (token != RIG_CONF_END) rig_set_conf(rig, token, value.c_str());
}

}  // namespace

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
            std::printf("%s\n", text.c_str());
            std::fflush(stdout);
        };
    }
    hamlib_setup();
    state_.state = RigReadout::State::connecting;
    publish();
    thread_ = std::thread([this] { run(); });
}

RigLink::~RigLink() {
    stop();
}

void RigLink::request_ptt(bool on) {
    // Only the requesting threads change the counter; its exact value does not matter, only
    // that each request makes it differ from the last one carried out.
    std::uint32_t old = request_.load(std::memory_order_relaxed);
    std::uint32_t next;
    do {
        next = ((old >> 1) + 1) << 1 | (on ? 1u : 0u);
    } while (!request_.compare_exchange_weak(old, next, std::memory_order_release,
                                             std::memory_order_relaxed));
    wake_.release();
}

void RigLink::stop() {
    if (!thread_.joinable()) return;
    stop_.store(true);
    wake_.release();
    thread_.join();
}

void RigLink::say(const std::string& text) {
    report_(text);
}

void RigLink::run() {
    using clock = std::chrono::steady_clock;
    auto next_open = clock::now();
    auto next_poll = clock::now();
    while (!stop_.load()) {
        const auto now = clock::now();
        if (!rig_ && now >= next_open) {
            open_rig();
            next_open = now + config_.retry_period;
            next_poll = now;
        }
        if (rig_) apply_ptt();
        if (rig_ && clock::now() >= next_poll) {
            poll();
            next_poll = clock::now() + config_.poll_period;
        }
        const auto until = rig_ ? next_poll : next_open;
        static_cast<void>(wake_.try_acquire_until(until));
        while (wake_.try_acquire()) {
        }
    }
    close_rig();
    state_.state = RigReadout::State::stopped;
    publish();
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
                " on " + config_.pathname + "): " + rigerror(code));
            state_.failures++;
        }
        failure_reported_ = true;
        state_.state = RigReadout::State::failed;
        publish();
        return;
    }
    rig_ = rig;
    if (failure_reported_ && state_.failures > 0) say("Radio: the rig answers again.");
    failure_reported_ = false;
    state_.state = RigReadout::State::connected;
    publish();
}

void RigLink::apply_ptt() {
    const std::uint32_t request = request_.load(std::memory_order_acquire);
    if ((request >> 1) == (done_request_ >> 1)) return;
    const bool on = (request & 1) != 0;
    const int code = rig_set_ptt(rig_, RIG_VFO_CURR, on ? RIG_PTT_ON : RIG_PTT_OFF);
    done_request_ = request;
    if (code != RIG_OK && link_error(code)) return fail(on ? "keying" : "unkeying", code);
    if (code != RIG_OK) {
        // The rig answers but will not be keyed this way (a model without CAT PTT).
        if (!refusal_reported_) say(std::string("Radio: the rig refuses PTT: ") + rigerror(code));
        refusal_reported_ = true;
        return;
    }
    state_.keyed = on;
    publish();
    if (observer_) observer_(on);
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
    publish();
}

void RigLink::fail(const char* what, int code) {
    // Whatever the rig did last, we stop asking for PTT: closing the link is all that is on
    // our side. A later request is carried out when the rig answers again.
    if (!failure_reported_) {
        say(std::string("Radio: the rig stopped answering (") + what + ": " + rigerror(code) +
            "); PTT released on our side.");
        state_.failures++;
    }
    failure_reported_ = true;
    rig_close(rig_);
    rig_cleanup(rig_);
    rig_ = nullptr;
    state_.state = RigReadout::State::failed;
    state_.keyed = false;
    publish();
    if (observer_) observer_(false);
}

void RigLink::close_rig() {
    if (!rig_) return;
    // Closing unkeys, whatever was asked last.
    rig_set_ptt(rig_, RIG_VFO_CURR, RIG_PTT_OFF);
    if (state_.keyed && observer_) observer_(false);
    state_.keyed = false;
    rig_close(rig_);
    rig_cleanup(rig_);
    rig_ = nullptr;
}

}  // namespace tarpo::ptt
