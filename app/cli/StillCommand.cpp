// "vantry-cli still": renders one studio frame offscreen and writes it as PNG.
#include <QImage>
#include <QImageWriter>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "app/cli/Args.h"
#include "app/cli/Command.h"
#include "app/cli/StudioOptions.h"

namespace {

using vantry::app::cli::CommandError;
using vantry::app::cli::UsageError;

int runStill(const std::vector<std::string>& args) {
    std::set<std::string> valueOptions{"time", "size", "out"};
    for (const char* o : vantry::app::cli::kStudioValueOptions) valueOptions.insert(o);
    const vantry::app::cli::Args parsed(args, valueOptions);
    if (!parsed.positional().empty())
        throw UsageError("unexpected argument '" + parsed.positional()[0] + "'");
    const auto options = vantry::app::cli::parseStudioOptions(parsed);
    const double time = parsed.number("time", 0.0, -1e6, 1e6);
    const auto [width, height] = parsed.size("size", {1920, 1080});
    const std::filesystem::path out = parsed.required("out");
    const auto output = vantry::app::cli::openDestination(out);

    auto engine = vantry::app::cli::makeStudioEngine(options);
    const QImage frame = engine->renderOffscreenCGImage(width, height, static_cast<float>(time));
    if (frame.isNull())
        throw CommandError("rendering a " + std::to_string(width) + "x" + std::to_string(height) +
                           " frame failed");

    QImageWriter writer(QString::fromStdString(output->temporaryPath().string()), "png");
    if (!writer.write(frame))
        throw CommandError("cannot write '" + out.string() + "': " + writer.errorString().toStdString());
    vantry::app::cli::commitDestination(*output);
    std::printf("Wrote %s (%dx%d PNG)\n", out.string().c_str(), width, height);
    return 0;
}

const vantry::app::cli::CommandRegistrar kStill(
    {"still", "Render one studio frame to a PNG file",
     "Usage: vantry-cli still [options] --out FILE.png\n\n"
     "Renders one frame of the studio offscreen (no display needed) and writes it as PNG.\n\n"
     "Options:\n" +
         vantry::app::cli::studioOptionsHelp() +
         "  --time SECONDS   animation time of the frame (default 0); moves the Desk and Crane cameras\n"
         "  --size WxH       picture size in pixels (default 1920x1080)\n"
         "  --out FILE.png   where to write the picture (required; folders are created)\n"
         "  --help           show this help\n",
     runStill});

}  // namespace
