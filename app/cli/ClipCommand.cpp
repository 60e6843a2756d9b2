// "vantry-cli clip": writes a 9:16 highlight clip and prints its receipt as JSON.
#include <unistd.h>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>

#include "app/cli/Args.h"
#include "app/cli/Command.h"
#include "creator/clips-and-juice/OruViralAutoClipper9x16V1030.h"
#include "creator/clips-and-juice/ViralClipLayout.h"
#include "platform/files/RegularFile.h"

namespace {

// A picture file larger than this is not read.
constexpr std::uintmax_t kMaxImageBytes = std::uintmax_t(256) << 20;

namespace clipper = vantry::creator::OruViralAutoClipper9x16V1030;
using vantry::app::cli::CommandError;
using vantry::app::cli::UsageError;

// Text drawing needs a GUI application object; no display is needed. The
// object lives until the command returns (not until static destruction).
std::unique_ptr<QGuiApplication> ensureGuiApplication() {
    if (QCoreApplication::instance()) return nullptr;
    if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "vantry-cli";
    static char* argv[] = {name, nullptr};
    return std::make_unique<QGuiApplication>(argc, argv);
}

class ProgressPrinter {
  public:
    ProgressPrinter() : terminal_(::isatty(STDERR_FILENO) == 1) {}
    void operator()(std::int64_t done, std::int64_t total) {
        const int percent = int(done * 100 / total);
        if (terminal_) {
            const int filled = percent * 30 / 100;
            std::fprintf(stderr, "\r[%.*s%*s] %3d%% %lld/%lld frames", filled,
                         "##############################", 30 - filled, "", percent,
                         static_cast<long long>(done), static_cast<long long>(total));
            if (done == total) std::fprintf(stderr, "\n");
        } else if (percent / 10 != lastTenth_ || done == total) {
            lastTenth_ = percent / 10;
            std::fprintf(stderr, "clip: %lld/%lld frames (%d%%)\n", static_cast<long long>(done),
                         static_cast<long long>(total), percent);
        }
        std::fflush(stderr);
    }

  private:
    bool terminal_;
    int lastTenth_ = -1;
};

int runClip(const std::vector<std::string>& args) {
    vantry::app::cli::Args parsed(args, {"title", "headline", "badge", "image", "seconds", "fps", "out"});
    if (!parsed.positional().empty())
        throw UsageError("unexpected argument '" + parsed.positional()[0] + "'");
    const std::string title = parsed.required("title");
    const std::string headline = parsed.required("headline");
    const std::string badge = parsed.required("badge");
    const double seconds = parsed.number("seconds", 3.0, 0, 3600);
    const int fps = parsed.integer("fps", 30, 1, 240);
    try {
        (void)vantry::creator::viralclip::frameCountFor(seconds, fps);
    } catch (const std::invalid_argument& e) {
        throw UsageError(e.what());
    }
    std::optional<std::filesystem::path> out;
    if (auto o = parsed.value("out")) {
        if (o->empty()) throw UsageError("option --out needs a file name");
        out = std::filesystem::absolute(*o);
        vantry::app::cli::createParentFolder(*out);
    } else {
        vantry::app::cli::createFolder(clipper::defaultClipsDirectory());
    }

    const auto app = ensureGuiApplication();
    std::optional<QImage> image;
    if (auto path = parsed.value("image")) {
        // Checked without blocking first: a named pipe or a device is never handed to the reader.
        if (auto why = vantry::platform::whyNotReadable(*path, kMaxImageBytes))
            throw CommandError("cannot read image '" + *path + "': " + *why);
        QImageReader reader(QString::fromStdString(*path));
        reader.setAutoTransform(true);  // photos stand upright as their EXIF orientation says
        QImage loaded = reader.read();
        if (loaded.isNull()) throw CommandError("cannot read image '" + *path + "'");
        image = std::move(loaded);
    }

    ProgressPrinter printer;
    const auto receipt = clipper::exportVerticalViralClip(
        title, headline, badge, image, out, seconds, fps,
        [&printer](std::int64_t done, std::int64_t total) { printer(done, total); });
    std::printf("%s\n", receipt.encode().c_str());
    std::fflush(stdout);
    return 0;
}

const vantry::app::cli::CommandRegistrar kClip(
    {"clip", "Write a 9:16 highlight clip (1080x1920 H.264 MP4)",
     "Usage: vantry-cli clip --title T --headline H --badge B [--image FILE] [--seconds S] [--fps N]\n"
     "                       [--out FILE.mp4]\n"
     "\n"
     "Draws a vertical 1080x1920 highlight clip in software and writes it as H.264 MP4\n"
     "(6.5 Mbit/s, one key frame per second, no audio), then prints its receipt as JSON.\n"
     "\n"
     "Options:\n"
     "  --title T        game title, drawn upper-cased at the top (required)\n"
     "  --headline H     headline under the title (required)\n"
     "  --badge B        stat badge at the bottom (required)\n"
     "  --image FILE     still image shown with a slow push-in (PNG, JPEG, ...);\n"
     "                   without it a drawn placeholder scene is animated\n"
     "  --seconds S      length in seconds, 0 to 3600 (default 3; at least 30 frames are written)\n"
     "  --fps N          frames per second, 1 to 240 (default 30)\n"
     "  --out FILE.mp4   destination; an existing file is replaced. Default: the CorvellaClips\n"
     "                   folder in your videos folder, named TITLE_Highlight_UNIXTIME.mp4\n"
     "\n"
     "Progress goes to standard error; the receipt to standard output.",
     runClip});

}  // namespace
