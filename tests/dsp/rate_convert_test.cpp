#include "dsp/rate_convert.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "dsp/filters.h"

namespace {

using tarpo::dsp::lowpass30;

// Slow reference: the direct convolution y[n] = sum_k x[n - 29 + k] tap[k] with x zero
// before the start.
double reference_fir(const std::vector<std::int16_t>& x, std::size_t newest) {
    double sum = 0.0;
    for (std::size_t k = 0; k < 30; ++k) {
        const long index = static_cast<long>(newest) - 29 + static_cast<long>(k);
        if (index >= 0) sum += x[static_cast<std::size_t>(index)] * lowpass30[k];
    }
    return sum;
}

std::vector<std::int16_t> noise(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> dist(-20000, 20000);
    std::vector<std::int16_t> x(n);
    for (auto& v : x) v = static_cast<std::int16_t>(dist(rng));
    return x;
}

TEST(RateConverters, DecimatorsMatchDirectConvolutionAcrossCalls) {
    // Every output is the convolution at the newest sample of its group, whatever the
    // history carried over from earlier calls. Exact equality for decimate4: the same
    // products summed in the same order.
    const auto x = noise(6000, 7);
    tarpo::dsp::Decimator4 d4;
    for (std::size_t j = 0; j < x.size() / 4; ++j)
        ASSERT_EQ(d4.decimate4(&x[4 * j]), reference_fir(x, 4 * j + 3)) << j;
    tarpo::dsp::Decimator6 d6;
    for (std::size_t j = 0; j < x.size() / 6; ++j)
        ASSERT_EQ(d6.decimate6(&x[6 * j]),
                  static_cast<std::int16_t>(std::trunc(reference_fir(x, 6 * j + 5))))
            << j;
}

TEST(RateConverters, BlockDecimationMatchesDirectConvolutionWhateverTheSplit) {
    // Pieces of every kind: single outputs, groups of four with and without a rest, across
    // the local window's chunk boundary, and a whole receive block.
    const auto x = noise(4 * 1200, 11);
    tarpo::dsp::Decimator4 d4;
    std::vector<double> out(480);
    std::size_t done = 0;
    for (const std::size_t n : {1, 3, 4, 5, 47, 48, 49, 97, 480, 1, 465}) {
        d4.decimate(&x[4 * done], out.data(), n);
        for (std::size_t j = 0; j < n; ++j)
            ASSERT_EQ(out[j], reference_fir(x, 4 * (done + j) + 3)) << done + j;
        done += n;
    }
    ASSERT_EQ(done, x.size() / 4);
}

TEST(RateConverters, ConstantInputSettles) {
    const std::int16_t c = 10000;
    const std::int16_t in[6] = {c, c, c, c, c, c};
    tarpo::dsp::Decimator6 d6;
    std::int16_t out6 = 0;
    for (int i = 0; i < 5; ++i) out6 = d6.decimate6(in);
    EXPECT_EQ(out6, static_cast<std::int16_t>(10000 * 0.9951814038));  // 9951, truncated
    tarpo::dsp::Decimator4 d4;
    double out4 = 0;
    for (int i = 0; i < 8; ++i) out4 = d4.decimate4(in);
    EXPECT_NEAR(out4, 10000 * 0.9951814038, 1e-6);

    tarpo::dsp::Interpolator6 up;
    std::int16_t out[6];
    for (int i = 0; i < 6; ++i) up.interpolate6(out, c);
    // Phases 0 and 5 have unit gain at DC, the others 1.0008 to 1.0012.
    EXPECT_NEAR(out[0], c, 1);
    EXPECT_NEAR(out[5], c, 1);
    for (int r = 1; r < 5; ++r) EXPECT_NEAR(out[r], c * 1.001, 3);
}

TEST(RateConverters, FullScaleSaturatesInsteadOfWrapping) {
    // At full scale the phases with a gain above 1 exceed 16 bits: they must stay at the
    // positive limit, not wrap to large negative values.
    tarpo::dsp::Interpolator6 up;
    std::int16_t out[6];
    for (int i = 0; i < 5; ++i) up.interpolate6(out, 32767);
    for (int r = 1; r < 5; ++r) EXPECT_EQ(out[r], 32767) << r;
}

}  // namespace
