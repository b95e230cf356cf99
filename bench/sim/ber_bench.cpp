// Bit-error-rate benchmark of the modem over the simulated HF channel, in memory: AWGN against
// Eb/N0 beside the ideal differential detector, the three fading channels against SNR, and
// frames lost per minute with sound-card clock errors and mistuning. Prints tables, writes
// ber.csv, the gnuplot data and script, and ber.png (when gnuplot is there).
//
//   ber_bench [--seconds S] [--threads 1|2] [OUT_DIR]     (default 300 s per point, out/ber)
//
// Every point sends the same test frames through its own channel and a fresh receiver; the
// first 2 s (the receiver's start) and the last 0.2 s are not counted. BER: the
// TestFrameChecker's count over the received frames, the checker started aligned (see
// receive_test_frames). Frames lost: transmitted frames that never came out of the receiver
// with all 54 voice bits right (dropped or slipped by the receiver, or received with any wrong
// bit), per minute of transmitted signal.
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

struct Result {
    Point point;
    bench::ReceiveCounts counts;
    bench::DetectorAnalysis analysis;  // AWGN points only
    double seconds = 0.0;              // run time, s
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
                 const bench::FrameWindow& window) {
    Result r;
    r.point = point;
    sim::ChannelResult out = sim::simulate_channel(clean, point.channel);
    r.counts = bench::receive_test_frames(out.samples, window);
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
    for (double offset : {-5.0, -3.0, 3.0, 5.0})
        add(Sweep::offset, 10.0, sim::Fading::none, 0.0, offset);
    return points;
}

void print_awgn(const std::vector<Result>& results) {
    std::vector<double> x;
    std::vector<double> ber;
    std::printf("\nAWGN: BER against Eb/N0 (Eb = whole received power / 1400 bit/s)\n");
    std::printf("%7s %7s %9s %9s %12s %12s %12s %8s\n", "Eb/N0", "SNR", "bits", "errors", "BER",
                "BER tracked", "ideal BER", "slips");
    for (const Result& r : results) {
        if (r.point.sweep != Sweep::awgn) continue;
        const double e = ebno_of(r.point);
        std::printf("%7.1f %7.2f %9llu %9llu %12.4g %12.4g %12.4g %8llu\n", e, snr_of(r.point),
                    static_cast<unsigned long long>(r.counts.bits()),
                    static_cast<unsigned long long>(r.counts.bit_errors), r.counts.ber(),
                    r.counts.tracked_ber(), bench::ideal_ber_at_ebno_db(e),
                    static_cast<unsigned long long>(r.counts.realignments));
        x.push_back(e);
        ber.push_back(r.counts.ber());
    }
    for (double target : {1e-2, 1e-3}) {
        const double measured = bench::crossing_db(x, ber, target);
        const double ideal = bench::ideal_ebno_db_at_ber(target);
        std::printf(
            "BER %.0e: Eb/N0 %.2f dB measured, %.2f dB ideal detector, "
            "implementation loss %.2f dB\n",
            target, measured, ideal, measured - ideal);
    }

    std::printf(
        "\nWhere the loss goes: a genie splits what reaches the decisions (dB of symbol SNR "
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
                    ebno_of(r.point), r.counts.ber(), a.predicted_ber(), pilot, filters,
                    db(a.snr() / eq[0]), db(eq[0] / eq[1]), db(eq[1] / eq[2]), db(eq[2] / eq[3]),
                    db(ideal / eq[3]), a.max_split_error);
    }
    // Per-carrier detector SNR at the point nearest BER 1e-2: the edge carriers show what the
    // transmitter's band limit costs.
    const Result* nearest = nullptr;
    for (const Result& r : results)
        if (r.point.sweep == Sweep::awgn &&
            (!nearest || std::abs(std::log10(std::max(r.counts.ber(), 1e-9)) + 2.0) <
                             std::abs(std::log10(std::max(nearest->counts.ber(), 1e-9)) + 2.0)))
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
            for (std::size_t n = 0; n < modem::tx_lowpass_taps.size(); ++n)
                h += modem::tx_lowpass_taps[n] *
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
        "\nFading: BER against SNR in 3000 Hz. BER: the checker's count; tracked: the genie's, "
        "which follows frame slips at once;\nintact: frames delivered with all 54 bits right, "
        "%% of the frames sent\n");
    std::printf("%6s", "SNR");
    for (const char* name : {"good", "moderate", "poor"})
        std::printf(" %10s %10s %7s", name, "tracked", "intact");
    std::printf("\n");
    for (int snr = 0; snr <= 30; snr += 3) {
        std::printf("%6d", snr);
        for (sim::Fading f : {sim::Fading::good, sim::Fading::moderate, sim::Fading::poor}) {
            for (const Result& r : results) {
                if (r.point.sweep != Sweep::fading || r.point.channel.fading != f ||
                    snr_of(r.point) != snr)
                    continue;
                std::printf(" %10.4g %10.4g %6.1f%%", r.counts.ber(), r.counts.tracked_ber(),
                            100.0 * static_cast<double>(r.counts.frames_delivered) /
                                static_cast<double>(r.counts.frames_in_window));
            }
        }
        std::printf("\n");
    }
}

void print_lost(const std::vector<Result>& results, double minutes) {
    std::printf(
        "\nClock error and mistuning at SNR 10 dB (Eb/N0 13.3 dB): frames lost per minute "
        "(transmitted frames not delivered with\nall 54 bits right, over %.2f min)\n",
        minutes);
    std::printf("%10s %10s %9s %9s %9s %12s %10s\n", "clock ppm", "offset Hz", "assembled", "sent",
                "delivered", "BER", "lost/min");
    for (const Result& r : results) {
        if (r.point.sweep != Sweep::clock && r.point.sweep != Sweep::offset &&
            r.point.sweep != Sweep::reference)
            continue;
        std::printf("%10.0f %10.0f %9llu %9llu %9llu %12.4g %10.2f%s\n", r.point.channel.ppm,
                    r.point.channel.offset_hz,
                    static_cast<unsigned long long>(r.counts.frames_assembled),
                    static_cast<unsigned long long>(r.counts.frames_in_window),
                    static_cast<unsigned long long>(r.counts.frames_delivered), r.counts.ber(),
                    static_cast<double>(r.counts.frames_lost()) / minutes,
                    r.point.sweep == Sweep::reference ? "   (no noise)" : "");
    }
}

bool write_outputs(const std::filesystem::path& dir, const std::vector<Result>& results,
                   double minutes) {
    std::FILE* csv = std::fopen((dir / "ber.csv").c_str(), "w");
    if (!csv) return false;
    std::fprintf(csv,
                 "sweep,fading,snr_db,ebno_db,ppm,offset_hz,seed,frames_assembled,frames_sent,"
                 "frames_counted,realignments,bits,bit_errors,ber,tracked_frames,tracked_errors,"
                 "tracked_ber,ideal_ber,frames_delivered,"
                 "frames_lost_per_min,detector_snr_db,ber_predicted\n");
    for (const Result& r : results) {
        const auto& p = r.point;
        const bool awgn = p.sweep == Sweep::awgn;
        std::fprintf(
            csv,
            "%s,%s,%.4f,%.4f,%.0f,%.1f,%llu,%llu,%llu,%llu,%llu,%llu,%llu,%.6g,"
            "%llu,%llu,%.6g,",
            sweep_name(p.sweep), sim::fading_name(p.channel.fading), snr_of(p), ebno_of(p),
            p.channel.ppm, p.channel.offset_hz, static_cast<unsigned long long>(p.channel.seed),
            static_cast<unsigned long long>(r.counts.frames_assembled),
            static_cast<unsigned long long>(r.counts.frames_in_window),
            static_cast<unsigned long long>(r.counts.frames_counted),
            static_cast<unsigned long long>(r.counts.realignments),
            static_cast<unsigned long long>(r.counts.bits()),
            static_cast<unsigned long long>(r.counts.bit_errors), r.counts.ber(),
            static_cast<unsigned long long>(r.counts.tracked_frames),
            static_cast<unsigned long long>(r.counts.tracked_errors), r.counts.tracked_ber());
        if (awgn)
            std::fprintf(csv, "%.6g,", bench::ideal_ber_at_ebno_db(ebno_of(p)));
        else
            std::fprintf(csv, ",");
        std::fprintf(csv, "%llu,%.3f,", static_cast<unsigned long long>(r.counts.frames_delivered),
                     static_cast<double>(r.counts.frames_lost()) / minutes);
        if (awgn)
            std::fprintf(csv, "%.3f,%.6g\n", db(r.analysis.snr()), r.analysis.predicted_ber());
        else
            std::fprintf(csv, ",\n");
    }
    std::fclose(csv);

    // Plot data: one file per curve, the genie's count (it follows frame slips at once; on AWGN
    // from 3 dB up it equals the checker's); points with no error cannot go on a log scale.
    const auto curve = [&](const char* name, auto keep, auto x) {
        std::FILE* f = std::fopen((dir / name).c_str(), "w");
        if (!f) return false;
        for (const Result& r : results)
            if (keep(r) && r.counts.tracked_errors > 0)
                std::fprintf(f, "%.4f %.6g\n", x(r), r.counts.tracked_ber());
        std::fclose(f);
        return true;
    };
    bool ok = curve(
        "awgn.dat", [](const Result& r) { return r.point.sweep == Sweep::awgn; },
        [](const Result& r) { return ebno_of(r.point); });
    for (sim::Fading f : {sim::Fading::good, sim::Fading::moderate, sim::Fading::poor}) {
        const std::string name = std::string("fading_") + sim::fading_name(f) + ".dat";
        ok = ok && curve(
                       name.c_str(),
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
        "plot 'awgn.dat' using 1:2 with linespoints pt 7 title 'receiver', \\\n"
        "     'ideal.dat' using 1:2 with lines dt 2 lw 2 title 'ideal differential detector'\n"
        "set title 'Two-path fading'\n"
        "set xlabel 'SNR in 3000 Hz (dB)'\n"
        "set xrange [0:30]\n"
        "set key top right\n"
        "plot 'fading_good.dat' using 1:2 with linespoints pt 7 title 'good (0.5 ms, 0.1 Hz)', "
        "\\\n"
        "     'fading_moderate.dat' using 1:2 with linespoints pt 5 title 'moderate (1 ms, "
        "0.5 Hz)', \\\n"
        "     'fading_poor.dat' using 1:2 with linespoints pt 9 title 'poor (2 ms, 1 Hz)'\n"
        "unset multiplot\n",
        gp);
    std::fclose(gp);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 300.0;
    int threads = 2;
    std::filesystem::path dir = "out/ber";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else if (std::strcmp(argv[i], "--threads") == 0 && i + 1 < argc) {
            threads = std::clamp(std::atoi(argv[++i]), 1, 2);
        } else if (argv[i][0] == '-') {
            std::fprintf(stderr, "usage: ber_bench [--seconds S] [--threads 1|2] [OUT_DIR]\n");
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
    bench::FrameWindow window;
    window.first = 50;
    window.last = frames - 5;
    const double minutes = static_cast<double>(window.last - window.first) * 0.04 / 60.0;
    const std::vector<Point> points = sweep_points();
    std::vector<Result> results(points.size());
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> done{0};
    const auto worker = [&] {
        for (std::size_t k; (k = next.fetch_add(1)) < points.size();) {
            timespec t0{};
            timespec t1{};
            clock_gettime(CLOCK_MONOTONIC, &t0);
            results[k] = run_point(points[k], clean, window);
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

    if (!write_outputs(dir, results, minutes)) {
        std::fprintf(stderr, "ber_bench: cannot write into %s\n", dir.c_str());
        return 1;
    }
    const std::string plot = "cd '" + dir.string() + "' && gnuplot ber.gp";
    if (std::system(plot.c_str()) != 0)
        std::printf("\ngnuplot failed: %s/ber.gp not drawn\n", dir.c_str());
    std::printf("\nwrote %s/ber.csv, %s/ber.png\n", dir.c_str(), dir.c_str());
    return 0;
}
