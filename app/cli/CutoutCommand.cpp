// "vantry-cli cutout": one picture through the facecam's frame processing.
#include <cstdio>
#include <filesystem>
#include <memory>

#include <QImage>
#include <QImageWriter>
#include <opencv2/core.hpp>

#include "app/cli/Args.h"
#include "app/cli/Command.h"
#include "app/cli/StudioOptions.h"
#include "creator/studio-overlay/FacecamFrameProcessor.h"
#include "platform/camera/FileCameraBackend.h"
#include "platform/segmentation/PersonSegmenter.h"

namespace {

using vantry::creator::OruFacecamBackgroundModeV1045;

OruFacecamBackgroundModeV1045 parseMode(const std::string& mode) {
    if (mode == "cutout") return OruFacecamBackgroundModeV1045::cutoutNoBackground;
    if (mode == "blur") return OruFacecamBackgroundModeV1045::studioBlur;
    if (mode == "full") return OruFacecamBackgroundModeV1045::fullCamera;
    throw vantry::app::cli::UsageError("--mode must be cutout, blur or full, not '" + mode + "'");
}

int runCutout(const std::vector<std::string>& args) {
    vantry::app::cli::Args parsed(args, {"in", "out", "mode"}, {"mirror"});
    if (!parsed.positional().empty())
        throw vantry::app::cli::UsageError("unexpected argument '" + parsed.positional()[0] + "'");
    const std::string in = parsed.required("in");
    const std::string out = parsed.required("out");
    const auto mode = parseMode(parsed.value("mode").value_or("cutout"));
    const bool mirror = parsed.flag("mirror");
    const auto output = vantry::app::cli::openDestination(out);

    QImage picture;
    try {
        picture = vantry::platform::readCameraPicture(in);
    } catch (const std::exception& e) {
        throw vantry::app::cli::CommandError("cannot read the picture '" + in + "': " + e.what());
    }
    // The camera's format: 8-bit BGRA, opaque.
    picture = picture.convertToFormat(QImage::Format_RGB32).convertToFormat(QImage::Format_ARGB32);
    const cv::Mat frame = vantry::creator::wrapImage(picture);

    std::unique_ptr<vantry::platform::OnnxPersonSegmenter> segmenter;
    if (mode != OruFacecamBackgroundModeV1045::fullCamera) {
        try {
            segmenter = std::make_unique<vantry::platform::OnnxPersonSegmenter>();
        } catch (const vantry::platform::SegmentationModelError& e) {
            throw vantry::app::cli::CommandError(e.what());
        }
    }
    vantry::creator::FacecamFrameProcessor processor(segmenter.get());
    // One picture has no history to steady, and the cutout shows the network's own mask.
    const QImage result = processor.process(frame, {mode, mirror, /*refineEdges=*/false});
    if (result.isNull()) throw vantry::app::cli::CommandError("the picture could not be processed");
    if (mode != OruFacecamBackgroundModeV1045::fullCamera && !processor.lastFrameSegmented()) {
        throw vantry::app::cli::CommandError("person segmentation failed on '" + in + "'");
    }
    QImageWriter writer(QString::fromStdString(output->temporaryPath().string()), "png");
    if (!writer.write(result))
        throw vantry::app::cli::CommandError("cannot write '" + out +
                                             "': " + writer.errorString().toStdString());
    vantry::app::cli::commitDestination(*output);
    const auto raw = mode.rawValue();
    std::printf("%s: %dx%d, %.*s%s\n", out.c_str(), result.width(), result.height(), int(raw.size()),
                raw.data(), mirror ? ", mirrored" : "");
    return 0;
}

const vantry::app::cli::CommandRegistrar kCutout(
    {"cutout", "Run one picture through the facecam (person cutout, blur or full)",
     "Usage: vantry-cli cutout --in IMAGE --out FILE.png [--mode cutout|blur|full] [--mirror]\n\n"
     "Runs the picture through exactly the facecam's frame processing and writes the result as PNG:\n"
     "  cutout  the person over a transparent background (default)\n"
     "  blur    the person over a blurred copy of the picture\n"
     "  full    the picture unchanged, no segmentation\n"
     "--mirror flips the picture left-right first, as the facecam does by default.\n"
     "The person-segmentation model comes from scripts/fetch-segmentation-model.",
     runCutout});

}  // namespace
