// "vantry-cli still": renders one studio frame offscreen and writes it as PNG.
#include <QImage>
#include <QImageWriter>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "app/cli/Args.h"
#include "app/cli/CanvasOption.h"
#include "app/cli/Command.h"
#include "app/cli/PresenterOptions.h"
#include "app/cli/StudioOptions.h"
#include "app/program-feed/ProgramFeed.h"

namespace {

using vantry::app::cli::CommandError;
using vantry::app::cli::UsageError;

int runStill(const std::vector<std::string>& args) {
    std::set<std::string> valueOptions{"time", "size", "out", "camera", "presenter", "refine", "canvas"};
    for (const char* o : vantry::app::cli::kStudioValueOptions) valueOptions.insert(o);
    const vantry::app::cli::Args parsed(args, valueOptions);
    if (!parsed.positional().empty())
        throw UsageError("unexpected argument '" + parsed.positional()[0] + "'");
    auto options = vantry::app::cli::parseStudioOptions(parsed);
    const double time = parsed.number("time", 0.0, -1e6, 1e6);
    options.slideTime = time;
    const vantry::ProgramCanvas canvas = vantry::app::cli::parseCanvasOption(parsed);
    // --size is the picture's size as given; the default is 1920x1080, stood on end for the
    // vertical canvas.
    const auto fallback = vantry::programCanvasSize(canvas, 1920, 1080);
    const auto [width, height] = parsed.size("size", {fallback.width, fallback.height});
    const std::filesystem::path out = parsed.required("out");
    const auto mode = vantry::app::cli::parsePresenterMode(parsed);
    const bool refine = vantry::app::cli::parseRefine(parsed);
    const auto camera = parsed.value("camera");
    if (camera && camera->empty()) throw UsageError("option --camera needs a picture file");
    if (!camera && (parsed.has("presenter") || parsed.has("refine")))
        throw UsageError("--presenter and --refine need --camera FILE");
    const auto output = vantry::app::cli::openDestination(out);

    auto engine = vantry::app::cli::makeStudioEngine(options);
    QImage presenter;
    if (camera) {
        presenter = vantry::app::cli::cutOutPresenter(*camera, refine);
        if (mode == vantry::app::cli::PresenterMode::inSet) engine->setInSetPresenter(presenter);
    }
    QImage frame = engine->renderOffscreenCGImage(width, height, static_cast<float>(time), canvas);
    if (frame.isNull())
        throw CommandError("rendering a " + std::to_string(width) + "x" + std::to_string(height) +
                           " frame failed");
    if (camera && mode == vantry::app::cli::PresenterMode::floating) {
        // Where and how the facecam window shows it by default over a 1280 x 720 viewport, placed
        // on the canvas's picture as the program feed places it.
        vantry::app::feed::ProgramPresenter floating;
        floating.visible = true;
        floating.look.viewportWidth = vantry::app::feed::kReferenceViewportWidth;
        floating.look.viewportHeight = vantry::app::feed::kReferenceViewportHeight;
        floating.picture = presenter;
        vantry::app::feed::composePresenter(frame, floating, canvas);
    }

    QImageWriter writer(QString::fromStdString(output->temporaryPath().string()), "png");
    if (!writer.write(frame))
        throw CommandError("cannot write '" + out.string() + "': " + writer.errorString().toStdString());
    vantry::app::cli::commitDestination(*output);
    std::printf("Wrote %s (%dx%d PNG)\n", out.string().c_str(), width, height);
    return 0;
}

const vantry::app::cli::CommandRegistrar kStill(
    {"still", "Render one studio frame to a PNG file",
     "Usage: vantry-cli still [options] [--camera FILE [--presenter in-set|float]] --out FILE.png\n\n"
     "Renders one frame of the studio offscreen (no display needed) and writes it as PNG.\n"
     "--canvas vertical renders the vertical program picture instead (9:16, filmed by the\n"
     "vertical canvas's own camera), by default at 1080x1920.\n\n"
     "Options:\n" +
         vantry::app::cli::studioOptionsHelp() +
         "  --time SECONDS   animation time of the frame (default 0); moves the Desk and Crane cameras\n"
         "  --canvas NAME    landscape (default) or vertical: the program picture rendered\n"
         "  --size WxH       picture size in pixels, as given for either canvas (default 1920x1080,\n"
         "                   1080x1920 with --canvas vertical)\n"
         "  --camera FILE    a picture of the presenter, cut out as the facecam does (segmentation model\n"
         "                   from scripts/fetch-segmentation-model)\n" +
         vantry::app::cli::presenterOptionHelp() +
         "  --refine on|off  refined, steady mask edges (default on)\n"
         "  --out FILE.png   where to write the picture (required; folders are created)\n"
         "  --help           show this help\n",
     runStill});

}  // namespace
