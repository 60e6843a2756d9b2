#include "platform/segmentation/PersonSegmenter.h"

#include <cstdlib>
#include <system_error>
#include <vector>

#include <opencv2/imgproc.hpp>

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

cv::Mat OnnxPersonSegmenter::forwardBlob(const cv::Mat& blob) {
    net_.setInput(blob, "input");
    return net_.forward("segment");
}

std::optional<cv::Mat> OnnxPersonSegmenter::segment(const cv::Mat& bgra) {
    if (bgra.empty() || bgra.type() != CV_8UC4) return std::nullopt;
    try {
        cv::resize(bgra, small_, cv::Size(width_, height_), 0, 0, cv::INTER_AREA);
        cv::cvtColor(small_, rgb_, cv::COLOR_BGRA2RGB);
        rgb_.convertTo(rgbFloat_, CV_32F, 1.0 / 255.0);
        // Split the interleaved RGB picture straight into the planes of the NCHW blob.
        std::vector<cv::Mat> planes;
        for (int c = 0; c < 3; ++c) planes.emplace_back(height_, width_, CV_32F, blob_.ptr<float>(0, c));
        cv::split(rgbFloat_, planes);
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
