// "vantry-cli export": renders a broadcast clip of the studio to an MP4 file.
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "app/cli/Args.h"
#include "app/cli/CanvasOption.h"
#include "app/cli/Command.h"
#include "app/cli/EncoderOption.h"
#include "app/cli/StudioOptions.h"
#include "platform/video/VideoFileReader.h"
#include "platform/video/VideoWriter.h"

namespace {

using vantry::app::cli::CommandError;
using vantry::app::cli::UsageError;

// A bar redrawn in place on a terminal; a plain line every tenth otherwise.
class ProgressPrinter {
  public:
    ProgressPrinter() : terminal_(::isatty(STDERR_FILENO) == 1) {}
    void operator()(std::int64_t done, std::int64_t total) {
        if (terminal_) {
            constexpr int kWidth = 30;
            const int filled = int(done * kWidth / std::max<std::int64_t>(total, 1));
            std::string bar(std::size_t(filled), '#');
            bar.append(std::size_t(kWidth - filled), '-');
            std::fprintf(stderr, "\rRendering [%s] %lld/%lld frames", bar.c_str(), (long long)done,
                         (long long)total);
            if (done == total) std::fputc('\n', stderr);
        } else {
            const std::int64_t step = std::max<std::int64_t>(1, total / 10);
            if (done % step == 0 || done == total) {
                std::fprintf(stderr, "Rendering %lld/%lld frames\n", (long long)done, (long long)total);
            }
        }
        std::fflush(stderr);
    }

  private:
    bool terminal_;
};

int runExport(const std::vector<std::string>& args) {
    std::set<std::string> valueOptions{"seconds", "size", "out", "encoder", "canvas"};
    for (const char* o : vantry::app::cli::kStudioValueOptions) valueOptions.insert(o);
    const vantry::app::cli::Args parsed(args, valueOptions);
    if (!parsed.positional().empty())
        throw UsageError("unexpected argument '" + parsed.positional()[0] + "'");
    const auto options = vantry::app::cli::parseStudioOptions(parsed);
    const auto encoder = vantry::app::cli::parseEncoderOption(parsed);
    const double seconds = parsed.number("seconds", 3.0, 0, 3600);
    const vantry::ProgramCanvas canvas = vantry::app::cli::parseCanvasOption(parsed);
    // --size is the clip's size as given; the default is 1920x1080, stood on end for the
    // vertical canvas.
    const auto fallback = vantry::programCanvasSize(canvas, 1920, 1080);
    const auto [width, height] = parsed.size("size", {fallback.width, fallback.height});
    if (width % 2 != 0 || height % 2 != 0) throw UsageError("option --size needs even numbers for H.264");
    const std::filesystem::path out = parsed.required("out");
    const auto output = vantry::app::cli::openDestination(out);

    vantry::EngineServices services;
    services.openVideoSink = [encoder](const std::filesystem::path& path,
                                       const vantry::ExportVideoFormat& format) {
        return vantry::openMP4VideoSink(path, format, encoder);
    };
    auto engine = vantry::app::cli::makeStudioEngine(options, std::move(services));
    const auto partial = output->temporaryPath();
    const auto discard = [&] { output->discard(); };
    ProgressPrinter printer;
    std::int64_t framesTotal = 0;
    std::int64_t bytes = 0;
    try {
        bytes = engine->exportBroadcastMP4(
            width, height, seconds, partial,
            [&](std::int64_t done, std::int64_t total) {
                framesTotal = total;
                printer(done, total);
            },
            canvas);
    } catch (const std::exception& e) {
        discard();
        throw CommandError("cannot export to '" + out.string() + "': " + e.what());
    }
    // Only a complete file is handed over under the requested name.
    std::size_t framesInFile = 0;
    try {
        framesInFile = vantry::platform::probeVideoFile(partial).packets.size();
    } catch (const std::exception&) {
        framesInFile = 0;
    }
    if (bytes <= 0 || framesInFile != std::size_t(framesTotal)) {
        discard();
        throw CommandError("export to '" + out.string() + "' failed: " + std::to_string(framesInFile) +
                           " of " + std::to_string(framesTotal) + " frames were written");
    }
    vantry::app::cli::commitDestination(*output);
    std::printf("Wrote %s: %lld frames, %dx%d, %lld bytes\n", out.string().c_str(), (long long)framesTotal,
                width, height, (long long)bytes);
    return 0;
}

const vantry::app::cli::CommandRegistrar kExport(
    {"export", "Render a broadcast clip of the studio to an MP4 file",
     "Usage: vantry-cli export [options] --out FILE.mp4\n\n"
     "Renders the studio offscreen (no display needed) at 30 frames per second and writes\n"
     "H.264 video at 16 Mbit/s into an MP4 file. At least 30 frames (1 second) are written.\n"
     "Progress goes to standard error; the file size is printed at the end. --canvas vertical\n"
     "films the vertical program picture instead (9:16, the vertical canvas's own camera), by\n"
     "default at 1080x1920.\n\n"
     "Options:\n" +
         vantry::app::cli::studioOptionsHelp() +
         "  --seconds S      clip length in seconds, 0 to 3600 (default 3)\n"
         "  --canvas NAME    landscape (default) or vertical: the program picture filmed\n"
         "  --size WxH       picture size in pixels, even numbers, as given for either canvas\n"
         "                   (default 1920x1080, 1080x1920 with --canvas vertical)\n" +
         vantry::platform::media::kEncoderOptionHelp +
         "  --out FILE.mp4   where to write the clip (required; folders are created, an existing\n"
         "                   file is replaced only when the new clip is complete)\n"
         "  --help           show this help\n",
     runExport});

}  // namespace
