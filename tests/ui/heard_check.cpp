// Reads back what a receiving station left behind, for the two-station test:
//   heard_check adif FILE          each field of each record as "NAME=VALUE", "--" after each
//                                  record; status 1 when the file holds no record
//   heard_check stoi CLEAN PROC    the intelligibility (STOI) of PROC against CLEAN, after
//                                  finding where PROC's speech lies in CLEAN
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/wavfile.h"
#include "bench/quality/quality.h"
#include "engine/heard_log.h"

namespace {

int print_adif(const char* path) {
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    const auto records = tarpo::engine::read_adif(text.str());
    for (const auto& record : records) {
        for (const auto& field : record)
            std::printf("%s=%s\n", field.name.c_str(), field.value.c_str());
        std::printf("--\n");
    }
    return records.empty() ? 1 : 0;
}

int print_stoi(const char* clean_path, const char* processed_path) {
    std::vector<double> clean;
    std::vector<double> processed;
    tarpo::app::SoundInfo info;
    std::string error;
    if (!tarpo::app::read_sound(clean_path, 8000, clean, info, error) ||
        !tarpo::app::read_sound(processed_path, 8000, processed, info, error)) {
        std::fprintf(stderr, "heard_check: %s\n", error.c_str());
        return 2;
    }
    // The recording starts with the reception; the other file earlier: find the recording in it.
    const std::size_t most = clean.size() > processed.size() ? clean.size() - processed.size() : 0;
    const std::size_t delay = tarpo::quality::envelope_delay(processed, clean, most);
    tarpo::quality::align(processed, clean, delay);
    std::printf("delay %.3f s, %.2f s compared, stoi %.4f\n", delay / 8000.0, clean.size() / 8000.0,
                tarpo::quality::stoi(clean, processed, 8000.0));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string verb = argc > 1 ? argv[1] : "";
    if (verb == "adif" && argc == 3) return print_adif(argv[2]);
    if (verb == "stoi" && argc == 4) return print_stoi(argv[2], argv[3]);
    std::fprintf(stderr, "usage: heard_check adif FILE | heard_check stoi CLEAN PROCESSED\n");
    return 2;
}
