// The learned decoder's layers against slow references written out plainly in double, on random
// weights, and the same outputs to the bit on a second run.
#include "codec/nn_layers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace tarpo::codec::nn {
namespace {

std::vector<float> random_floats(std::mt19937& rng, std::size_t n, float scale = 0.5f) {
    std::uniform_real_distribution<float> d(-scale, scale);
    std::vector<float> v(n);
    for (float& x : v) x = d(rng);
    return v;
}

double activated(Activation a, double v) {
    if (a == Activation::tanh) return std::tanh(v);
    if (a == Activation::sigmoid) return 1.0 / (1.0 + std::exp(-v));
    if (a == Activation::relu) return std::max(v, 0.0);
    return v;
}

double sigmoid(double v) {
    return 1.0 / (1.0 + std::exp(-v));
}

TEST(NnLayers, DenseMatchesThePlainSumForEveryActivation) {
    std::mt19937 rng(1);
    const int inputs = 37, outputs = 19;
    const auto w = random_floats(rng, inputs * outputs);
    const auto b = random_floats(rng, outputs);
    const auto in = random_floats(rng, inputs, 2.0f);
    for (const Activation a :
         {Activation::linear, Activation::tanh, Activation::sigmoid, Activation::relu}) {
        std::vector<float> out(outputs);
        dense(DenseLayer{w.data(), b.data(), inputs, outputs, a}, in.data(), out.data());
        for (int o = 0; o < outputs; ++o) {
            double sum = b[o];
            for (int i = 0; i < inputs; ++i) sum += double(w[o * inputs + i]) * in[i];
            EXPECT_NEAR(out[o], activated(a, sum), 1e-5);
        }
    }
}

// Twenty steps of a GRU on random frames, in floats by the kernel and in doubles here.
std::vector<float> run_gru(const GruLayer& layer, const std::vector<std::vector<float>>& frames) {
    std::vector<float> state(static_cast<std::size_t>(layer.units), 0.0f);
    for (const auto& f : frames) gru(layer, f.data(), state.data());
    return state;
}

TEST(NnLayers, GruFollowsTheReferenceOverASequenceAndRepeatsToTheBit) {
    std::mt19937 rng(2);
    const int inputs = 12, units = 24;
    const auto wx = random_floats(rng, 3 * units * inputs);
    const auto wh = random_floats(rng, 3 * units * units);
    const auto bx = random_floats(rng, 3 * units);
    const auto bh = random_floats(rng, 3 * units);
    std::vector<std::vector<float>> frames;
    for (int t = 0; t < 20; ++t) frames.push_back(random_floats(rng, inputs, 1.5f));
    const GruLayer layer{wx.data(), wh.data(), bx.data(), bh.data(), inputs, units};

    std::vector<double> s(units, 0.0);
    for (const auto& f : frames) {
        std::vector<double> x(3 * units), h(3 * units);
        for (int k = 0; k < 3 * units; ++k) {
            x[k] = bx[k];
            for (int i = 0; i < inputs; ++i) x[k] += double(wx[k * inputs + i]) * f[i];
            h[k] = bh[k];
            for (int j = 0; j < units; ++j) h[k] += double(wh[k * units + j]) * s[j];
        }
        std::vector<double> next(units);
        for (int u = 0; u < units; ++u) {
            const double z = sigmoid(x[u] + h[u]);
            const double r = sigmoid(x[units + u] + h[units + u]);
            next[u] = z * s[u] + (1 - z) * std::tanh(x[2 * units + u] + r * h[2 * units + u]);
        }
        s = next;
    }
    const auto state = run_gru(layer, frames);
    for (int u = 0; u < units; ++u) EXPECT_NEAR(state[u], s[u], 1e-4);
    EXPECT_EQ(run_gru(layer, frames), state);
}

TEST(NnLayers, CausalConvolutionSeesThisFrameAndTheKernelBefore) {
    std::mt19937 rng(3);
    const int inputs = 5, outputs = 7, kernel = 3;
    const auto w = random_floats(rng, outputs * kernel * inputs);
    const auto b = random_floats(rng, outputs);
    const Conv1dLayer layer{w.data(), b.data(), inputs, outputs, kernel, Activation::tanh};
    std::vector<std::vector<float>> frames;
    for (int t = 0; t < 10; ++t) frames.push_back(random_floats(rng, inputs, 1.0f));
    std::vector<float> history((kernel - 1) * inputs, 0.0f);
    for (int t = 0; t < 10; ++t) {
        std::vector<float> out(outputs);
        conv1d(layer, frames[t].data(), history.data(), out.data());
        for (int o = 0; o < outputs; ++o) {
            double sum = b[o];
            for (int k = 0; k < kernel; ++k) {
                const int frame = t - (kernel - 1) + k;  // oldest first; before the start: zeros
                if (frame < 0) continue;
                for (int i = 0; i < inputs; ++i)
                    sum += double(w[(o * kernel + k) * inputs + i]) * frames[frame][i];
            }
            ASSERT_NEAR(out[o], std::tanh(sum), 1e-5) << t << " " << o;
        }
    }
}

}  // namespace
}  // namespace tarpo::codec::nn
