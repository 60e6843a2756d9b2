// Person segmentation: a mask of one 8-bit channel (255 = person) for a camera frame.
//
// The runtime is OpenCV's dnn module running the MediaPipe selfie-segmentation network,
// converted to ONNX at set-up time by scripts/fetch-segmentation-model.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include <opencv2/core.hpp>
#include <opencv2/dnn.hpp>

namespace vantry::platform {

// The networks the set-up script produces.
enum class SegmentationModel {
    general,    // 256 x 256, the facecam's model
    landscape,  // 256 wide x 144 high, cheaper
};

struct SegmentationModelInfo {
    const char* fileStem;  // file name without ".onnx"
    int inputWidth;
    int inputHeight;
};
SegmentationModelInfo segmentationModelInfo(SegmentationModel model);

// Where the models live: $VANTRY_MODEL_DIR when set, else share/vantry-pro/models beside the
// running executable's bin/ folder when that exists (an installed program), else the build's
// data folder.
std::filesystem::path segmentationModelDirectory();
// The same choice from explicit inputs: `envDir` may be null or empty.
std::filesystem::path segmentationModelDirectory(const char* envDir, const std::filesystem::path& executable,
                                                 const std::filesystem::path& builtDir);
std::filesystem::path segmentationModelPath(SegmentationModel model);

// The model file is missing or cannot be read; the message says what to do.
class SegmentationModelError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class PersonSegmenter {
  public:
    virtual ~PersonSegmenter() = default;
    // bgra: an 8-bit four-channel frame (B, G, R, A), any size. Returns a CV_8UC1 mask at the
    // segmenter's own resolution (255 = person), valid until the next call, or nothing when
    // segmentation fails. Not thread-safe: one caller at a time (the feed's serial queue).
    virtual std::optional<cv::Mat> segment(const cv::Mat& bgra) = 0;
};

class OnnxPersonSegmenter final : public PersonSegmenter {
  public:
    // Loads the network; throws SegmentationModelError when the file is missing or unreadable.
    // threads: OpenCV's worker-thread count for inference (process-wide setting); 0 keeps it.
    explicit OnnxPersonSegmenter(SegmentationModel model = SegmentationModel::general, int threads = 1);
    OnnxPersonSegmenter(const std::filesystem::path& onnxFile, int inputWidth, int inputHeight,
                        int threads = 1);

    std::optional<cv::Mat> segment(const cv::Mat& bgra) override;

    // Runs the network on a ready NCHW float blob [1, 3, H, W] (RGB 0..1); returns [1, 1, H, W].
    cv::Mat forwardBlob(const cv::Mat& blob);

    int inputWidth() const { return width_; }
    int inputHeight() const { return height_; }

  private:
    cv::dnn::Net net_;
    int width_;
    int height_;
    // Reused for every frame.
    cv::Mat small_, rgb_, rgbFloat_, blob_, probability_, mask_;
};

}  // namespace vantry::platform
