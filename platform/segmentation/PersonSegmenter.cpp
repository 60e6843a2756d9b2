#include "platform/segmentation/PersonSegmenter.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <system_error>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "platform/segmentation/DirectConvolution.h"
#include "platform/segmentation/FastLayers.h"

#include "common/VectorClones.h"

namespace vantry::platform {

SegmentationModelInfo segmentationModelInfo(SegmentationModel model) {
    switch (model) {
        case SegmentationModel::landscape:
            return {"selfie_segmentation_landscape", 256, 144};
        case SegmentationModel::general:
            break;
    }
    return {"selfie_segmentation", 256, 256};
}

std::filesystem::path segmentationModelDirectory(const char* envDir, const std::filesystem::path& executable,
                                                 const std::filesystem::path& builtDir) {
    namespace fs = std::filesystem;
    if (envDir != nullptr && *envDir != '\0') return fs::path(envDir);
    // An installed program uses its own models, even where a source tree is still around.
    if (!executable.empty()) {
        const fs::path installed = executable.parent_path().parent_path() / VANTRY_INSTALLED_MODEL_SUBDIR;
        std::error_code ec;
        if (fs::is_directory(installed, ec)) return installed;
    }
    return builtDir;
}

std::filesystem::path segmentationModelDirectory() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return segmentationModelDirectory(std::getenv("VANTRY_MODEL_DIR"), ec ? std::filesystem::path() : exe,
                                      VANTRY_DEFAULT_MODEL_DIR);
}

std::filesystem::path segmentationModelPath(SegmentationModel model) {
    return segmentationModelDirectory() / (std::string(segmentationModelInfo(model).fileStem) + ".onnx");
}

OnnxPersonSegmenter::OnnxPersonSegmenter(SegmentationModel model, int threads)
    : OnnxPersonSegmenter(segmentationModelPath(model), segmentationModelInfo(model).inputWidth,
                          segmentationModelInfo(model).inputHeight, threads) {}

OnnxPersonSegmenter::OnnxPersonSegmenter(const std::filesystem::path& onnxFile, int inputWidth,
                                         int inputHeight, int threads)
    : width_(inputWidth), height_(inputHeight) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(onnxFile, ec)) {
        throw SegmentationModelError("person-segmentation model not found at " + onnxFile.string() +
                                     " (run scripts/install-deps or scripts/fetch-segmentation-model)");
    }
    installDirectConvolution();
    installFastLayers();
    try {
        net_ = cv::dnn::readNetFromONNX(onnxFile.string());
    } catch (const cv::Exception& e) {
        throw SegmentationModelError("person-segmentation model " + onnxFile.string() +
                                     " cannot be read: " + e.msg);
    }
    if (net_.empty()) {
        throw SegmentationModelError("person-segmentation model " + onnxFile.string() + " is empty");
    }
    net_.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
    net_.setPreferableTarget(cv::dnn::DNN_TARGET_CPU);
    if (threads > 0) cv::setNumThreads(threads);
    const int shape[4] = {1, 3, height_, width_};
    blob_.create(4, shape, CV_32F);
}

SegmentationAreaTable::SegmentationAreaTable(int sourceLength, int targetLength, double scale)
    : sourceLength_(sourceLength), targetLength_(targetLength) {
    first_.reserve(std::size_t(targetLength) + 1);
    const double step = double(sourceLength) / double(targetLength);
    for (int i = 0; i < targetLength; ++i) {
        first_.push_back(int(taps_.size()));
        const double from = i * step;
        const double to = std::min(double(sourceLength), (i + 1) * step);
        for (int s = int(std::floor(from)); s < sourceLength && s < to; ++s) {
            const double covered = std::min(to, s + 1.0) - std::max(from, double(s));
            if (covered > 1e-9) taps_.push_back({s, float(covered / (to - from) * scale)});
        }
    }
    first_.push_back(int(taps_.size()));
    for (int i = 0; i < targetLength; ++i) rankCount_ = std::max(rankCount_, int(taps(i).size()));
    rankSources_.assign(std::size_t(rankCount_) * std::size_t(targetLength), 0);
    rankWeights_.assign(rankSources_.size(), 0.0f);
    for (int i = 0; i < targetLength; ++i) {
        const std::span<const Tap> own = taps(i);
        for (int k = 0; k < rankCount_; ++k) {
            const std::size_t at = std::size_t(k) * std::size_t(targetLength) + std::size_t(i);
            rankSources_[at] = own.empty() ? 0 : own[std::min(std::size_t(k), own.size() - 1)].source;
            rankWeights_[at] = std::size_t(k) < own.size() ? own[std::size_t(k)].weight : 0.0f;
        }
    }
}

namespace {

// The four channels of one pixel's sums, added and scaled together.
using Pixel4 = float __attribute__((vector_size(16)));

// The weighted sum of n source rows, each value kept in a register across the rows.
template <int n>
inline void sumRowsOf(const cv::Mat& bgra, const SegmentationAreaTable::Tap* taps, int count,
                      float* __restrict sums) {
    const std::uint8_t* __restrict src[n];
    float w[n];
    for (int t = 0; t < n; ++t) {
        src[t] = bgra.ptr<std::uint8_t>(taps[t].source);
        w[t] = taps[t].weight;
    }
    for (int x = 0; x < count; ++x) {
        float sum = w[0] * float(src[0][x]);
#pragma GCC unroll 4
        for (int t = 1; t < n; ++t) sum += w[t] * float(src[t][x]);
        sums[x] = sum;
    }
}

// The row's weighted sums, channels interleaved as in the picture.
VANTRY_VECTOR_CLONES
void sumRows(const cv::Mat& bgra, std::span<const SegmentationAreaTable::Tap> taps, int count,
             float* __restrict sums) {
    switch (taps.size()) {
        case 1:
            return sumRowsOf<1>(bgra, taps.data(), count, sums);
        case 2:
            return sumRowsOf<2>(bgra, taps.data(), count, sums);
        case 3:
            return sumRowsOf<3>(bgra, taps.data(), count, sums);
        case 4:
            return sumRowsOf<4>(bgra, taps.data(), count, sums);
        default:
            break;
    }
    std::fill(sums, sums + count, 0.0f);
    for (const SegmentationAreaTable::Tap& tap : taps) {
        const std::uint8_t* __restrict src = bgra.ptr<std::uint8_t>(tap.source);
        const float w = tap.weight;
        for (int x = 0; x < count; ++x) sums[x] += w * float(src[x]);
    }
}

// The columns' sums, tap rank by tap rank, all four channels of a source pixel at once, rounded
// to whole levels and scaled into the RGB planes.
VANTRY_VECTOR_CLONES
void sumColumns(const float* __restrict sums, const SegmentationAreaTable& columns, float scale,
                float* __restrict r, float* __restrict g, float* __restrict b) {
    const int ranks = columns.rankCount();
    for (int x = 0; x < columns.targetLength(); ++x) {
        Pixel4 acc = {0.0f, 0.0f, 0.0f, 0.0f};
        for (int k = 0; k < ranks; ++k) {
            Pixel4 source;
            std::memcpy(&source, sums + 4 * std::ptrdiff_t(columns.rankSources(k)[x]), sizeof source);
            acc += columns.rankWeights(k)[x] * source;
        }
        b[x] = std::floor(acc[0] + 0.5f) * scale;
        g[x] = std::floor(acc[1] + 0.5f) * scale;
        r[x] = std::floor(acc[2] + 0.5f) * scale;
    }
}

}  // namespace

void fillSegmentationBlob(const cv::Mat& bgra, const SegmentationAreaTable& columns,
                          const SegmentationAreaTable& rows, std::vector<float>& rowSums, float scale,
                          float* red, float* green, float* blue) {
    CV_Assert(bgra.type() == CV_8UC4 && bgra.cols == columns.sourceLength() &&
              bgra.rows == rows.sourceLength());
    const int width = bgra.cols;
    const int targetWidth = columns.targetLength();
    rowSums.resize(std::size_t(width) * 4);
    for (int y = 0; y < rows.targetLength(); ++y) {
        sumRows(bgra, rows.taps(y), 4 * width, rowSums.data());
        const std::ptrdiff_t row = std::ptrdiff_t(y) * targetWidth;
        sumColumns(rowSums.data(), columns, scale, red + row, green + row, blue + row);
    }
}

cv::Mat OnnxPersonSegmenter::forwardBlob(const cv::Mat& blob) {
    net_.setInput(blob, "input");
    return net_.forward("segment");
}

std::optional<cv::Mat> OnnxPersonSegmenter::segment(const cv::Mat& bgra) {
    if (bgra.empty() || bgra.type() != CV_8UC4) return std::nullopt;
    try {
        // Area averaging to the network's size (rounded to whole levels, as OpenCV's 8-bit resize
        // does), the 1/255 scale and the split into RGB planes in one pass, straight into the
        // blob. A frame smaller than the network's input on either
        // side is scaled up by OpenCV first.
        const cv::Mat* source = &bgra;
        if (bgra.cols < width_ || bgra.rows < height_) {
            cv::resize(bgra, small_, cv::Size(width_, height_), 0, 0, cv::INTER_AREA);
            source = &small_;
        }
        if (columns_.sourceLength() != source->cols)
            columns_ = SegmentationAreaTable(source->cols, width_, 1.0);
        if (rows_.sourceLength() != source->rows) rows_ = SegmentationAreaTable(source->rows, height_, 1.0);
        fillSegmentationBlob(*source, columns_, rows_, rowSums_, 1.0f / 255.0f, blob_.ptr<float>(0, 0),
                             blob_.ptr<float>(0, 1), blob_.ptr<float>(0, 2));
        probability_ = forwardBlob(blob_);
        if (probability_.dims != 4 || probability_.size[2] != height_ || probability_.size[3] != width_)
            return std::nullopt;
        const cv::Mat plane(height_, width_, CV_32F, probability_.ptr<float>(0, 0));
        plane.convertTo(mask_, CV_8U, 255.0);
        return mask_;
    } catch (const cv::Exception&) {
        return std::nullopt;
    }
}

}  // namespace vantry::platform
