#include "platform/segmentation/DirectConvolution.h"

#include <algorithm>
#include <limits>
#include <mutex>
#include <string>

#include <opencv2/dnn/all_layers.hpp>
#include <opencv2/dnn/layer.hpp>

#include "common/VectorClones.h"

namespace vantry::platform {
namespace {

// Output positions ox (0 <= ox < outLen) whose input index ox * stride - pad + tap lies in
// [0, inLen): [first, last).
struct Span {
    int first;
    int last;
};
Span validOutputs(int inLen, int outLen, int stride, int pad, int tap) {
    const int lowest = pad - tap;  // ox * stride >= lowest
    const int first = lowest > 0 ? (lowest + stride - 1) / stride : 0;
    const int highest = inLen - 1 + pad - tap;  // ox * stride <= highest
    const int last = highest < 0 ? 0 : std::min(outLen, highest / stride + 1);
    return {std::min(first, last), last};
}

// The product of the weights [outC][inC] and inC planes of P pixels:
// out[o * outStride + p] = bias[o] + sum over i of w[o][i] * in[i * P + p]. A pointwise
// convolution is one, with outStride P. The plain loops, over pixels [first, last) of every
// output channel.
VANTRY_VECTOR_CLONES
void pointwisePlain(const float* in, int inC, int pixels, const float* weights, const float* bias, float* out,
                    int outC, std::ptrdiff_t outStride, int first, int last) {
    if (pixels == 1) {  // a squeeze layer's vector: one dot product per output
        for (int o = 0; o < outC; ++o) {
            const float* __restrict w = weights + std::ptrdiff_t(o) * inC;
            float sum = 0;
            for (int i = 0; i < inC; ++i) sum += w[i] * in[i];
            out[std::ptrdiff_t(o) * outStride] = sum + (bias != nullptr ? bias[o] : 0.0f);
        }
        return;
    }
    for (int o = 0; o < outC; ++o) {
        float* __restrict op = out + std::ptrdiff_t(o) * outStride;
        std::fill(op + first, op + last, bias != nullptr ? bias[o] : 0.0f);
        for (int i = 0; i < inC; ++i) {
            const float wt = weights[std::ptrdiff_t(o) * inC + i];
            const float* __restrict x = in + std::ptrdiff_t(i) * pixels;
            for (int p = first; p < last; ++p) op[p] += wt * x[p];
        }
    }
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VANTRY_POINTWISE_AVX2 1
#include <immintrin.h>

// Blocks of 6 output channels by 16 pixels: 12 accumulators, two input loads and a broadcast
// weight fill the 16 vector registers. The weights of a block are packed input by input.
constexpr int kPointwiseChannels = 6;
constexpr int kPointwisePixels = 16;

void packPointwise(const float* weights, int inC, int blocks, float* packed) {
    for (int b = 0; b < blocks; ++b) {
        for (int i = 0; i < inC; ++i) {
            for (int o = 0; o < kPointwiseChannels; ++o) {
                packed[(std::ptrdiff_t(b) * inC + i) * kPointwiseChannels + o] =
                    weights[std::ptrdiff_t(b * kPointwiseChannels + o) * inC + i];
            }
        }
    }
}

// One block of C output channels (from o0) by 16 pixels (from p). The weight of channel o0 + o
// and input i is w[i * wInput + o * wChannel].
template <int C>
__attribute__((target("avx2,fma"), always_inline)) inline void pointwiseBlock(
    const float* in, int inC, int pixels, int p, const float* w, std::ptrdiff_t wInput,
    std::ptrdiff_t wChannel, const float* bias, int o0, float* out, std::ptrdiff_t outStride) {
    __m256 acc[C][2];
#pragma GCC unroll 6
    for (int o = 0; o < C; ++o) acc[o][0] = acc[o][1] = _mm256_set1_ps(bias != nullptr ? bias[o0 + o] : 0.0f);
    const float* x = in + p;
    for (int i = 0; i < inC; ++i, w += wInput, x += pixels) {
        const __m256 x0 = _mm256_loadu_ps(x);
        const __m256 x1 = _mm256_loadu_ps(x + 8);
#pragma GCC unroll 6
        for (int o = 0; o < C; ++o) {
            const __m256 wt = _mm256_broadcast_ss(w + o * wChannel);
            acc[o][0] = _mm256_fmadd_ps(wt, x0, acc[o][0]);
            acc[o][1] = _mm256_fmadd_ps(wt, x1, acc[o][1]);
        }
    }
#pragma GCC unroll 6
    for (int o = 0; o < C; ++o) {
        float* op = out + std::ptrdiff_t(o0 + o) * outStride + p;
        _mm256_storeu_ps(op, acc[o][0]);
        _mm256_storeu_ps(op + 8, acc[o][1]);
    }
}

// Blocks of 6 channels with packed weights, then the remaining channels in blocks of 4, 2 and 1
// straight from the weights.
__attribute__((target("avx2,fma"))) void pointwiseAvx2(const float* in, int inC, int pixels,
                                                       const float* weights, const float* packed,
                                                       const float* bias, float* out, int outC,
                                                       std::ptrdiff_t outStride) {
    const int blocks = outC / kPointwiseChannels;
    const int whole = pixels / kPointwisePixels * kPointwisePixels;
    for (int p = 0; p < whole; p += kPointwisePixels) {
        for (int b = 0; b < blocks; ++b) {
            pointwiseBlock<kPointwiseChannels>(
                in, inC, pixels, p, packed + std::ptrdiff_t(b) * inC * kPointwiseChannels, kPointwiseChannels,
                1, bias, b * kPointwiseChannels, out, outStride);
        }
        int o = blocks * kPointwiseChannels;
        const float* w = weights + std::ptrdiff_t(o) * inC;
        if (outC - o >= 4) {
            pointwiseBlock<4>(in, inC, pixels, p, w, 1, inC, bias, o, out, outStride);
            o += 4, w += 4 * inC;
        }
        if (outC - o >= 2) {
            pointwiseBlock<2>(in, inC, pixels, p, w, 1, inC, bias, o, out, outStride);
            o += 2, w += 2 * inC;
        }
        if (outC - o >= 1) pointwiseBlock<1>(in, inC, pixels, p, w, 1, inC, bias, o, out, outStride);
    }
    if (whole < pixels) pointwisePlain(in, inC, pixels, weights, bias, out, outC, outStride, whole, pixels);
}

bool haveAvx2() {
    static const bool have = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    return have;
}

// Depthwise with a horizontal stride of 1: eight outputs of a row stay in one register while every
// tap of the filter is added, read from the channel's zero-bordered plane. The row's last
// outputs short of eight take the plain loop.
__attribute__((target("avx2,fma"))) void depthwiseRowsAvx2(const DirectConvolutionShape& s,
                                                           const float* padded, int paddedW, const float* w,
                                                           float b, float* out, int outH, int outW) {
    const int whole = outW / 8 * 8;
    for (int oy = 0; oy < outH; ++oy) {
        float* o = out + std::ptrdiff_t(oy) * outW;
        const float* rows = padded + std::ptrdiff_t(oy * s.strideY) * paddedW;
        for (int x = 0; x < whole; x += 8) {
            __m256 acc = _mm256_set1_ps(b);
            for (int ky = 0; ky < s.kernelH; ++ky) {
                const float* r = rows + std::ptrdiff_t(ky) * paddedW + x;
                const float* wk = w + ky * s.kernelW;
                for (int kx = 0; kx < s.kernelW; ++kx)
                    acc = _mm256_fmadd_ps(_mm256_broadcast_ss(wk + kx), _mm256_loadu_ps(r + kx), acc);
            }
            _mm256_storeu_ps(o + x, acc);
        }
        for (int x = whole; x < outW; ++x) {
            float sum = b;
            for (int ky = 0; ky < s.kernelH; ++ky)
                for (int kx = 0; kx < s.kernelW; ++kx)
                    sum += w[ky * s.kernelW + kx] * rows[std::ptrdiff_t(ky) * paddedW + x + kx];
            o[x] = sum;
        }
    }
}
#endif

// Each channel is copied into a zero-bordered plane first, so that every tap's loop runs over
// the whole output row.
VANTRY_VECTOR_CLONES
void depthwise(const DirectConvolutionShape& s, const float* in, int inH, int inW, const float* weights,
               const float* bias, float* out, int outH, int outW, float* padded) {
    const int taps = s.kernelH * s.kernelW;
    const int paddedH = inH + s.padTop + s.padBottom;
    const int paddedW = inW + s.padLeft + s.padRight;
    std::fill(padded, padded + std::ptrdiff_t(paddedH) * paddedW, 0.0f);
    for (int c = 0; c < s.outChannels; ++c) {
        const float* plane = in + std::ptrdiff_t(c) * inH * inW;
        for (int y = 0; y < inH; ++y) {
            std::copy(plane + std::ptrdiff_t(y) * inW, plane + std::ptrdiff_t(y + 1) * inW,
                      padded + std::ptrdiff_t(y + s.padTop) * paddedW + s.padLeft);
        }
        const float* w = weights + std::ptrdiff_t(c) * taps;
        const float b = bias != nullptr ? bias[c] : 0.0f;
#ifdef VANTRY_POINTWISE_AVX2
        if (s.strideX == 1 && haveAvx2()) {
            depthwiseRowsAvx2(s, padded, paddedW, w, b, out + std::ptrdiff_t(c) * outH * outW, outH, outW);
            continue;
        }
#endif
        for (int oy = 0; oy < outH; ++oy) {
            float* __restrict o = out + (std::ptrdiff_t(c) * outH + oy) * outW;
            std::fill(o, o + outW, b);
            for (int ky = 0; ky < s.kernelH; ++ky) {
                const float* row = padded + std::ptrdiff_t(oy * s.strideY + ky) * paddedW;
                for (int kx = 0; kx < s.kernelW; ++kx) {
                    const float wt = w[ky * s.kernelW + kx];
                    const float* __restrict r = row + kx;
                    if (s.strideX == 1) {
                        for (int ox = 0; ox < outW; ++ox) o[ox] += wt * r[ox];
                    } else {
                        for (int ox = 0; ox < outW; ++ox) o[ox] += wt * r[ox * s.strideX];
                    }
                }
            }
        }
    }
}

// The product above, in blocks where the CPU has AVX2 and FMA (the weights packed into the front
// of scratch; the rest of it is free from `reserved` floats on), else in the plain loops.
void product(const float* in, int inC, int pixels, const float* weights, const float* bias, float* out,
             int outC, std::ptrdiff_t outStride, std::vector<float>& scratch, std::size_t reserved = 0) {
#ifdef VANTRY_POINTWISE_AVX2
    // Fewer pixels than a block (a squeeze layer's 1 x 1 planes): the plain loops, unpacked.
    if (pixels >= kPointwisePixels && haveAvx2()) {
        const int blocks = outC / kPointwiseChannels;
        const std::size_t packedSize = std::size_t(blocks) * kPointwiseChannels * std::size_t(inC);
        if (scratch.size() < reserved + packedSize) scratch.resize(reserved + packedSize);
        float* packed = scratch.data() + reserved;
        packPointwise(weights, inC, blocks, packed);
        pointwiseAvx2(in, inC, pixels, weights, packed, bias, out, outC, outStride);
        return;
    }
#endif
    (void)scratch;
    (void)reserved;
    pointwisePlain(in, inC, pixels, weights, bias, out, outC, outStride, 0, pixels);
}

// Dense convolution over few input channels: per band of output rows, every tap's input is
// gathered into a plane of the band's pixels (zeros outside the picture); the band is then the
// product of the weights [outC][taps] and those planes.
constexpr int kDenseBandPixels = 1024;

VANTRY_VECTOR_CLONES
void gatherBand(const DirectConvolutionShape& s, const float* in, int inH, int inW, int oy0, int rows,
                int outW, float* gathered) {
    const std::ptrdiff_t bandPixels = std::ptrdiff_t(rows) * outW;
    for (int ci = 0; ci < s.inChannels; ++ci) {
        for (int ky = 0; ky < s.kernelH; ++ky) {
            for (int kx = 0; kx < s.kernelW; ++kx) {
                float* plane = gathered + std::ptrdiff_t((ci * s.kernelH + ky) * s.kernelW + kx) * bandPixels;
                const Span span = validOutputs(inW, outW, s.strideX, s.padLeft, kx);
                const int offset = kx - s.padLeft;
                for (int r = 0; r < rows; ++r) {
                    float* __restrict g = plane + std::ptrdiff_t(r) * outW;
                    const int iy = (oy0 + r) * s.strideY - s.padTop + ky;
                    if (iy < 0 || iy >= inH) {
                        std::fill(g, g + outW, 0.0f);
                        continue;
                    }
                    const float* __restrict row = in + (std::ptrdiff_t(ci) * inH + iy) * inW;
                    std::fill(g, g + span.first, 0.0f);
                    for (int ox = span.first; ox < span.last; ++ox) g[ox] = row[ox * s.strideX + offset];
                    std::fill(g + span.last, g + outW, 0.0f);
                }
            }
        }
    }
}

void dense(const DirectConvolutionShape& s, const float* in, int inH, int inW, const float* weights,
           const float* bias, float* out, int outH, int outW, std::vector<float>& scratch) {
    const int taps = s.inChannels * s.kernelH * s.kernelW;
    const int rowsPerBand = std::clamp(kDenseBandPixels / outW, 1, outH);
    const std::size_t gatheredSize = std::size_t(taps) * std::size_t(rowsPerBand) * std::size_t(outW);
    // Room for the packed weights too, so the product never moves the gathered planes.
    const std::size_t needed = gatheredSize + std::size_t(taps) * std::size_t(s.outChannels);
    if (scratch.size() < needed) scratch.resize(needed);
    const std::ptrdiff_t outPlane = std::ptrdiff_t(outH) * outW;
    for (int oy0 = 0; oy0 < outH; oy0 += rowsPerBand) {
        const int rows = std::min(rowsPerBand, outH - oy0);
        gatherBand(s, in, inH, inW, oy0, rows, outW, scratch.data());
        product(scratch.data(), taps, rows * outW, weights, bias, out + std::ptrdiff_t(oy0) * outW,
                s.outChannels, outPlane, scratch, gatheredSize);
    }
}

// Activations whose per-element forwardSlice can be applied to this layer's output in place.
bool fusableActivation(const std::string& type) {
    return type == "ReLU" || type == "ReLU6" || type == "HardSwish" || type == "Sigmoid" || type == "TanH" ||
           type == "Swish";
}

// The network's common activations run here, in loops the compiler vectorises (OpenCV's
// per-element forwardSlice does not); the values are those of OpenCV's formulas.
enum class OwnActivation { none, clamp, hardSwish };

VANTRY_VECTOR_CLONES
void clampAll(float* __restrict x, std::size_t n, float low, float high) {
    for (std::size_t i = 0; i < n; ++i) x[i] = std::min(std::max(x[i], low), high);
}

VANTRY_VECTOR_CLONES
void hardSwishAll(float* __restrict x, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) x[i] = x[i] * std::max(0.0f, std::min(1.0f, x[i] / 6.0f + 0.5f));
}

class DirectConvolutionLayer final : public cv::dnn::Layer {
  public:
    DirectConvolutionLayer(const cv::dnn::LayerParams& params, const DirectConvolutionShape& shape)
        : Layer(params), shape_(shape) {
        // Not OpenCV's convolution: fusion code that looks for that type leaves this one alone.
        type = "DirectConvolution";
    }

    bool getMemoryShapes(const std::vector<cv::dnn::MatShape>& inputs, int /*requiredOutputs*/,
                         std::vector<cv::dnn::MatShape>& outputs,
                         std::vector<cv::dnn::MatShape>& /*internals*/) const override {
        CV_Assert(inputs.size() == 1 && inputs[0].size() == 4 && inputs[0][1] == shape_.inChannels);
        const int h =
            outputLength(inputs[0][2], shape_.kernelH, shape_.strideY, shape_.padTop + shape_.padBottom);
        const int w =
            outputLength(inputs[0][3], shape_.kernelW, shape_.strideX, shape_.padLeft + shape_.padRight);
        CV_Assert(h > 0 && w > 0);
        outputs.assign(1, cv::dnn::MatShape{inputs[0][0], shape_.outChannels, h, w});
        return false;
    }

    bool setActivation(const cv::Ptr<cv::dnn::ActivationLayer>& layer) override {
        if (layer.empty()) {
            activation_.reset();
            own_ = OwnActivation::none;
            return false;
        }
        if (!activation_.empty() || !fusableActivation(layer->type)) return false;
        activation_ = layer;
        own_ = OwnActivation::none;
        if (const auto relu = layer.dynamicCast<cv::dnn::ReLULayer>(); relu && relu->negativeSlope == 0.0f) {
            own_ = OwnActivation::clamp;
            low_ = 0.0f;
            high_ = std::numeric_limits<float>::infinity();
        } else if (const auto relu6 = layer.dynamicCast<cv::dnn::ReLU6Layer>()) {
            own_ = OwnActivation::clamp;
            low_ = relu6->minValue;
            high_ = relu6->maxValue;
        } else if (layer.dynamicCast<cv::dnn::HardSwishLayer>()) {
            own_ = OwnActivation::hardSwish;
        }
        return true;
    }

    void forward(cv::InputArrayOfArrays inputsArr, cv::OutputArrayOfArrays outputsArr,
                 cv::OutputArrayOfArrays /*internals*/) override {
        std::vector<cv::Mat> inputs, outputs;
        inputsArr.getMatVector(inputs);
        outputsArr.getMatVector(outputs);
        CV_Assert(inputs.size() == 1 && outputs.size() == 1);
        const cv::Mat& in = inputs[0];
        cv::Mat& out = outputs[0];
        CV_Assert(in.type() == CV_32F && out.type() == CV_32F && in.dims == 4 && out.dims == 4);
        CV_Assert(in.isContinuous() && out.isContinuous() && in.size[0] == out.size[0]);
        const cv::Mat weights = blobs[0].isContinuous() ? blobs[0] : blobs[0].clone();
        const float* bias = blobs.size() > 1 ? blobs[1].ptr<float>() : nullptr;
        const int inH = in.size[2], inW = in.size[3], outH = out.size[2], outW = out.size[3];
        const std::size_t outPlane = std::size_t(outH) * std::size_t(outW);
        for (int n = 0; n < in.size[0]; ++n) {
            float* o = out.ptr<float>(n);
            directConvolution(shape_, in.ptr<float>(n), inH, inW, weights.ptr<float>(), bias, o, outH, outW,
                              scratch_);
            const std::size_t count = outPlane * std::size_t(shape_.outChannels);
            if (own_ == OwnActivation::clamp) {
                clampAll(o, count, low_, high_);
            } else if (own_ == OwnActivation::hardSwish) {
                hardSwishAll(o, count);
            } else if (!activation_.empty()) {
                activation_->forwardSlice(o, o, int(outPlane), outPlane, 0, shape_.outChannels);
            }
        }
    }

  private:
    static int outputLength(int in, int kernel, int stride, int pads) {
        return (in + pads - kernel) / stride + 1;
    }

    DirectConvolutionShape shape_;
    cv::Ptr<cv::dnn::ActivationLayer> activation_;
    OwnActivation own_ = OwnActivation::none;
    float low_ = 0, high_ = 0;
    std::vector<float> scratch_;
};

cv::Ptr<cv::dnn::Layer> createConvolution(cv::dnn::LayerParams& params) {
    if (const auto shape = directConvolutionShape(params))
        return cv::makePtr<DirectConvolutionLayer>(params, *shape);
    return cv::dnn::ConvolutionLayer::create(params);
}

}  // namespace

std::unique_ptr<DirectConvolutionShape> directConvolutionShape(const cv::dnn::LayerParams& params) {
    if (params.blobs.empty() || params.blobs[0].dims != 4 || params.blobs[0].type() != CV_32F) return nullptr;
    if (params.blobs.size() > 1 &&
        (params.blobs[1].type() != CV_32F || params.blobs[1].total() != std::size_t(params.blobs[0].size[0])))
        return nullptr;
    // OpenCV's own reading of the parameters (kernel, strides, pads, dilations).
    const cv::Ptr<cv::dnn::BaseConvolutionLayer> parsed = cv::dnn::ConvolutionLayer::create(params);
    if (parsed.empty() || parsed->kernel_size.size() != 2 || !parsed->padMode.empty()) return nullptr;
    if (parsed->strides.size() != 2 || parsed->pads_begin.size() != 2 || parsed->pads_end.size() != 2)
        return nullptr;
    for (const std::size_t d : parsed->dilations)
        if (d != 1) return nullptr;
    const cv::Mat& w = params.blobs[0];
    const int group = params.get<int>("group", 1);
    auto shape = std::make_unique<DirectConvolutionShape>();
    shape->outChannels = w.size[0];
    shape->inChannels = w.size[1] * group;
    shape->kernelH = w.size[2];
    shape->kernelW = w.size[3];
    if (std::size_t(shape->kernelH) != parsed->kernel_size[0] ||
        std::size_t(shape->kernelW) != parsed->kernel_size[1] ||
        (parsed->numOutput > 0 && parsed->numOutput != shape->outChannels))
        return nullptr;
    shape->strideY = int(parsed->strides[0]);
    shape->strideX = int(parsed->strides[1]);
    shape->padTop = int(parsed->pads_begin[0]);
    shape->padLeft = int(parsed->pads_begin[1]);
    shape->padBottom = int(parsed->pads_end[0]);
    shape->padRight = int(parsed->pads_end[1]);
    if (shape->strideY < 1 || shape->strideX < 1) return nullptr;
    shape->depthwise =
        group > 1 && group == shape->inChannels && group == shape->outChannels && w.size[1] == 1;
    if (shape->depthwise) {
        // OpenCV has a fast path of its own for 3 x 3 depthwise filters.
        if (shape->kernelH == 3 && shape->kernelW == 3) return nullptr;
    } else if (group != 1) {
        return nullptr;
    } else if (shape->inChannels > kDirectConvolutionMaxDenseInputs) {
        shape->pointwise = shape->kernelH == 1 && shape->kernelW == 1 && shape->strideY == 1 &&
                           shape->strideX == 1 && shape->padTop == 0 && shape->padLeft == 0 &&
                           shape->padBottom == 0 && shape->padRight == 0;
        if (!shape->pointwise) return nullptr;
    }
    return shape;
}

void directConvolution(const DirectConvolutionShape& shape, const float* in, int inH, int inW,
                       const float* weights, const float* bias, float* out, int outH, int outW,
                       std::vector<float>& scratch) {
    if (shape.pointwise) {
        product(in, shape.inChannels, inH * inW, weights, bias, out, shape.outChannels, inH * inW, scratch);
        return;
    }
    if (shape.depthwise) {
        scratch.resize(std::size_t(inH + shape.padTop + shape.padBottom) *
                       std::size_t(inW + shape.padLeft + shape.padRight));
        depthwise(shape, in, inH, inW, weights, bias, out, outH, outW, scratch.data());
        return;
    }
    dense(shape, in, inH, inW, weights, bias, out, outH, outW, scratch);
}

void installDirectConvolution() {
    static std::once_flag once;
    std::call_once(once, [] { cv::dnn::LayerFactory::registerLayer("Convolution", createConvolution); });
}

}  // namespace vantry::platform
