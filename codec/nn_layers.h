// The small layers a learned decoder runs: dense, GRU and causal 1-D convolution, on contiguous
// float arrays. Weights are row-major with one row per output (the layout the generated weight
// headers are written in). Nothing allocates and nothing depends on the run: the same weights
// and inputs give the same outputs to the bit.
#pragma once

namespace tarpo::codec::nn {

enum class Activation { linear, tanh, sigmoid, relu };

// The widest layer the kernels take (their scratch is fixed-size).
inline constexpr int max_units = 512;

struct DenseLayer {
    const float* weights;  // outputs x inputs
    const float* bias;     // outputs
    int inputs;
    int outputs;
    Activation activation;
};

// out = activation(W in + b); out must not overlap in.
void dense(const DenseLayer& layer, const float* in, float* out);

// A gated recurrent unit: gates in the order update (z), reset (r), candidate (h~), the reset
// applied to the recurrent product (h~ = tanh(W_h x + b_h + r * (U_h s + c_h))), and the new
// state s' = z * s + (1 - z) * h~.
struct GruLayer {
    const float* input_weights;      // 3 units x inputs
    const float* recurrent_weights;  // 3 units x units
    const float* bias;               // 3 units, on the input side
    const float* recurrent_bias;     // 3 units, on the recurrent side
    int inputs;
    int units;  // at most max_units
};

// One step: state (units floats) is updated in place from the input frame.
void gru(const GruLayer& layer, const float* in, float* state);

// A causal convolution over frames: each output frame sees this input frame and the
// kernel - 1 before it.
struct Conv1dLayer {
    const float* weights;  // outputs x (kernel x inputs), oldest input frame first
    const float* bias;     // outputs
    int inputs;
    int outputs;
    int kernel;  // kernel x inputs at most max_units x 4
    Activation activation;
};

// One step: history holds the (kernel - 1) x inputs floats of the frames before, oldest first,
// and moves on by one frame; out must not overlap in or history.
void conv1d(const Conv1dLayer& layer, const float* in, float* history, float* out);

}  // namespace tarpo::codec::nn
