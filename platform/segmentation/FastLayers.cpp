#include "platform/segmentation/FastLayers.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <mutex>
#include <vector>

#include <opencv2/dnn.hpp>
#include <opencv2/dnn/all_layers.hpp>

#include "common/VectorClones.h"

namespace vantry::platform {
namespace {

// e^x for x clamped to low..high (-87..87, where 2^n stays a normal float): x = n ln2 + r with
// |r| <= ln2 / 2, e^r from a degree-6 polynomial (the Cephes single-precision coefficients), 2^n
// put straight into the exponent bits.
inline float expReduced(float x, float low, float high) {
    x = std::min(std::max(x, low), high);
    // Rounded to the nearest whole number by adding and taking away 1.5 * 2^23.
    const float n = (x * 1.44269504088896341f + 12582912.0f) - 12582912.0f;
    const float r = x - n * 0.693359375f + n * 2.12194440e-4f;
    float p = 1.9875691500e-4f;
    p = p * r + 1.3981999507e-3f;
    p = p * r + 8.3334519073e-3f;
    p = p * r + 4.1665795894e-2f;
    p = p * r + 1.6666665459e-1f;
    p = p * r + 5.0000001201e-1f;
    const float er = p * r * r + r + 1.0f;
    const float scale = std::bit_cast<float>(std::int32_t(int(n) + 127) << 23);
    return er * scale;
}

// The clamp's bounds, read at run time: with constant bounds GCC gives the clamped values a
// branch of their own, which keeps the loop from being vectorised.
volatile float expLow = -87.0f;
volatile float expHigh = 87.0f;

VANTRY_VECTOR_CLONES
void sigmoidInPlace(float* __restrict x, std::size_t n) {
    const float low = expLow, high = expHigh;
    for (std::size_t i = 0; i < n; ++i) x[i] = 1.0f / (1.0f + expReduced(-x[i], low, high));
}

VANTRY_VECTOR_CLONES
float planeSum(const float* __restrict x, std::size_t n) {
    // Eight partial sums, so the additions need not run in order.
    float lanes[8] = {};
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8)
        for (int k = 0; k < 8; ++k) lanes[k] += x[i + std::size_t(k)];
    float sum = 0;
    for (; i < n; ++i) sum += x[i];
    for (float lane : lanes) sum += lane;
    return sum;
}

class FastSigmoidLayer final : public cv::dnn::ActivationLayer {
  public:
    explicit FastSigmoidLayer(const cv::dnn::LayerParams& params) { setParamsFrom(params); }

    bool getMemoryShapes(const std::vector<cv::dnn::MatShape>& inputs, int requiredOutputs,
                         std::vector<cv::dnn::MatShape>& outputs,
                         std::vector<cv::dnn::MatShape>& /*internals*/) const override {
        outputs.assign(std::max<std::size_t>(std::size_t(requiredOutputs), inputs.size()), inputs.at(0));
        return true;  // may run in place
    }

    void forward(cv::InputArrayOfArrays inputsArr, cv::OutputArrayOfArrays outputsArr,
                 cv::OutputArrayOfArrays /*internals*/) override {
        std::vector<cv::Mat> inputs, outputs;
        inputsArr.getMatVector(inputs);
        outputsArr.getMatVector(outputs);
        CV_Assert(inputs.size() == outputs.size());
        for (std::size_t i = 0; i < inputs.size(); ++i) {
            CV_Assert(inputs[i].type() == CV_32F && outputs[i].type() == CV_32F && inputs[i].isContinuous() &&
                      outputs[i].isContinuous() && inputs[i].total() == outputs[i].total());
            fastSigmoid(inputs[i].ptr<float>(), outputs[i].ptr<float>(), inputs[i].total());
        }
    }

    void forwardSlice(const float* src, float* dst, int len, std::size_t outPlaneSize, int cn0,
                      int cn1) const override {
        for (int c = cn0; c < cn1; ++c, src += outPlaneSize, dst += outPlaneSize)
            fastSigmoid(src, dst, std::size_t(len));
    }
};

class GlobalAveragePoolingLayer final : public cv::dnn::Layer {
  public:
    explicit GlobalAveragePoolingLayer(const cv::dnn::LayerParams& params) : Layer(params) {
        type = "GlobalAveragePooling";
    }

    bool getMemoryShapes(const std::vector<cv::dnn::MatShape>& inputs, int /*requiredOutputs*/,
                         std::vector<cv::dnn::MatShape>& outputs,
                         std::vector<cv::dnn::MatShape>& /*internals*/) const override {
        CV_Assert(inputs.size() == 1 && inputs[0].size() == 4);
        outputs.assign(1, cv::dnn::MatShape{inputs[0][0], inputs[0][1], 1, 1});
        return false;
    }

    void forward(cv::InputArrayOfArrays inputsArr, cv::OutputArrayOfArrays outputsArr,
                 cv::OutputArrayOfArrays /*internals*/) override {
        std::vector<cv::Mat> inputs, outputs;
        inputsArr.getMatVector(inputs);
        outputsArr.getMatVector(outputs);
        CV_Assert(inputs.size() == 1 && outputs.size() == 1);
        const cv::Mat& in = inputs[0];
        CV_Assert(in.type() == CV_32F && in.dims == 4 && in.isContinuous() && outputs[0].isContinuous());
        const std::size_t planes = std::size_t(in.size[0]) * std::size_t(in.size[1]);
        planeMeans(in.ptr<float>(), planes, std::size_t(in.size[2]) * std::size_t(in.size[3]),
                   outputs[0].ptr<float>());
    }
};

cv::Ptr<cv::dnn::Layer> createSigmoid(cv::dnn::LayerParams& params) {
    return cv::makePtr<FastSigmoidLayer>(params);
}

cv::Ptr<cv::dnn::Layer> createPooling(cv::dnn::LayerParams& params) {
    // Average pooling over whole planes, as GlobalAveragePool imports; anything else is OpenCV's.
    const bool global = params.get<bool>("global_pooling", false) && !params.has("global_pooling_h") &&
                        !params.has("global_pooling_w") && !params.has("global_pooling_d");
    if (global && cv::toLowerCase(params.get<cv::String>("pool", "max")) == "ave")
        return cv::makePtr<GlobalAveragePoolingLayer>(params);
    return cv::dnn::PoolingLayer::create(params);
}

}  // namespace

void fastSigmoid(const float* src, float* dst, std::size_t n) {
    if (src != dst) std::copy(src, src + n, dst);
    sigmoidInPlace(dst, n);
}

void planeMeans(const float* in, std::size_t planes, std::size_t planeSize, float* out) {
    for (std::size_t p = 0; p < planes; ++p, in += planeSize)
        out[p] = planeSize > 0 ? planeSum(in, planeSize) / float(planeSize) : 0.0f;
}

void installFastLayers() {
    static std::once_flag once;
    std::call_once(once, [] {
        cv::dnn::LayerFactory::registerLayer("Sigmoid", createSigmoid);
        cv::dnn::LayerFactory::registerLayer("Pooling", createPooling);
    });
}

}  // namespace vantry::platform
