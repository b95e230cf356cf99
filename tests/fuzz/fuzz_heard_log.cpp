// The heard log's writers: any callsign text (and any reception times) into an entry. Property:
// its CSV line reads back as the same eight fields, the callsign whole; its ADIF record reads
// back as one record whose CALL is the callsign, every field within its stated length; and a
// decoded text stored as a callsign has no control character.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/heard_log.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 8) return 0;
    using namespace tarpo::engine;
    HeardEntry e;
    std::uint32_t seconds = 0;
    std::memcpy(&seconds, data, 4);
    e.start_ms = std::int64_t{seconds} * 1000;  // 1970..2106
    e.end_ms = e.start_ms + data[4] * 1000;
    e.best_snr_db = static_cast<std::int8_t>(data[5]);
    e.mean_snr_db = e.best_snr_db;
    if (data[6] & 1) e.dial_hz = 14.2e6 + data[7];
    e.callsign.assign(reinterpret_cast<const char*>(data) + 8, size - 8);

    const auto records = read_csv(csv_header() + "\n" + csv_line(e) + "\n");
    check(records.size() == 2 && records[1].size() == 8 && records[1][2] == e.callsign);

    const auto adif = read_adif(adif_header() + adif_record(e));
    check(adif.size() == 1 && !adif[0].empty());
    check(adif[0][0].name == "CALL" && adif[0][0].value == e.callsign);

    const std::string stored = stored_callsign(e.callsign);
    for (const char c : stored) check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7f);
    return 0;
}
