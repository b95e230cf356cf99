// Bit-error-rate benchmark of the modem over the simulated HF channel, in memory: AWGN against
// Eb/N0 beside the ideal differential detector, the three fading channels against SNR, and
// frames lost per minute with sound-card clock errors and mistuning. Prints tables, writes
// ber.csv, the gnuplot data and script, and ber.png (when gnuplot is there).
//
//   ber_bench [--seconds S] [--threads 1|2] [--only SWEEP] [OUT_DIR]     (default 300 s per point,
//   out/ber)
//
// Every point sends the same test frames through its own channel, and both receivers (the
// differential and the enhanced one) hear the same samples, each fresh; the first 2 s (the
// receivers' start) and the last 0.28 s (the slower receiver's latency; tail_frames) are not
// counted. Counting is frame by frame against the
// transmitted frames, by time (count_by_time): BER over the bits of the frames received, frames
// lost (no frame came out at a transmitted frame's time), FER (transmitted frames not delivered
// with all 54 voice bits right, lost ones included).
//
// The seeds are fixed per sweep, not per point: the points of one curve share their noise and
// fading (scaled), so that a curve shows what its SNR changes, not the luck of each run.
#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <numbers>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench/sim/ber_link.h"
#include "bench/sim/ber_theory.h"
#include "dsp/filters.h"
#include "modem/constants.h"
#include "sim/channel.h"

namespace {

using namespace tarpo;

enum class Sweep { reference, awgn, fading, clock, offset };

const char* sweep_name(Sweep s) {
    switch (s) {
        case Sweep::reference:
            return "reference";
        case Sweep::awgn:
            return "awgn";
        case Sweep::fading:
            return "fading";
        case Sweep::clock:
            return "clock";
        case Sweep::offset:
            return "offset";
    }
    return "?";
}

struct Point {
    Sweep sweep = Sweep::awgn;
    sim::ChannelSettings channel;
};

constexpr std::array<modem::Receiver, 2> receivers{modem::Receiver::differential,
                                                   modem::Receiver::enhanced};
constexpr std::array<const char*, 2> receiver_names{"differential", "enhanced"};

struct Result {
    Point point;
    std::array<bench::FrameCounts, 2> rx;  // differential, enhanced
    std::array<double, 2> first_intact{};  // s, the first frame delivered intact; -1 none
    bench::DetectorAnalysis analysis;      // AWGN points only, the differential receiver
    double seconds = 0.0;                  // run time, s
};

double snr_of(const Point& p) {
    return p.channel.snr_db.value_or(INFINITY);
}
double ebno_of(const Point& p) {
    return sim::ebno_from_snr_db(snr_of(p));
}
double db(double ratio) {
    return 10.0 * std::log10(ratio);
}

Result run_point(const Point& point, const std::vector<double>& clean,
                 const bench::FrameWindow& window, const std::array<double, 2>& latency) {
    Result r;
    r.point = point;
    sim::ChannelResult out = sim::simulate_channel(clean, point.channel);
    const double scale = 1.0 + point.channel.ppm * 1e-6;
    for (std::size_t k = 0; k < receivers.size(); ++k) {
        const auto frames = bench::receive_timed(out.samples, receivers[k]);
        r.rx[k] = bench::count_by_time(frames, window, scale, latency[k]);
        r.first_intact[k] = bench::first_intact_seconds(frames, scale, latency[k]);
    }
    if (point.sweep == Sweep::awgn) {
        // Without fading, offset and clock error the channel adds its noise to the exact input.
        std::vector<double>& noise = out.samples;
        for (std::size_t j = 0; j < noise.size(); ++j) noise[j] -= clean[j];
        r.analysis = bench::analyse_detector(clean, noise);
    }
    return r;
}

std::vector<Point> sweep_points() {
    std::vector<Point> points;
    const auto add = [&](Sweep sweep, std::optional<double> snr, sim::Fading fading, double ppm,
                         double offset) {
        Point p;
        p.sweep = sweep;
        p.channel.snr_db = snr;
        p.channel.fading = fading;
        p.channel.ppm = ppm;
        p.channel.offset_hz = offset;
        p.channel.seed =
            100 * static_cast<std::uint64_t>(sweep) + static_cast<std::uint64_t>(fading);
        points.push_back(p);
    };
    add(Sweep::reference, std::nullopt, sim::Fading::none, 0.0, 0.0);
    for (int ebno = 0; ebno <= 14; ++ebno)
        add(Sweep::awgn, sim::snr_from_ebno_db(ebno), sim::Fading::none, 0.0, 0.0);
    for (sim::Fading f : {sim::Fading::good, sim::Fading::moderate, sim::Fading::poor})
        for (int snr = 0; snr <= 30; snr += 3) add(Sweep::fading, snr, f, 0.0, 0.0);
    for (double ppm : {0.0, -2000.0, -1000.0, -300.0, -100.0, 100.0, 300.0, 1000.0, 2000.0})
        add(Sweep::clock, 10.0, sim::Fading::none, ppm, 0.0);
    for (double offset : {-75.0, -5.0, -3.0, 3.0, 5.0, 75.0})
        add(Sweep::offset, 10.0, sim::Fading::none, 0.0, offset);
    return points;
}

void print_awgn(const std::vector<Result>& results) {
    std::printf("\nAWGN: BER against Eb/N0 (Eb = whole received power / 1400 bit/s)\n");
    std::printf("%7s %7s %12s %12s %12s %10s %10s\n", "Eb/N0", "SNR", "differential", "enhanced",
                "ideal diff", "lost des", "lost enh");
    std::array<std::vector<double>, 2> ber;
    std::vector<double> x;
    for (const Result& r : results) {
        if (r.point.sweep != Sweep::awgn) continue;
        const double e = ebno_of(r.point);
        std::printf("%7.1f %7.2f %12.4g %12.4g %12.4g %10llu %10llu\n", e, snr_of(r.point),
                    r.rx[0].ber(), r.rx[1].ber(), bench::ideal_ber_at_ebno_db(e),
                    static_cast<unsigned long long>(r.rx[0].lost()),
                    static_cast<unsigned long long>(r.rx[1].lost()));
        x.push_back(e);
        for (std::size_t k = 0; k < 2; ++k) ber[k].push_back(r.rx[k].ber());
    }
    for (double target : {1e-2, 1e-3}) {
        const double ideal = bench::ideal_ebno_db_at_ber(target);
        std::printf(
            "BER %.0e: Eb/N0 %.2f dB differential, %.2f dB enhanced, %.2f dB ideal "
            "differential detector\n",
            target, bench::crossing_db(x, ber[0], target), bench::crossing_db(x, ber[1], target),
            ideal);
    }

    std::printf(
        "\nWhere the differential receiver's loss goes: a genie splits what reaches the decisions "
        "(dB of "
        "symbol SNR "
        "against "
        "the ideal Es/N0 = 2 Eb/N0)\n"
        "  pilot   the pilot's share of the received power\n"
        "  filters the rest of the mean SNR lost between channel and decisions (pulse and filter "
        "mismatch, interpolation)\n"
        "  ripple  unequal SNR across the carriers (the weaker ones make most errors)\n"
        "  AFC, timing, ISI: phase errors of the signal part, added to the noise's: frequency "
        "error, timing change\n"
        "          between symbols, interference and clipping\n"
        "  BER(pred): the ideal detector's BER at each carrier's effective SNR, averaged; "
        "split err: |z - s - n| / |z|\n");
    std::printf("%6s %10s %10s %7s %7s %7s %7s %7s %7s %7s %10s\n", "Eb/N0", "BER", "BER(pred)",
                "pilot", "filters", "ripple", "AFC", "timing", "ISI", "total", "split err");
    for (const Result& r : results) {
        if (r.point.sweep != Sweep::awgn) continue;
        const bench::DetectorAnalysis& a = r.analysis;
        const double ideal = 2.0 * std::pow(10.0, ebno_of(r.point) / 10.0);
        const double pilot = -db(1.0 - a.pilot_share());
        const double filters = db(ideal / a.snr()) - pilot;
        // Uniform SNR equivalent to the carriers' mean BER with the phase errors up to `stage`
        // included (0: noise only, 1: + AFC, 2: + timing, 3: + ISI).
        const auto equivalent = [&](int stage) {
            double ber = 0.0;
            for (int i = 0; i < modem::carriers; ++i) {
                if (i == modem::pilot_carrier) continue;
                const auto c = static_cast<std::size_t>(i);
                const double x = i - modem::pilot_carrier;
                double v = a.noise_power[c] / a.signal_power[c];
                if (stage >= 1) v += a.ms_common;
                if (stage >= 2) v += a.ms_b * x * x;
                if (stage >= 3) v += a.ms_rest[c];
                ber += bench::dqpsk_natural_ber(1.0 / v) / (modem::carriers - 1);
            }
            return 2.0 * std::pow(10.0, bench::ideal_ebno_db_at_ber(ber) / 10.0);
        };
        const std::array<double, 4> eq{equivalent(0), equivalent(1), equivalent(2), equivalent(3)};
        std::printf("%6.1f %10.4g %10.4g %7.2f %7.2f %7.2f %7.2f %7.2f %7.2f %7.2f %10.2g\n",
                    ebno_of(r.point), r.rx[0].ber(), a.predicted_ber(), pilot, filters,
                    db(a.snr() / eq[0]), db(eq[0] / eq[1]), db(eq[1] / eq[2]), db(eq[2] / eq[3]),
                    db(ideal / eq[3]), a.max_split_error);
    }
    // Per-carrier detector SNR at the point nearest BER 1e-2: the edge carriers show what the
    // transmitter's band limit costs.
    const Result* nearest = nullptr;
    for (const Result& r : results)
        if (r.point.sweep == Sweep::awgn &&
            (!nearest || std::abs(std::log10(std::max(r.rx[0].ber(), 1e-9)) + 2.0) <
                             std::abs(std::log10(std::max(nearest->rx[0].ber(), 1e-9)) + 2.0)))
            nearest = &r;
    if (nearest) {
        const bench::DetectorAnalysis& a = nearest->analysis;
        std::printf(
            "Detector SNR per carrier at Eb/N0 %.1f dB, dB against the data carriers' "
            "mean:\n ",
            ebno_of(nearest->point));
        for (int i = 0; i < modem::carriers; ++i) {
            const auto c = static_cast<std::size_t>(i);
            std::printf(" %5.2f", db(a.signal_power[c] / a.noise_power[c] / a.snr()));
        }
        // The transmitter's 35-tap low-pass at 2400 Hz, at each carrier's frequency (i - 7) / 32
        // cycles per sample: its passband ripple is what the carriers' SNRs show.
        std::array<double, modem::carriers> gain_db{};
        double mean_gain_db = 0.0;
        for (int i = 0; i < modem::carriers; ++i) {
            std::complex<double> h{};
            for (std::size_t n = 0; n < dsp::tx_lowpass_taps.size(); ++n)
                h += dsp::tx_lowpass_taps[n] *
                     std::polar(1.0, -2.0 * std::numbers::pi * (i - 7) / 32.0 * n);
            gain_db[static_cast<std::size_t>(i)] = 20.0 * std::log10(std::abs(h));
            mean_gain_db += gain_db[static_cast<std::size_t>(i)] / modem::carriers;
        }
        std::printf("\nTransmit low-pass power gain at each carrier, dB against the mean:\n ");
        for (double g : gain_db) std::printf(" %5.2f", g - mean_gain_db);
        std::printf(
            "\n  RMS phase error of the signal part: AFC %.2f deg, timing %.2f deg, "
            "ISI %.2f deg\n",
            std::sqrt(a.ms_common) * 180.0 / std::numbers::pi,
            std::sqrt(a.ms_slope()) * 180.0 / std::numbers::pi,
            std::sqrt(a.ms_rest_mean()) * 180.0 / std::numbers::pi);
    }
}

void print_fading(const std::vector<Result>& results) {
    std::printf(
        "\nFading: against SNR in 3000 Hz, differential / enhanced receiver. BER over the frames "
        "received; FER: transmitted frames\nnot delivered intact (lost or any bit wrong); lost: "
        "frames that never came out\n");
    std::printf("%6s %9s", "SNR", "fading");
    for (const char* h : {"BER des", "BER enh", "FER des", "FER enh", "lost des", "lost enh"})
        std::printf(" %10s", h);
    std::printf("\n");
    for (sim::Fading f : {sim::Fading::good, sim::Fading::moderate, sim::Fading::poor})
        for (const Result& r : results) {
            if (r.point.sweep != Sweep::fading || r.point.channel.fading != f) continue;
            std::printf("%6.0f %9s %10.4g %10.4g %10.4g %10.4g %10llu %10llu\n", snr_of(r.point),
                        sim::fading_name(f), r.rx[0].ber(), r.rx[1].ber(), r.rx[0].fer(),
                        r.rx[1].fer(), static_cast<unsigned long long>(r.rx[0].lost()),
                        static_cast<unsigned long long>(r.rx[1].lost()));
        }
}

void print_lost(const std::vector<Result>& results, double minutes) {
    std::printf(
        "\nClock error and mistuning at SNR 10 dB (Eb/N0 13.3 dB), over %.2f min, differential / "
        "enhanced: frames lost per minute\n(no frame out at its time), frames not delivered "
        "intact per minute, and the time of the first intact frame\n",
        minutes);
    std::printf("%10s %10s %9s %9s %9s %9s %8s %8s\n", "clock ppm", "offset Hz", "lost des",
                "lost enh", "bad des", "bad enh", "1st des", "1st enh");
    for (const Result& r : results) {
        if (r.point.sweep != Sweep::clock && r.point.sweep != Sweep::offset &&
            r.point.sweep != Sweep::reference)
            continue;
        const auto per_minute = [&](std::uint64_t n) { return static_cast<double>(n) / minutes; };
        const auto bad = [&](const bench::FrameCounts& c) {
            return per_minute(c.frames_in_error + c.lost());
        };
        std::printf("%10.0f %10.0f %9.2f %9.2f %9.2f %9.2f %7.2fs %7.2fs%s\n", r.point.channel.ppm,
                    r.point.channel.offset_hz, per_minute(r.rx[0].lost()),
                    per_minute(r.rx[1].lost()), bad(r.rx[0]), bad(r.rx[1]), r.first_intact[0],
                    r.first_intact[1], r.point.sweep == Sweep::reference ? "   (no noise)" : "");
    }
}

// The bins again, neighbours merged upwards until each group expects at least 10 errors (a
// last group short of that joins the one before): a bin expecting 1 error says nothing by
// itself.
void print_llr_merged(const bench::LlrBins& b) {
    constexpr double enough = 10.0;
    std::vector<std::array<double, 4>> groups;  // first bin, bits, errors, predicted errors
    for (int k = 0; k < bench::LlrBins::count; ++k) {
        const auto i = static_cast<std::size_t>(k);
        if (groups.empty() || groups.back()[3] >= enough) groups.push_back({double(k), 0, 0, 0});
        groups.back()[1] += static_cast<double>(b.bits[i]);
        groups.back()[2] += static_cast<double>(b.errors[i]);
        groups.back()[3] += b.predicted[i];
    }
    if (groups.size() > 1 && groups.back()[3] < enough) {
        for (std::size_t j = 1; j < 4; ++j) groups[groups.size() - 2][j] += groups.back()[j];
        groups.pop_back();
    }
    std::printf("  merged, at least %.0f predicted errors a group:", enough);
    for (std::size_t g = 0; g < groups.size(); ++g) {
        const int last = g + 1 < groups.size() ? static_cast<int>(groups[g + 1][0]) - 1
                                               : bench::LlrBins::count - 1;
        if (groups[g][1] == 0) continue;
        const int first = static_cast<int>(groups[g][0]);
        if (last + 1 == bench::LlrBins::count)
            std::printf(" %d+", first);
        else
            std::printf(" %d-%d", first, last + 1);
        std::printf(" x%.2f (%.0f/%.1f)", groups[g][2] / groups[g][3], groups[g][2], groups[g][3]);
    }
    std::printf("\n");
}

// Measured against predicted error rate per |LLR| bin of the enhanced receiver.
void print_llr(const std::vector<Result>& results) {
    std::printf(
        "\nLLR calibration of the enhanced receiver: per |LLR| bin, bits, measured error rate, "
        "predicted (mean of 1/(1+e^|LLR|)), ratio\n");
    for (const Result& r : results) {
        const bool awgn6 = r.point.sweep == Sweep::awgn && std::abs(ebno_of(r.point) - 6.0) < 0.01;
        const bool mod12 = r.point.sweep == Sweep::fading &&
                           r.point.channel.fading == sim::Fading::moderate && snr_of(r.point) == 12;
        if (!awgn6 && !mod12) continue;
        std::printf("%s\n", awgn6 ? "AWGN, Eb/N0 6 dB" : "moderate fading, SNR 12 dB");
        const bench::LlrBins& b = r.rx[1].llr;
        for (int k = 0; k < bench::LlrBins::count; ++k) {
            const auto i = static_cast<std::size_t>(k);
            if (b.bits[i] == 0) continue;
            const double n = static_cast<double>(b.bits[i]);
            const double measured = static_cast<double>(b.errors[i]) / n;
            const double predicted = b.predicted[i] / n;
            std::printf("  |LLR| %2d%s %9llu bits %10.4g %10.4g  x%.2f (%llu errors)\n", k,
                        k + 1 == bench::LlrBins::count ? "+" : "-",
                        static_cast<unsigned long long>(b.bits[i]), measured, predicted,
                        measured / predicted, static_cast<unsigned long long>(b.errors[i]));
        }
        print_llr_merged(b);
    }
}

bool write_csv(const std::filesystem::path& dir, const std::vector<Result>& results,
               double minutes) {
    std::FILE* csv = std::fopen((dir / "ber.csv").c_str(), "w");
    if (!csv) return false;
    std::fprintf(csv,
                 "sweep,fading,snr_db,ebno_db,ppm,offset_hz,seed,receiver,frames_sent,"
                 "frames_received,frames_extra,frames_lost,bit_errors,ber,frames_in_error,fer,"
                 "lost_per_min,first_intact_s,ideal_ber\n");
    for (const Result& r : results)
        for (std::size_t k = 0; k < 2; ++k) {
            const auto& p = r.point;
            const auto& c = r.rx[k];
            std::fprintf(csv,
                         "%s,%s,%.4f,%.4f,%.0f,%.1f,%llu,%s,%llu,%llu,%llu,%llu,%llu,%.6g,"
                         "%llu,%.6g,%.3f,%.2f,",
                         sweep_name(p.sweep), sim::fading_name(p.channel.fading), snr_of(p),
                         ebno_of(p), p.channel.ppm, p.channel.offset_hz,
                         static_cast<unsigned long long>(p.channel.seed), receiver_names[k],
                         static_cast<unsigned long long>(c.frames_sent),
                         static_cast<unsigned long long>(c.frames_received),
                         static_cast<unsigned long long>(c.frames_extra),
                         static_cast<unsigned long long>(c.lost()),
                         static_cast<unsigned long long>(c.bit_errors), c.ber(),
                         static_cast<unsigned long long>(c.frames_in_error), c.fer(),
                         static_cast<double>(c.lost()) / minutes, r.first_intact[k]);
            if (p.sweep == Sweep::awgn)
                std::fprintf(csv, "%.6g\n", bench::ideal_ber_at_ebno_db(ebno_of(p)));
            else
                std::fprintf(csv, "\n");
        }
    std::fclose(csv);
    return true;
}

bool write_plot(const std::filesystem::path& dir, const std::vector<Result>& results) {
    // One file per curve and receiver; points with no error cannot go on a log scale.
    const auto curve = [&](const std::string& name, std::size_t k, auto keep, auto x) {
        std::FILE* f = std::fopen((dir / name).c_str(), "w");
        if (!f) return false;
        for (const Result& r : results)
            if (keep(r) && r.rx[k].bit_errors > 0)
                std::fprintf(f, "%.4f %.6g\n", x(r), r.rx[k].ber());
        std::fclose(f);
        return true;
    };
    bool ok = true;
    for (std::size_t k = 0; k < 2; ++k) {
        const std::string suffix = std::string("_") + receiver_names[k] + ".dat";
        ok = ok &&
             curve(
                 "awgn" + suffix, k, [](const Result& r) { return r.point.sweep == Sweep::awgn; },
                 [](const Result& r) { return ebno_of(r.point); });
        for (sim::Fading f : {sim::Fading::good, sim::Fading::moderate, sim::Fading::poor})
            ok = ok && curve(
                           std::string("fading_") + sim::fading_name(f) + suffix, k,
                           [f](const Result& r) {
                               return r.point.sweep == Sweep::fading && r.point.channel.fading == f;
                           },
                           [](const Result& r) { return snr_of(r.point); });
    }
    std::FILE* ideal = std::fopen((dir / "ideal.dat").c_str(), "w");
    if (!ideal) return false;
    for (int k = 0; k <= 14 * 8; ++k)
        std::fprintf(ideal, "%.3f %.6g\n", k / 8.0, bench::ideal_ber_at_ebno_db(k / 8.0));
    std::fclose(ideal);

    std::FILE* gp = std::fopen((dir / "ber.gp").c_str(), "w");
    if (!gp) return false;
    std::fputs(
        "set terminal pngcairo size 1200,500 font 'Sans,10'\n"
        "set output 'ber.png'\n"
        "set multiplot layout 1,2\n"
        "set logscale y\n"
        "set format y '10^{%L}'\n"
        "set yrange [1e-6:0.5]\n"
        "set grid xtics ytics mytics\n"
        "set key bottom left\n"
        "set title 'AWGN'\n"
        "set xlabel 'Eb/N0 (dB), Eb = received power / 1400 bit/s'\n"
        "set ylabel 'bit error rate'\n"
        "set xrange [0:14]\n"
        "plot 'awgn_differential.dat' using 1:2 with linespoints pt 7 title 'differential "
        "receiver', \\\n"
        "     'awgn_enhanced.dat' using 1:2 with linespoints pt 5 title 'enhanced receiver', \\\n"
        "     'ideal.dat' using 1:2 with lines dt 2 lw 2 title 'ideal differential detector'\n"
        "set title 'Two-path fading (solid: enhanced, dashed: differential)'\n"
        "set xlabel 'SNR in 3000 Hz (dB)'\n"
        "set xrange [0:30]\n"
        "set key top right\n"
        "plot 'fading_good_enhanced.dat' using 1:2 with linespoints lc 1 pt 7 title 'good', \\\n"
        "     'fading_good_differential.dat' using 1:2 with linespoints lc 1 dt 2 pt 6 notitle, "
        "\\\n"
        "     'fading_moderate_enhanced.dat' using 1:2 with linespoints lc 2 pt 5 "
        "title 'moderate', \\\n"
        "     'fading_moderate_differential.dat' using 1:2 with linespoints lc 2 dt 2 pt 4 "
        "notitle, \\\n"
        "     'fading_poor_enhanced.dat' using 1:2 with linespoints lc 4 pt 9 title 'poor', \\\n"
        "     'fading_poor_differential.dat' using 1:2 with linespoints lc 4 dt 2 pt 8 notitle\n"
        "unset multiplot\n",
        gp);
    std::fclose(gp);
    return ok;
}

// Transmitted frames at the end that are not counted: the recording stops there, and a frame
// is only out of a receiver its latency after its end, later still where the symbol timing
// sits late in its symbol (up to one symbol) or the clock error has moved it. A frame that
// would come out after the last sample is not lost by the receiver, so the window ends where
// the slower receiver still delivers, with a symbol and a half to spare.
std::size_t tail_frames(double latency) {
    const double spare = 1.5 * modem::samples_per_symbol_48k;
    return 1 + static_cast<std::size_t>(std::ceil((latency + spare) / modem::block_samples));
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 300.0;
    int threads = 2;
    std::string only;
    std::filesystem::path dir = "out/ber";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else if (std::strcmp(argv[i], "--threads") == 0 && i + 1 < argc) {
            threads = std::clamp(std::atoi(argv[++i]), 1, 2);
        } else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) {
            only = argv[++i];
        } else if (argv[i][0] == '-') {
            std::fprintf(stderr,
                         "usage: ber_bench [--seconds S] [--threads 1|2] [--only SWEEP] "
                         "[OUT_DIR]\n");
            return 2;
        } else {
            dir = argv[i];
        }
    }
    if (!(seconds >= 60.0)) {
        std::fprintf(stderr, "ber_bench: --seconds must be at least 60 (80 000 bits a point)\n");
        return 2;
    }
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        std::fprintf(stderr, "ber_bench: %s: %s\n", dir.c_str(), ec.message().c_str());
        return 2;
    }

    const auto frames = static_cast<std::size_t>(seconds * 25.0);
    const std::vector<double> clean = bench::transmit_test_frames(frames);
    // Each receiver's delay from a frame's end to its delivery, from the clean signal.
    std::array<double, 2> latency{};
    const std::size_t probe = std::min<std::size_t>(clean.size(), 20 * 48000);
    for (std::size_t k = 0; k < 2; ++k)
        latency[k] =
            bench::frame_latency(bench::receive_timed(std::span(clean).first(probe), receivers[k]));
    bench::FrameWindow window;
    window.first = 50;
    window.last = frames - tail_frames(std::max(latency[0], latency[1]));
    const double minutes = static_cast<double>(window.last - window.first) * 0.04 / 60.0;
    std::vector<Point> points = sweep_points();
    if (!only.empty())  // one sweep (awgn, fading, clock, offset) or one fading (moderate)
        std::erase_if(points, [&](const Point& p) {
            return only != sweep_name(p.sweep) && only != sim::fading_name(p.channel.fading);
        });
    std::vector<Result> results(points.size());
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> done{0};
    const auto worker = [&] {
        for (std::size_t k; (k = next.fetch_add(1)) < points.size();) {
            timespec t0{};
            timespec t1{};
            clock_gettime(CLOCK_MONOTONIC, &t0);
            results[k] = run_point(points[k], clean, window, latency);
            clock_gettime(CLOCK_MONOTONIC, &t1);
            results[k].seconds = static_cast<double>(t1.tv_sec - t0.tv_sec) +
                                 static_cast<double>(t1.tv_nsec - t0.tv_nsec) * 1e-9;
            std::fprintf(stderr, "\r%zu/%zu points", done.fetch_add(1) + 1, points.size());
        }
    };
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) pool.emplace_back(worker);
    for (auto& t : pool) t.join();
    std::fprintf(stderr, "\n");

    double cpu = 0.0;
    for (const Result& r : results) cpu += r.seconds;
    std::printf(
        "%zu points of %.0f s (%zu frames) each, counted over frames %llu..%llu "
        "(%llu data bits), %d thread(s), %.0f s of work\n",
        points.size(), static_cast<double>(frames) * 0.04, frames,
        static_cast<unsigned long long>(window.first),
        static_cast<unsigned long long>(window.last - 1),
        static_cast<unsigned long long>((window.last - window.first) * 54), threads, cpu);
    print_awgn(results);
    print_fading(results);
    print_lost(results, minutes);
    print_llr(results);
    std::printf(
        "\nlatency: differential %.0f, enhanced %.0f samples at 48 kHz after a frame's end\n",
        latency[0], latency[1]);

    if (!write_csv(dir, results, minutes) || !write_plot(dir, results)) {
        std::fprintf(stderr, "ber_bench: cannot write into %s\n", dir.c_str());
        return 1;
    }
    const std::string plot = "cd '" + dir.string() + "' && gnuplot ber.gp";
    if (std::system(plot.c_str()) != 0)
        std::printf("\ngnuplot failed: %s/ber.gp not drawn\n", dir.c_str());
    std::printf("\nwrote %s/ber.csv, %s/ber.png\n", dir.c_str(), dir.c_str());
    return 0;
}
