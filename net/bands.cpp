#include "net/bands.h"

#include <array>

namespace tarpo::net {

namespace {

struct Band {
    std::uint64_t low_hz;
    std::uint64_t high_hz;  // inclusive
    std::string_view name;
};

// The ADIF band table's edges, longest wave first.
constexpr std::array<Band, 24> bands{{
    {135'700, 137'800, "2190m"},
    {472'000, 479'000, "630m"},
    {501'000, 504'000, "560m"},
    {1'800'000, 2'000'000, "160m"},
    {3'500'000, 4'000'000, "80m"},
    {5'060'000, 5'450'000, "60m"},
    {7'000'000, 7'300'000, "40m"},
    {10'100'000, 10'150'000, "30m"},
    {14'000'000, 14'350'000, "20m"},
    {18'068'000, 18'168'000, "17m"},
    {21'000'000, 21'450'000, "15m"},
    {24'890'000, 24'990'000, "12m"},
    {28'000'000, 29'700'000, "10m"},
    {40'000'000, 45'000'000, "8m"},
    {50'000'000, 54'000'000, "6m"},
    {54'000'001, 69'900'000, "5m"},
    {70'000'000, 71'000'000, "4m"},
    {144'000'000, 148'000'000, "2m"},
    {222'000'000, 225'000'000, "1.25m"},
    {420'000'000, 450'000'000, "70cm"},
    {902'000'000, 928'000'000, "33cm"},
    {1'240'000'000, 1'300'000'000, "23cm"},
    {2'300'000'000, 2'450'000'000, "13cm"},
    {3'300'000'000, 3'500'000'000, "9cm"},
}};

}  // namespace

std::string_view band_of(std::uint64_t frequency_hz) {
    for (const Band& b : bands)
        if (frequency_hz >= b.low_hz && frequency_hz <= b.high_hz) return b.name;
    return {};
}

}  // namespace tarpo::net
