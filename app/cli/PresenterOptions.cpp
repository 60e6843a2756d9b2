#include "app/cli/PresenterOptions.h"

#include <memory>
#include <opencv2/core.hpp>

#include "creator/studio-overlay/FacecamFrameProcessor.h"
#include "platform/camera/FileCameraBackend.h"
#include "platform/segmentation/PersonSegmenter.h"

namespace vantry::app::cli {

PresenterMode parsePresenterMode(const Args& args, PresenterMode fallback) {
    const auto raw = args.value("presenter");
    if (!raw) return fallback;
    if (*raw == "in-set") return PresenterMode::inSet;
    if (*raw == "float") return PresenterMode::floating;
    throw UsageError("--presenter must be in-set or float, not '" + *raw + "'");
}

bool parseRefine(const Args& args) {
    const auto raw = args.value("refine");
    if (!raw || *raw == "on") return true;
    if (*raw == "off") return false;
    throw UsageError("--refine must be on or off, not '" + *raw + "'");
}

std::string presenterOptionHelp() {
    return "  --presenter P    how the presenter shows: float (over the picture, as the facecam window)\n"
           "                   or in-set (standing behind the desk, lit by the rig)\n";
}

QImage cutOutPresenter(const std::filesystem::path& file, bool refineEdges) {
    QImage picture;
    try {
        picture = platform::readCameraPicture(file);
    } catch (const std::exception& e) {
        throw CommandError("cannot read the camera picture '" + file.string() + "': " + e.what());
    }
    // The camera's format: 8-bit BGRA, opaque.
    picture = picture.convertToFormat(QImage::Format_RGB32).convertToFormat(QImage::Format_ARGB32);
    std::unique_ptr<platform::OnnxPersonSegmenter> segmenter;
    try {
        segmenter = std::make_unique<platform::OnnxPersonSegmenter>();
    } catch (const platform::SegmentationModelError& e) {
        throw CommandError(e.what());
    }
    creator::FacecamFrameProcessor processor(segmenter.get());
    creator::FacecamFrameSettings settings;
    settings.refineEdges = refineEdges;
    const QImage cutout = processor.process(creator::wrapImage(picture), settings);
    if (cutout.isNull() || !processor.lastFrameSegmented())
        throw CommandError("person segmentation failed on '" + file.string() + "'");
    return cutout;
}

}  // namespace vantry::app::cli
