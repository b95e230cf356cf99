#include "codec/nn_layers.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace tarpo::codec::nn {

namespace {

float activate(Activation a, float v) {
    switch (a) {
        case Activation::tanh:
            return std::tanh(v);
        case Activation::sigmoid:
            return 1.0f / (1.0f + std::exp(-v));
        case Activation::relu:
            return v > 0.0f ? v : 0.0f;
        case Activation::linear:
            break;
    }
    return v;
}

// out[o] = b[o] + sum_i W[o][i] in[i]: a plain loop the compiler vectorises.
void affine(const float* weights, const float* bias, const float* in, int inputs, int outputs,
            float* out) {
    for (int o = 0; o < outputs; ++o) {
        const float* row = weights + static_cast<long>(o) * inputs;
        float sum = 0.0f;
        for (int i = 0; i < inputs; ++i) sum += row[i] * in[i];
        out[o] = sum + bias[o];
    }
}

}  // namespace

void dense(const DenseLayer& layer, const float* in, float* out) {
    affine(layer.weights, layer.bias, in, layer.inputs, layer.outputs, out);
    for (int o = 0; o < layer.outputs; ++o) out[o] = activate(layer.activation, out[o]);
}

void gru(const GruLayer& layer, const float* in, float* state) {
    const int n = std::min(layer.units, max_units);
    std::array<float, 3 * max_units> x{};
    std::array<float, 3 * max_units> h{};
    affine(layer.input_weights, layer.bias, in, layer.inputs, 3 * n, x.data());
    affine(layer.recurrent_weights, layer.recurrent_bias, state, n, 3 * n, h.data());
    for (int u = 0; u < n; ++u) {
        const float z = activate(Activation::sigmoid, x[u] + h[u]);
        const float r = activate(Activation::sigmoid, x[n + u] + h[n + u]);
        const float candidate = std::tanh(x[2 * n + u] + r * h[2 * n + u]);
        state[u] = z * state[u] + (1.0f - z) * candidate;
    }
}

void conv1d(const Conv1dLayer& layer, const float* in, float* history, float* out) {
    const int past = (layer.kernel - 1) * layer.inputs;
    std::array<float, 4 * max_units> window{};
    const int width = std::min(past + layer.inputs, static_cast<int>(window.size()));
    std::copy_n(history, std::min(past, width), window.begin());
    std::copy_n(in, std::max(0, width - past), window.begin() + std::min(past, width));
    affine(layer.weights, layer.bias, window.data(), width, layer.outputs, out);
    for (int o = 0; o < layer.outputs; ++o) out[o] = activate(layer.activation, out[o]);
    // The oldest frame goes; this one joins.
    std::copy(window.begin() + layer.inputs, window.begin() + width, history);
}

}  // namespace tarpo::codec::nn
