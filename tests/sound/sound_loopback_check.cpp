// Real sound through the SoundInterface on PortAudio: a 1 kHz tone written block by block
// (blocking writes) into the null sink "tarpo_a" of the private sound server that
// with_pulseaudio.sh starts, and read back (blocking reads) from its monitor on the same
// thread, as the worker would. Checks that the tone arrives whole (level, frequency, no
// dropped or repeated samples), that no read overruns, that a change of output device takes
// effect (tarpo_b: the monitor of A goes silent) and that index -1, the default device,
// reaches the default sink again. Prints what it measured.
//
//   sound_loopback_check          run the check (exit 0 pass, 1 fail)
//   sound_loopback_check --list   print both device lists with their indexes
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "sound/loop_library.h"
#include "sound/sound_interface.h"
#include "sound/sound_portaudio.h"

namespace {

using tarpo::sound::SoundInterface;

constexpr int n = 1920;
constexpr double rate = 48000.0;
constexpr double tone_hz = 1000.0;
constexpr double amplitude = 8000.0;  // about -12 dBFS
constexpr double two_pi = 6.283185307179586;

struct Run {
    std::vector<std::vector<std::int16_t>> blocks;  // every block read, in order
    int overruns = 0;
    int late_writes = 0;  // writes that returned true: the queue ran dry or the device is dead
};

double rms(const std::vector<std::int16_t>& b) {
    double s = 0;
    for (const std::int16_t v : b) s += double(v) * v;
    return std::sqrt(s / double(b.size()));
}

// Writes `count` blocks (tone or silence) to the current output and reads as many from the
// current input, alternating, both blocking.
void exchange(SoundInterface& sound, int count, bool tone, double& phase, Run& run) {
    std::vector<std::int16_t> out(n), in(n);
    const double step = two_pi * tone_hz / rate;
    for (int k = 0; k < count; ++k) {
        for (int i = 0; i < n; ++i) {
            out[i] = tone ? static_cast<std::int16_t>(amplitude * std::sin(phase)) : 0;
            phase += step;
            if (phase >= two_pi) phase -= two_pi;
        }
        if (sound.write_block(out.data())) ++run.late_writes;
        if (sound.read_block(in.data()) == SoundInterface::Read::overrun) ++run.overruns;
        run.blocks.push_back(in);
    }
}

// Samples of the blocks [first, last) joined.
std::vector<std::int16_t> join(const Run& run, std::size_t first, std::size_t last) {
    std::vector<std::int16_t> all;
    for (std::size_t k = first; k < last && k < run.blocks.size(); ++k) {
        all.insert(all.end(), run.blocks[k].begin(), run.blocks[k].end());
    }
    return all;
}

// Frequency from upward zero crossings, interpolated between samples: Hz.
double crossing_frequency(const std::vector<std::int16_t>& x) {
    double first = -1, last = -1;
    int count = 0;
    for (std::size_t i = 1; i < x.size(); ++i) {
        if (x[i - 1] < 0 && x[i] >= 0) {
            const double t = double(i - 1) + double(-x[i - 1]) / double(x[i] - x[i - 1]);
            if (first < 0) first = t;
            last = t;
            ++count;
        }
    }
    return count > 1 ? (count - 1) * rate / (last - first) : 0.0;
}

// Largest |x[k+1] + x[k-1] - 2 cos(w) x[k]|: about 2 for a clean 16-bit sinusoid of
// frequency w, about amplitude * w (over 1000 here) per sample skipped or repeated.
double largest_residual(const std::vector<std::int16_t>& x) {
    const double c = 2.0 * std::cos(two_pi * tone_hz / rate);
    double worst = 0;
    for (std::size_t k = 1; k + 1 < x.size(); ++k) {
        worst = std::max(worst, std::fabs(double(x[k + 1]) + x[k - 1] - c * x[k]));
    }
    return worst;
}

int first_loud_block(const Run& run, std::size_t from) {
    for (std::size_t k = from; k < run.blocks.size(); ++k) {
        if (rms(run.blocks[k]) > amplitude / 4) return static_cast<int>(k);
    }
    return -1;
}

void list(const SoundInterface& sound) {
    std::printf("\ninput devices:\n");
    for (int i = 0; i < sound.input_count(); ++i) {
        std::printf("  %d  %s\n", i, sound.input_name(i));
    }
    std::printf("output devices:\n");
    for (int i = 0; i < sound.output_count(); ++i) {
        std::printf("  %d  %s\n", i, sound.output_name(i));
    }
}

bool check(bool ok, const char* what) {
    std::printf("%s  %s\n", ok ? "ok  " : "FAIL", what);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    tarpo::sound::PortAudioBackend backend;
    tarpo::sound::LoopLibrary loop;
    loop.use_entry_points(nullptr, nullptr, nullptr, nullptr, nullptr);  // sound cards only
    SoundInterface sound(backend, loop);
    sound.init(48000);
    if (argc > 1 && std::strcmp(argv[1], "--list") == 0) {
        list(sound);
        return 0;
    }

    const std::optional<int> out_a = sound.find_output("tarpo_a");
    const std::optional<int> out_b = sound.find_output("tarpo_b");
    const std::optional<int> in_a = sound.find_input("tarpo_a_monitor");
    if (!out_a || !out_b || !in_a) {
        std::printf("FAIL  the test devices tarpo_a, tarpo_b and tarpo_a_monitor are not listed");
        list(sound);
        return 1;
    }

    const auto start = std::chrono::steady_clock::now();
    sound.select_input(*in_a, true);
    sound.select_output(*out_a, true);
    sound.start_input(n);
    sound.start_output(n);

    // A: 4 s of tone into tarpo_a. B: 2 s of tone into tarpo_b. C: 3 s into the default
    // device (-1), which the sound server routes to its default sink, tarpo_a.
    constexpr int blocks_a = 100, blocks_b = 50, blocks_c = 75;
    Run run;
    double phase = 0;
    exchange(sound, blocks_a, true, phase, run);
    const int overruns_a = run.overruns, late_a = run.late_writes;
    sound.select_output(*out_b, true);
    exchange(sound, blocks_b, true, phase, run);
    sound.select_output(-1, true);
    exchange(sound, blocks_c, true, phase, run);
    sound.shutdown();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    // The last 2 s of A must be the tone, whole.
    const auto steady = join(run, blocks_a - 50, blocks_a);
    const int arrival = first_loud_block(run, 0);
    const double level = rms(steady);
    const double level_db = 20 * std::log10(level / (amplitude / std::sqrt(2.0)));
    const double freq = crossing_frequency(steady);
    const double residual = largest_residual(steady);
    double quietest = 1e9;
    for (int k = blocks_a - 50; k < blocks_a; ++k)
        quietest = std::min(quietest, rms(run.blocks[k]));
    // The last second of B: the monitor of A hears nothing.
    const double b_level = rms(join(run, blocks_a + blocks_b - 25, blocks_a + blocks_b));
    // The last 1.6 s of C: the tone is back on A.
    const auto c_tail =
        join(run, blocks_a + blocks_b + blocks_c - 40, blocks_a + blocks_b + blocks_c);
    const double c_level = rms(c_tail);

    std::printf("tone %.0f Hz at %.0f peak, %d + %d + %d blocks of %d samples in %.2f s\n", tone_hz,
                amplitude, blocks_a, blocks_b, blocks_c, n, seconds);
    std::printf("first tone block read: %d (%.0f ms after the first write)\n", arrival,
                arrival * 1000.0 * n / rate);
    std::printf(
        "steady tone: level %+.3f dB re sent, quietest block %.0f rms, frequency %.3f Hz,"
        " largest sinusoid residual %.1f\n",
        level_db, quietest, freq, residual);
    std::printf("overruns %d, late writes %d (tarpo_a phase: %d, %d)\n", run.overruns,
                run.late_writes, overruns_a, late_a);
    std::printf(
        "monitor of tarpo_a while playing into tarpo_b: %.1f rms; back on the default "
        "device: %.0f rms\n",
        b_level, c_level);

    bool ok = true;
    // A silent block is queued ahead of the first tone block, and the input started first:
    // the first block read is over before the tone can reach it.
    ok &= check(arrival >= 1, "the tone arrives after the silent start-up block");
    // The null sink passes 16-bit samples unchanged at unity volume: 0.1 dB allows for the
    // sinusoid's own rounding, nothing more.
    ok &= check(std::fabs(level_db) < 0.1, "the level arrives unchanged");
    // Zero crossings over 2 s measure to far better than 0.5 Hz; the null sink runs on its own
    // clock at exactly the nominal rate.
    ok &= check(std::fabs(freq - tone_hz) < 0.5, "the frequency arrives unchanged");
    // A clean sinusoid leaves about 2; one sample skipped or repeated leaves over 1000.
    ok &= check(residual < 50, "no sample lost or repeated in the steady part");
    ok &= check(quietest > amplitude / 2, "every steady block holds the tone");
    ok &= check(run.overruns == 0, "no input overrun");
    ok &= check(b_level < 10, "a new output device takes over at the next write");
    ok &= check(c_level > amplitude / 2, "the default device (-1) plays into the default sink");
    return ok ? 0 : 1;
}
