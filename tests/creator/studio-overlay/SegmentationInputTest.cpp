// The segmenter's own parts of the network's work: the blob made from a camera frame in one
// pass, the direct convolution layers and the sigmoid and pooling layers, each against the
// straightforward computation.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <opencv2/dnn.hpp>
#include <opencv2/imgproc.hpp>

#include "platform/segmentation/DirectConvolution.h"
#include "platform/segmentation/FastLayers.h"
#include "platform/segmentation/PersonSegmenter.h"

using namespace vantry::platform;

namespace {

struct ConvCase {
    const char* name;
    int inChannels, outChannels, group;
    int kernelH, kernelW, strideY, strideX;
    int padTop, padLeft, padBottom, padRight;
    bool direct;  // built as a direct layer (else OpenCV's own)
};

// out[o][y][x] = bias[o] + sum of weight * input over the filter window, zeros outside.
cv::Mat plainConvolution(const ConvCase& c, const cv::Mat& in, const cv::Mat& weights, const cv::Mat& bias) {
    const int inH = in.size[2], inW = in.size[3];
    const int outH = (inH + c.padTop + c.padBottom - c.kernelH) / c.strideY + 1;
    const int outW = (inW + c.padLeft + c.padRight - c.kernelW) / c.strideX + 1;
    const int shape[4] = {1, c.outChannels, outH, outW};
    cv::Mat out(4, shape, CV_32F);
    const int perGroupIn = c.inChannels / c.group, perGroupOut = c.outChannels / c.group;
    for (int o = 0; o < c.outChannels; ++o) {
        for (int y = 0; y < outH; ++y) {
            for (int x = 0; x < outW; ++x) {
                double sum = bias.at<float>(o);
                for (int i = 0; i < perGroupIn; ++i) {
                    const int channel = o / perGroupOut * perGroupIn + i;
                    for (int ky = 0; ky < c.kernelH; ++ky) {
                        for (int kx = 0; kx < c.kernelW; ++kx) {
                            const int iy = y * c.strideY - c.padTop + ky, ix = x * c.strideX - c.padLeft + kx;
                            if (iy < 0 || iy >= inH || ix < 0 || ix >= inW) continue;
                            const int w[4] = {o, i, ky, kx};
                            const int p[4] = {0, channel, iy, ix};
                            sum += double(weights.at<float>(w)) * in.at<float>(p);
                        }
                    }
                }
                const int q[4] = {0, o, y, x};
                out.at<float>(q) = float(sum);
            }
        }
    }
    return out;
}

}  // namespace

// Each shape read into a network as the importers do (parameters and blobs, an activation after
// it or none; OpenCV 4.6 takes only the same padding before and after along an axis): the kinds
// the direct layer takes give the plain convolution's values, each activation fused or not, and
// the others stay OpenCV's.
TEST(DirectConvolution, MatchesThePlainConvolutionForEachShape) {
    installDirectConvolution();
    installFastLayers();  // the fused sigmoid is the own one
    const ConvCase cases[] = {
        {"first layer, stride 2", 3, 16, 1, 3, 3, 2, 2, 0, 0, 0, 0, true},
        {"one channel 5x5, pad 2", 1, 4, 1, 5, 5, 1, 1, 2, 2, 2, 2, true},
        {"depthwise 5x5, pad 2", 8, 8, 8, 5, 5, 1, 1, 2, 2, 2, 2, true},
        {"depthwise 5x5, stride 2, no pad", 6, 6, 6, 5, 5, 2, 2, 0, 0, 0, 0, true},
        {"depthwise 7x3, stride and pads per axis", 5, 5, 5, 7, 3, 2, 1, 3, 1, 3, 1, true},
        {"depthwise 3x3 (OpenCV's)", 8, 8, 8, 3, 3, 1, 1, 1, 1, 1, 1, false},
        {"pointwise 16 to 8", 16, 8, 1, 1, 1, 1, 1, 0, 0, 0, 0, true},
        {"pointwise 24 to 17 (blocks of 6, 4 and 1)", 24, 17, 1, 1, 1, 1, 1, 0, 0, 0, 0, true},
        {"1x1 stride 2 (OpenCV's)", 16, 8, 1, 1, 1, 2, 2, 0, 0, 0, 0, false},
        {"dense 3x3 over 16 channels (OpenCV's)", 16, 8, 1, 3, 3, 1, 1, 1, 1, 1, 1, false},
    };
    cv::RNG rng(7);
    for (const ConvCase& c : cases) {
        SCOPED_TRACE(c.name);
        const int inShape[4] = {1, c.inChannels, 37, 71};  // several bands of dense rows
        const int wShape[4] = {c.outChannels, c.inChannels / c.group, c.kernelH, c.kernelW};
        cv::Mat in(4, inShape, CV_32F), weights(4, wShape, CV_32F), bias(1, c.outChannels, CV_32F);
        rng.fill(in, cv::RNG::UNIFORM, -1, 1);
        rng.fill(weights, cv::RNG::UNIFORM, -1, 1);
        rng.fill(bias, cv::RNG::UNIFORM, -1, 1);

        cv::dnn::LayerParams conv;
        conv.name = "conv";
        conv.type = "Convolution";
        conv.set("kernel_h", c.kernelH);
        conv.set("kernel_w", c.kernelW);
        conv.set("stride_h", c.strideY);
        conv.set("stride_w", c.strideX);
        conv.set("pad_t", c.padTop);
        conv.set("pad_l", c.padLeft);
        conv.set("pad_b", c.padBottom);
        conv.set("pad_r", c.padRight);
        conv.set("num_output", c.outChannels);
        conv.set("group", c.group);
        conv.set("bias_term", true);
        conv.blobs = {weights, bias};
        const cv::Mat expected = plainConvolution(c, in, weights, bias);

        for (const std::string activation : {"", "ReLU", "ReLU6", "HardSwish", "Sigmoid"}) {
            cv::dnn::Net net;
            net.addLayerToPrev(conv.name, conv.type, conv);
            if (!activation.empty()) {
                cv::dnn::LayerParams params;
                net.addLayerToPrev("activation", activation, params);
            }
            net.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
            net.setPreferableTarget(cv::dnn::DNN_TARGET_CPU);
            net.setInput(in);
            const cv::Mat out = net.forward();
            EXPECT_EQ(net.getLayer(net.getLayerId("conv"))->type == "DirectConvolution", c.direct);
            ASSERT_EQ(out.dims, 4);
            ASSERT_EQ(std::vector<int>(out.size.p, out.size.p + 4),
                      std::vector<int>(expected.size.p, expected.size.p + 4));
            cv::Mat want = expected.clone();
            for (float *v = want.ptr<float>(), *end = v + want.total(); v != end; ++v) {
                if (activation == "ReLU") *v = std::max(*v, 0.0f);
                if (activation == "ReLU6") *v = std::clamp(*v, 0.0f, 6.0f);
                if (activation == "HardSwish") *v = *v * std::clamp(*v / 6.0f + 0.5f, 0.0f, 1.0f);
                if (activation == "Sigmoid") *v = 1.0f / (1.0f + std::exp(-*v));
            }
            EXPECT_LT(cv::norm(out, want, cv::NORM_INF), 1e-4) << (activation.empty() ? "alone" : activation);
        }
    }
}

// The sigmoid over the whole float range (in place and not), and global pooling in a network:
// the average is the own layer, followed by a separate sigmoid; the maximum stays OpenCV's.
TEST(FastLayers, SigmoidAndGlobalPoolingGiveTheirFormulasValues) {
    installFastLayers();
    std::vector<float> x;
    for (float v = -120.0f; v <= 120.0f; v += 0.0137f) x.push_back(v);
    for (float v : {0.0f, 1e-8f, -1e-8f, 87.0f, -87.0f, 88.5f, -88.5f, 1e30f, -1e30f}) x.push_back(v);
    std::vector<float> out(x.size());
    fastSigmoid(x.data(), out.data(), x.size());
    std::vector<float> inPlace = x;
    fastSigmoid(inPlace.data(), inPlace.data(), inPlace.size());
    double worst = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        worst = std::max(worst, std::abs(double(out[i]) - 1.0 / (1.0 + std::exp(-double(x[i])))));
    }
    EXPECT_LT(worst, 5e-7);
    EXPECT_EQ(inPlace, out);

    const int shape[4] = {2, 5, 17, 31};
    cv::Mat in(4, shape, CV_32F);
    cv::RNG(3).fill(in, cv::RNG::UNIFORM, -4, 4);
    for (const std::string pool : {"AVE", "MAX"}) {
        SCOPED_TRACE(pool);
        cv::dnn::Net net;
        cv::dnn::LayerParams params;
        params.set("pool", pool);
        params.set("global_pooling", true);
        net.addLayerToPrev("pool", "Pooling", params);
        cv::dnn::LayerParams none;
        net.addLayerToPrev("sigmoid", "Sigmoid", none);
        net.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
        net.setInput(in);
        const cv::Mat result = net.forward();
        EXPECT_EQ(net.getLayer(net.getLayerId("pool"))->type == "GlobalAveragePooling", pool == "AVE");
        ASSERT_EQ(result.total(), 10u);
        for (int n = 0; n < 2; ++n) {
            for (int c = 0; c < 5; ++c) {
                const cv::Mat plane(17, 31, CV_32F, in.ptr<float>(n, c));
                double low = 0, high = 0;
                cv::minMaxLoc(plane, &low, &high);
                const double reduced = pool == "AVE" ? cv::mean(plane)[0] : high;
                EXPECT_NEAR(result.ptr<float>(n)[c], 1.0 / (1.0 + std::exp(-reduced)), 1e-6);
            }
        }
    }
}

// The one-pass blob against OpenCV's area resize, colour conversion and scale, for whole and
// fractional ratios: the same levels but for rare values at a half.
TEST(SegmentationBlob, MatchesAreaResizeToRgbOverTwoHundredFiftyFive) {
    const cv::Size cases[][2] = {
        {{640, 480}, {256, 256}},  {{640, 480}, {256, 144}}, {{512, 512}, {256, 256}},
        {{1280, 720}, {256, 144}}, {{300, 200}, {256, 144}},
    };
    cv::RNG rng(11);
    for (const auto& [frameSize, blobSize] : cases) {
        SCOPED_TRACE(std::to_string(frameSize.width) + "x" + std::to_string(frameSize.height) + " to " +
                     std::to_string(blobSize.width) + "x" + std::to_string(blobSize.height));
        cv::Mat frame(frameSize, CV_8UC4);
        rng.fill(frame, cv::RNG::UNIFORM, 0, 256);
        cv::GaussianBlur(frame, frame, cv::Size(0, 0), 1.5);  // camera-like neighbours
        frame(cv::Rect(0, 0, frameSize.width / 3, frameSize.height)).setTo(cv::Scalar(250, 20, 130, 255));

        const SegmentationAreaTable columns(frameSize.width, blobSize.width, 1.0);
        const SegmentationAreaTable rows(frameSize.height, blobSize.height, 1.0);
        std::vector<float> scratch;
        cv::Mat planes[3];
        for (cv::Mat& p : planes) p.create(blobSize, CV_32F);
        fillSegmentationBlob(frame, columns, rows, scratch, 1.0f / 255.0f, planes[0].ptr<float>(),
                             planes[1].ptr<float>(), planes[2].ptr<float>());

        cv::Mat small, rgb, reference;
        cv::resize(frame, small, blobSize, 0, 0, cv::INTER_AREA);
        cv::cvtColor(small, rgb, cv::COLOR_BGRA2RGB);
        rgb.convertTo(reference, CV_32F, 1.0 / 255.0);
        std::vector<cv::Mat> referencePlanes;
        cv::split(reference, referencePlanes);
        for (int c = 0; c < 3; ++c) {
            // Whole levels as OpenCV's; a sum at a half (within float rounding) may round the other way.
            cv::Mat off;
            cv::compare(cv::abs(planes[c] - referencePlanes[c]), 0.5 / 255.0, off, cv::CMP_GT);
            EXPECT_LE(cv::norm(planes[c], referencePlanes[c], cv::NORM_INF), 1.0 / 255.0 + 1e-5)
                << "plane " << c;
            EXPECT_LE(cv::countNonZero(off), int(off.total() / 100)) << "plane " << c;
        }
    }
}
