// A recording stand-in for the engine: every call is logged by name (with its argument where it
// has one), an observer sees each call as it happens, and the parts the user interface relies on
// for behaviour (callsign channel, acquisition and display arrays) are the real ones. No worker
// runs: each spectrum tick applies a pending tuning request to the monitor as the worker would.
#pragma once

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "engine/display_feed.h"
#include "engine/engine_api.h"
#include "engine/messages.h"
#include "modem/callsign.h"

namespace tarpo::ui::testing {

class FakeEngine : public engine::EngineApi {
  public:
    engine::Controls state;
    engine::Monitor monitored;
    modem::CallsignChannel channel;
    engine::DisplayFeed display;

    std::vector<std::string> calls;
    std::function<void(const std::string&)> observer;

    // Sound cards; the loop device, when present, is one more entry at the end of each list.
    int sound_inputs = 2;
    int sound_outputs = 2;
    bool loop = false;
    // Names of the first entries, when set ("In n" / "Out n" otherwise).
    std::vector<std::string> input_names;
    std::vector<std::string> output_names;
    // Stable names of the first entries, when set (the shown names otherwise).
    std::vector<std::string> input_ids;
    std::vector<std::string> output_ids;
    ptt::RadioSettings radio;
    int radio_applies = 0;
    char port_in_file = '0';
    std::array<std::string, 9> port_devices{};  // index n: the device of Com n
    engine::WorkerNotifier* notifier = nullptr;

    bool called(const std::string& name) const {
        for (const std::string& c : calls) {
            if (c == name) return true;
        }
        return false;
    }

    engine::Controls& controls() override { return state; }
    engine::Monitor& monitor() override { return monitored; }
    void callsign_set(char* text) override {
        record("callsign_set " + std::string(text));
        channel.set_text(text);
    }
    // Every complete text counts as confirmed here.
    int callsign_take_text(char* buffer) override { return channel.take_text(buffer); }
    std::uint32_t callsign_text_count() override { return channel.text_count(); }

    void sound_init(int rate) override { record("sound_init " + std::to_string(rate)); }
    int sound_input_count() override { return sound_inputs + (loop ? 1 : 0); }
    int sound_output_count() override { return sound_outputs + (loop ? 1 : 0); }
    std::string sound_input_name(int index) override {
        if (loop && index == sound_inputs) return "SDR Loop In Device";
        return index < static_cast<int>(input_names.size()) ? input_names[index]
                                                            : "In " + std::to_string(index);
    }
    std::string sound_output_name(int index) override {
        if (loop && index == sound_outputs) return "SDR Loop Out Device";
        return index < static_cast<int>(output_names.size()) ? output_names[index]
                                                             : "Out " + std::to_string(index);
    }
    std::string sound_input_id(int index) override {
        return index >= 0 && index < static_cast<int>(input_ids.size()) ? input_ids[index]
                                                                        : sound_input_name(index);
    }
    std::string sound_output_id(int index) override {
        return index >= 0 && index < static_cast<int>(output_ids.size()) ? output_ids[index]
                                                                         : sound_output_name(index);
    }
    bool sound_loop_present() override { return loop; }
    void sound_select_input(int device, bool blocking) override {
        record("sound_select_input " + std::to_string(device) + (blocking ? " blocking" : ""));
    }
    void sound_select_output(int device, bool blocking) override {
        record("sound_select_output " + std::to_string(device) + (blocking ? " blocking" : ""));
    }

    char ptt_port_load() override {
        record("ptt_port_load");
        return port_in_file;
    }
    void ptt_port_open(char choice) override { record(std::string("ptt_port_open ") + choice); }
    void ptt_port_save(char choice) override { record(std::string("ptt_port_save ") + choice); }
    std::string ptt_port_device(int n) override {
        return n >= 0 && n < 9 ? port_devices[static_cast<std::size_t>(n)] : std::string();
    }

    const engine::DisplayFrame& display_frame() override { return display.frame(); }
    void spectrum_tick() override {
        ++ticks;
        display.tick(state, monitored);
        const double f = state.take_frequency();
        if (!std::isnan(f)) monitored.tuned_freq = f;
    }
    void request_acquisition() override {
        record("request_acquisition");
        display.request_acquisition();
    }
    void cancel_acquisition() override {
        record("cancel_acquisition");
        display.cancel_acquisition();
    }
    void request_tuning_at(int x) override {
        record("request_tuning_at " + std::to_string(x));
        display.request_tuning_at(state, x);
    }
    const std::array<double, 400>& display_spectrum() override {
        return display.display_spectrum();
    }
    const std::array<double, 15>& error_bars() override { return display.error_bars(); }

    void start_worker(engine::WorkerNotifier& n) override {
        notifier = &n;
        record("start_worker");
    }

    void radio_apply(const ptt::RadioSettings& s) override {
        radio = s;  // not logged: Start's order stays that of the design
        ++radio_applies;
    }
    ptt::RadioSettings radio_settings() override { return radio; }
    ptt::RigReadout rig;  // what the rig link reports (none: no rig)
    ptt::RigReadout radio_readout() override { return rig; }

    // Messages for the status line, as the real engine's layers post them.
    engine::MessageQueue messages;
    bool take_message(std::string& text) override { return messages.take(text); }

    int ticks = 0;  // spectrum_tick calls, not logged: there is one per timer tick

    void record(const std::string& call) {
        calls.push_back(call);
        if (observer) observer(call);
    }
};

}  // namespace tarpo::ui::testing
