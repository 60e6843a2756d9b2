// Direct convolution for the kinds of 2-D convolution that OpenCV 4.6's dnn module runs slowly
// on the CPU: depthwise ones (one filter per channel) with kernels other than 3 x 3, dense ones
// over very few input channels (a network's first layer on an RGB picture), and pointwise ones
// (1 x 1, stride 1, no padding: a matrix product of the weights and the input planes). The first
// two loop over output rows with the filter taps outermost, so the inner loops run along whole
// rows; the pointwise one keeps a block of outputs in registers while it runs over the inputs.
//
// installDirectConvolution() makes dnn's importers build such layers this way; every other
// convolution (and any with dilation, automatic padding or other than 2-D) is still built by
// OpenCV. Results agree with OpenCV's within float rounding.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include <opencv2/dnn.hpp>

namespace vantry::platform {

struct DirectConvolutionShape {
    int inChannels = 0;
    int outChannels = 0;
    bool depthwise = false;  // one filter per channel (inChannels == outChannels)
    bool pointwise = false;  // dense 1 x 1, stride 1, no padding
    int kernelH = 0, kernelW = 0;
    int strideY = 1, strideX = 1;
    int padTop = 0, padLeft = 0, padBottom = 0, padRight = 0;
};

// Input channels up to which a dense convolution of any kernel is run directly (above it, only
// pointwise ones are).
inline constexpr int kDirectConvolutionMaxDenseInputs = 4;

// The shape of a convolution OpenCV would build from params when it is one of the two kinds
// above; nothing otherwise.
std::unique_ptr<DirectConvolutionShape> directConvolutionShape(const cv::dnn::LayerParams& params);

// One image (batch item): in is [inChannels, inH, inW], out [outChannels, outH, outW]; weights
// [outChannels, inChannels or 1, kernelH, kernelW]; bias may be null.
void directConvolution(const DirectConvolutionShape& shape, const float* in, int inH, int inW,
                       const float* weights, const float* bias, float* out, int outH, int outW,
                       std::vector<float>& scratch);

// Registers the convolution constructor with dnn's layer factory (once per process; later calls
// do nothing). Networks read afterwards get the direct layers.
void installDirectConvolution();

}  // namespace vantry::platform
