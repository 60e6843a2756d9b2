// Person segmentation: a mask of one 8-bit channel (255 = person) for a camera frame.
//
// The runtime is OpenCV's dnn module running the MediaPipe selfie-segmentation network,
// converted to ONNX at set-up time by scripts/fetch-segmentation-model.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

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

// Area averaging along one axis, from sourceLength samples to targetLength (not more): target
// sample i is the mean of the source interval [i, i + 1) * sourceLength / targetLength, each
// source sample weighted by how much of it the interval covers, times scale.
class SegmentationAreaTable {
  public:
    struct Tap {
        int source;
        float weight;
    };
    SegmentationAreaTable() = default;
    SegmentationAreaTable(int sourceLength, int targetLength, double scale);

    int sourceLength() const { return sourceLength_; }
    int targetLength() const { return targetLength_; }
    std::span<const Tap> taps(int target) const {
        return {taps_.data() + first_[std::size_t(target)],
                std::size_t(first_[std::size_t(target) + 1] - first_[std::size_t(target)])};
    }
    // The same taps by rank: every target sample's k-th tap (k < rankCount()), a zero weight on
    // its first source where it has fewer. Each is targetLength() long.
    int rankCount() const { return rankCount_; }
    const int* rankSources(int k) const { return rankSources_.data() + std::ptrdiff_t(k) * targetLength_; }
    const float* rankWeights(int k) const { return rankWeights_.data() + std::ptrdiff_t(k) * targetLength_; }

  private:
    int sourceLength_ = 0;
    int targetLength_ = 0;
    int rankCount_ = 0;
    std::vector<int> first_;  // index of each target sample's first tap, and the end
    std::vector<Tap> taps_;
    std::vector<int> rankSources_;
    std::vector<float> rankWeights_;
};

// Scales an 8-bit BGRA picture (columns.sourceLength() x rows.sourceLength()) down to the
// tables' target size by area averaging, rounds each value to a whole level (halves up) and
// writes the red, green and blue levels times scale into three planes of that size. rowSums is
// scratch kept by the caller.
void fillSegmentationBlob(const cv::Mat& bgra, const SegmentationAreaTable& columns,
                          const SegmentationAreaTable& rows, std::vector<float>& rowSums, float scale,
                          float* red, float* green, float* blue);

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
    SegmentationAreaTable columns_, rows_;
    std::vector<float> rowSums_;
    cv::Mat small_, blob_, probability_, mask_;
};

}  // namespace vantry::platform
