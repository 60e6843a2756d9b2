// The converted person-segmentation network, run by OpenCV: it must reproduce the original
// graph (evaluated independently at conversion time) and find people in photographs.
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include <QImage>
#include <opencv2/imgproc.hpp>

#include "creator/studio-overlay/FacecamFrameProcessor.h"
#include "platform/segmentation/PersonSegmenter.h"

using namespace vantry;
using platform::SegmentationModel;
namespace fs = std::filesystem;

namespace {

// Sample photographs shipped by Debian's python3-skimage.
const fs::path kPhotos = "/usr/lib/python3/dist-packages/skimage/data";

::testing::AssertionResult modelPresent(SegmentationModel model) {
    const fs::path path = platform::segmentationModelPath(model);
    if (fs::is_regular_file(path)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "segmentation model missing at " << path
           << ": run scripts/fetch-segmentation-model (scripts/install-deps runs it)";
}

// An 8-bit BGRA copy of a photograph, or an empty matrix.
cv::Mat loadPhoto(const std::string& name) {
    QImage image(QString::fromStdString((kPhotos / name).string()));
    if (image.isNull()) return {};
    image = image.convertToFormat(QImage::Format_ARGB32);
    return cv::Mat(image.height(), image.width(), CV_8UC4, image.bits(), std::size_t(image.bytesPerLine()))
        .clone();
}

::testing::AssertionResult photoPresent(const cv::Mat& photo, const std::string& name) {
    if (!photo.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "sample photograph " << (kPhotos / name)
                                         << " missing: install python3-skimage (scripts/install-deps)";
}

double personFraction(const cv::Mat& mask) {
    return double(cv::countNonZero(mask > 127)) / double(mask.total());
}

// Mean mask value in a small box around (x, y) given in the photo's own 0..1 coordinates.
double maskAt(const cv::Mat& mask, double x, double y) {
    const int cx = int(x * mask.cols);
    const int cy = int(y * mask.rows);
    const cv::Rect box(std::max(cx - 3, 0), std::max(cy - 3, 0), 7, 7);
    return cv::mean(mask(box & cv::Rect(0, 0, mask.cols, mask.rows)))[0];
}

}  // namespace

// $VANTRY_MODEL_DIR wins; an installed program (share/vantry-pro/models beside its bin/ folder)
// uses its own networks even where the build's data folder still exists; else the data folder.
TEST(SegmentationModelDirectory, PrefersTheVariableThenTheInstalledFolderThenTheBuild) {
    const fs::path root = fs::path(::testing::TempDir()) / "model-directory-lookup";
    fs::remove_all(root);
    const fs::path installedExe = root / "usr" / "bin" / "vantry-cli";
    const fs::path installedModels = root / "usr" / "share" / "vantry-pro" / "models";
    const fs::path builtExe = root / "build" / "app" / "vantry-cli";
    const fs::path built = root / "src" / "data" / "models";
    fs::create_directories(installedModels);
    fs::create_directories(built);
    const struct {
        const char* env;
        fs::path exe;
        fs::path expected;
    } cases[] = {
        {"/elsewhere/models", installedExe, "/elsewhere/models"},
        {"", installedExe, installedModels},
        {nullptr, installedExe, installedModels},
        {nullptr, builtExe, built},
        {nullptr, fs::path(), built},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::segmentationModelDirectory(c.env, c.exe, built), c.expected)
            << "env " << (c.env ? c.env : "(unset)") << ", executable " << c.exe;
    }
    fs::remove_all(root);
}

class ConvertedModel : public ::testing::TestWithParam<SegmentationModel> {};

TEST_P(ConvertedModel, ReproducesTheOriginalGraphWithinOneThousandth) {
    ASSERT_TRUE(modelPresent(GetParam()));
    const auto info = platform::segmentationModelInfo(GetParam());
    const fs::path refPath = platform::segmentationModelDirectory() / (std::string(info.fileStem) + ".ref");
    std::ifstream in(refPath, std::ios::binary);
    ASSERT_TRUE(in) << "reference pair missing at " << refPath << ": run scripts/fetch-segmentation-model";
    char magic[8];
    std::int32_t dims[4];
    in.read(magic, 8);
    in.read(reinterpret_cast<char*>(dims), sizeof dims);
    ASSERT_EQ(std::string(magic, 8), "VSEGREF1");
    const int h = dims[0], w = dims[1], c = dims[2], co = dims[3];
    ASSERT_EQ(h, info.inputHeight);
    ASSERT_EQ(w, info.inputWidth);
    ASSERT_EQ(c, 3);
    ASSERT_EQ(co, 1);
    const int inShape[4] = {1, c, h, w};
    cv::Mat blob(4, inShape, CV_32F);
    in.read(reinterpret_cast<char*>(blob.data), std::streamsize(sizeof(float) * c * h * w));
    std::vector<float> expected(std::size_t(co) * h * w);
    in.read(reinterpret_cast<char*>(expected.data()), std::streamsize(sizeof(float) * expected.size()));
    ASSERT_TRUE(in);

    platform::OnnxPersonSegmenter segmenter(GetParam(), 0);
    const cv::Mat out = segmenter.forwardBlob(blob);
    ASSERT_EQ(out.dims, 4);
    ASSERT_EQ(out.size[1], 1);
    ASSERT_EQ(out.size[2], h);
    ASSERT_EQ(out.size[3], w);
    const float* got = out.ptr<float>();
    double worst = 0;
    double spread = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        worst = std::max(worst, double(std::abs(got[i] - expected[i])));
        spread = std::max(spread, double(std::abs(expected[i] - expected[0])));
    }
    EXPECT_LT(worst, 1e-3);
    EXPECT_GT(spread, 0.1) << "the reference output is flat; it checks nothing";
}

INSTANTIATE_TEST_SUITE_P(BothModels, ConvertedModel,
                         ::testing::Values(SegmentationModel::general, SegmentationModel::landscape),
                         [](const ::testing::TestParamInfo<SegmentationModel>& info) {
                             return std::string(info.param == SegmentationModel::general ? "general"
                                                                                         : "landscape");
                         });

TEST(PersonSegmentation, FindsThePersonInAPortraitAndNotTheBackdrop) {
    ASSERT_TRUE(modelPresent(SegmentationModel::general));
    const cv::Mat photo = loadPhoto("astronaut.png");
    ASSERT_TRUE(photoPresent(photo, "astronaut.png"));
    platform::OnnxPersonSegmenter segmenter;
    const auto mask = segmenter.segment(photo);
    ASSERT_TRUE(mask);
    ASSERT_EQ(mask->type(), CV_8UC1);
    EXPECT_EQ(mask->size(), cv::Size(256, 256));
    // Face, neck ring and chest of the astronaut.
    EXPECT_GT(maskAt(*mask, 0.44, 0.23), 200) << "face";
    EXPECT_GT(maskAt(*mask, 0.40, 0.75), 200) << "torso";
    EXPECT_GT(maskAt(*mask, 0.25, 0.60), 200) << "arm";
    // Plain backdrop above the shoulders, away from her head and the model shuttle.
    EXPECT_LT(maskAt(*mask, 0.64, 0.06), 60) << "backdrop";
    EXPECT_LT(maskAt(*mask, 0.97, 0.03), 60) << "top-right corner";
    EXPECT_GT(personFraction(*mask), 0.25);
    EXPECT_LT(personFraction(*mask), 0.80);
}

// Scenes without a dominant subject: the selfie model treats a large central object (the coffee
// cup, the cat of the same collection) as foreground, so those are no fair "nobody" pictures.
TEST(PersonSegmentation, FindsNobodyInPicturesWithoutPeople) {
    ASSERT_TRUE(modelPresent(SegmentationModel::general));
    for (const char* name : {"brick.png", "grass.png", "motorcycle_left.png"}) {
        const cv::Mat photo = loadPhoto(name);
        ASSERT_TRUE(photoPresent(photo, name));
        platform::OnnxPersonSegmenter segmenter;
        const auto mask = segmenter.segment(photo);
        ASSERT_TRUE(mask);
        EXPECT_LT(personFraction(*mask), 0.05) << name;
        EXPECT_LT(maskAt(*mask, 0.02, 0.02), 60) << name;
        EXPECT_LT(maskAt(*mask, 0.98, 0.98), 60) << name;
    }
}

TEST(PersonSegmentation, TheFeedCutsThePersonOutOfAMirroredCameraFrame) {
    ASSERT_TRUE(modelPresent(SegmentationModel::general));
    const cv::Mat photo = loadPhoto("astronaut.png");
    ASSERT_TRUE(photoPresent(photo, "astronaut.png"));
    cv::Mat frame;
    cv::resize(photo, frame, cv::Size(640, 480));
    platform::OnnxPersonSegmenter segmenter;
    creator::FacecamFrameProcessor processor(&segmenter);
    const QImage out =
        processor.process(frame, {creator::OruFacecamBackgroundModeV1045::cutoutNoBackground, true});
    ASSERT_FALSE(out.isNull());
    ASSERT_TRUE(processor.lastFrameSegmented());
    // Her face is at 44% of the width in the photo, so at 56% in the mirrored picture.
    EXPECT_GT(qAlpha(out.pixel(int(0.56 * 640), int(0.23 * 480))), 200);
    EXPECT_LT(qAlpha(out.pixel(int(0.36 * 640), int(0.06 * 480))), 60);  // backdrop, mirrored
    EXPECT_LT(qAlpha(out.pixel(5, 5)), 60);                              // top-right corner, mirrored
}
