#include "sound/sound_portaudio.h"

#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <portaudio.h>

#include <thread>

namespace tarpo::sound {

namespace {

void quiet_alsa(const char*, int, const char*, int, const char*, ...) {}
void quiet_jack(const char*) {}

// PortAudio links the JACK client library, which reports a missing JACK server on standard
// error while PortAudio probes it. Its message hooks are found at run time, so that nothing
// here depends on JACK's headers or on PortAudio being built with JACK at all.
void silence_sound_libraries() {
    snd_lib_error_set_handler(quiet_alsa);
    using set_function = void (*)(void (*)(const char*));
    for (const char* name : {"jack_set_error_function", "jack_set_info_function"}) {
        if (auto set = reinterpret_cast<set_function>(dlsym(RTLD_DEFAULT, name))) set(quiet_jack);
    }
}

int input_callback(const void* input, void*, unsigned long frames, const PaStreamCallbackTimeInfo*,
                   PaStreamCallbackFlags, void* ring) {
    if (input)
        static_cast<InputRing*>(ring)->capture(static_cast<const std::int16_t*>(input), frames);
    return paContinue;
}

int output_callback(const void*, void* output, unsigned long frames,
                    const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* ring) {
    static_cast<OutputRing*>(ring)->play(static_cast<std::int16_t*>(output), frames);
    return paContinue;
}

PaStream* stream_of(void* p) {
    return static_cast<PaStream*>(p);
}

}  // namespace

PortAudioBackend::PortAudioBackend() {
    silence_sound_libraries();
    initialised_ = Pa_Initialize() == paNoError;
    if (!initialised_) return;
    const int count = Pa_GetDeviceCount();
    for (int i = 0; i < count; ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (!info) continue;
        const std::string name = info->name ? info->name : "";
        if (info->maxInputChannels >= 1) inputs_.push_back({i, name});
        if (info->maxOutputChannels >= 1) outputs_.push_back({i, name});
    }
}

PortAudioBackend::~PortAudioBackend() {
    close(Direction::input);
    close(Direction::output);
    if (initialised_) Pa_Terminate();
}

int PortAudioBackend::device_count(Direction direction) const {
    return static_cast<int>(direction == Direction::input ? inputs_.size() : outputs_.size());
}

std::string PortAudioBackend::device_name(Direction direction, int index) const {
    const auto& list = direction == Direction::input ? inputs_ : outputs_;
    return index >= 0 && index < static_cast<int>(list.size()) ? list[index].name : std::string();
}

std::string PortAudioBackend::problem(Direction direction) const {
    return direction == Direction::input ? input_problem_ : output_problem_;
}

bool PortAudioBackend::fail(Direction direction, const std::string& device, const char* why) {
    (direction == Direction::input ? input_problem_ : output_problem_) =
        "PortAudio device '" + device + "': " + why;
    return false;
}

bool PortAudioBackend::open(Direction direction, int index, int rate, void* ring) {
    const bool input = direction == Direction::input;
    void*& stream = input ? input_stream_ : output_stream_;
    close(direction);
    (input ? input_problem_ : output_problem_).clear();
    const std::string wanted = index == -1 ? std::string("default") : device_name(direction, index);
    if (!initialised_) return fail(direction, wanted, "PortAudio could not be initialised");
    const auto& list = input ? inputs_ : outputs_;
    PaDeviceIndex device = paNoDevice;
    if (index == -1) {
        device = input ? Pa_GetDefaultInputDevice() : Pa_GetDefaultOutputDevice();
    } else if (index >= 0 && index < static_cast<int>(list.size())) {
        device = list[index].pa_index;
    }
    if (device == paNoDevice) return fail(direction, wanted, "no such device");
    const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
    if (!info) return fail(direction, wanted, "no such device");

    PaStreamParameters params{};
    params.device = device;
    params.channelCount = 1;
    params.sampleFormat = paInt16;
    // The device runs at its most relaxed latency: the input ring holds 1.28 s, and a paced
    // output keeps four blocks (160 ms) queued beside what the device itself buffers; that
    // also keeps sound servers from under-running.
    params.suggestedLatency =
        input ? info->defaultHighInputLatency : info->defaultHighOutputLatency;
    params.hostApiSpecificStreamInfo = nullptr;
    PaStream* opened = nullptr;
    const PaError err = Pa_OpenStream(&opened, input ? &params : nullptr, input ? nullptr : &params,
                                      rate, paFramesPerBufferUnspecified, paNoFlag,
                                      input ? input_callback : output_callback, ring);
    if (err != paNoError) return fail(direction, wanted, Pa_GetErrorText(err));
    stream = opened;
    return true;
}

bool PortAudioBackend::open_input(int index, int rate, InputRing& ring) {
    return open(Direction::input, index, rate, &ring);
}

bool PortAudioBackend::open_output(int index, int rate, OutputRing& ring) {
    return open(Direction::output, index, rate, &ring);
}

bool PortAudioBackend::start(Direction direction) {
    void* stream = direction == Direction::input ? input_stream_ : output_stream_;
    if (!stream) return false;
    return Pa_StartStream(stream_of(stream)) == paNoError;
}

bool PortAudioBackend::reset(Direction direction) {
    void* stream = direction == Direction::input ? input_stream_ : output_stream_;
    if (!stream) return true;
    // Abort rather than stop: queued output is thrown away at once, and the callback has
    // returned for the last time when this returns.
    if (Pa_IsStreamStopped(stream_of(stream)) == 1) return true;
    return Pa_AbortStream(stream_of(stream)) == paNoError;
}

bool PortAudioBackend::close(Direction direction) {
    void*& stream = direction == Direction::input ? input_stream_ : output_stream_;
    if (!stream) return true;
    reset(direction);
    const bool ok = Pa_CloseStream(stream_of(stream)) == paNoError;
    stream = nullptr;
    return ok;
}

std::chrono::nanoseconds PortAudioBackend::now() {
    return std::chrono::steady_clock::now().time_since_epoch();
}

void PortAudioBackend::wait(const CompletionSignal& signal, std::uint32_t seen,
                            std::chrono::nanoseconds limit) {
    signal.wait(seen, limit);
}

void PortAudioBackend::sleep(std::chrono::nanoseconds duration) {
    std::this_thread::sleep_for(duration);
}

}  // namespace tarpo::sound
