// The --view half of "vantry-cli screenshot": opens the gallery window on one view (the
// co-op and raid maps sheet on either tab, the voice bar, the kill toast) as it first
// appears, and saves it.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QQuickWindow>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "app/cli/Args.h"
#include "app/cli/ScreenshotView.h"
#include "app/cli/StudioOptions.h"
#include "app/gallery/GalleryHost.h"
#include "platform/dispatch/QtMainPoster.h"

namespace vantry::app::cli {
namespace {

bool hasDisplay() {
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (wayland && *wayland);
}

// Runs the event loop for ms milliseconds so transitions finish and frames are drawn.
void settle(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
}

}  // namespace

bool wantsViewScreenshot(const std::vector<std::string>& args) {
    return std::any_of(args.begin(), args.end(), [](const std::string& a) { return a == "--view"; });
}

int runViewScreenshot(const std::vector<std::string>& args) {
    Args parsed(args, {"out", "view", "size"});
    if (!parsed.positional().empty())
        throw UsageError("unexpected argument '" + parsed.positional()[0] + "'");
    const std::string out = parsed.required("out");
    const std::string name = parsed.required("view");
    const auto view = gallery::galleryViewNamed(QString::fromStdString(name));
    if (!view) throw UsageError("--view must be coop-sheet, maps-sheet, voice-bar or kill-toast");
    const auto [width, height] = parsed.size("size", {900, 700});
    if (width < 720 || height < 560) throw UsageError("--size must be at least 720x560");
    const auto output = openDestination(out);
    if (!hasDisplay())
        throw CommandError("needs a display (for example: xvfb-run -a vantry-cli screenshot ...)");

    static int argc = 1;
    static char appName[] = "vantry-cli";
    static char* argv[] = {appName, nullptr};
    QGuiApplication app(argc, argv);
    platform::installQtMainPoster();

    gallery::GalleryHost host;
    if (!host.open(*view)) throw CommandError("the gallery window failed to load");
    QQuickWindow* window = host.window();
    window->resize(width, height);
    settle(600);
    const QImage shot = window->grabWindow();
    if (shot.isNull()) throw CommandError("the gallery window could not be captured");
    QImageWriter writer(QString::fromStdString(output->temporaryPath().string()), "png");
    if (!writer.write(shot))
        throw CommandError("cannot write '" + out + "': " + writer.errorString().toStdString());
    commitDestination(*output);
    std::printf("Wrote %s (%dx%d, view %s)\n", out.c_str(), shot.width(), shot.height(), name.c_str());
    return 0;
}

}  // namespace vantry::app::cli
