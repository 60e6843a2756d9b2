// Two dnn layers that OpenCV 4.6 runs with per-element scalar loops, in loops the compiler
// vectorises: the logistic sigmoid (1 / (1 + e^-x), with e^x from a range-reduced polynomial
// accurate to a few float ulps) and average pooling over whole planes (global pooling).
//
// installFastLayers() makes dnn's importers build those two this way; pooling of any other kind
// is still built by OpenCV. The sigmoid is an activation layer, so it is still fused into the
// convolution before it.
#pragma once

#include <cstddef>

namespace vantry::platform {

// 1 / (1 + e^-x) for n values; src may equal dst.
void fastSigmoid(const float* src, float* dst, std::size_t n);

// The mean of each of `planes` planes of `planeSize` values, into out[planes].
void planeMeans(const float* in, std::size_t planes, std::size_t planeSize, float* out);

// Registers both with dnn's layer factory (once per process; later calls do nothing). Networks
// read afterwards get them.
void installFastLayers();

}  // namespace vantry::platform
