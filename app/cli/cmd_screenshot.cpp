// "vantry-cli screenshot": opens the studio window with the live engine, lets it
// draw a few frames, saves a picture of the window and exits.
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QQuickItem>
#include <QQuickWindow>
#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/cli/Args.h"
#include "app/cli/Command.h"
#include "app/studio-app/EngineStudioRenderer.h"
#include "app/studio-app/StudioShell.h"
#include "platform/dispatch/QtMainPoster.h"

namespace {

using vantry::cli::CommandError;
using vantry::cli::UsageError;

bool hasDisplay() {
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (wayland && *wayland);
}

int runScreenshot(const std::vector<std::string>& args) {
    vantry::cli::Args parsed(args, {"out", "set", "angle", "frames", "size", "slide"}, {"vision"});
    if (!parsed.positional().empty())
        throw UsageError("unexpected argument '" + parsed.positional()[0] + "'");
    const std::string out = parsed.required("out");
    std::optional<vantry::BroadcastStudioSet> set;
    if (auto id = parsed.value("set")) {
        set = vantry::BroadcastStudioSet::fromRawValue(*id);
        if (!set) throw UsageError("unknown set '" + *id + "' (see vantry-cli sets)");
    }
    std::optional<vantry::BroadcastCameraAngle> angle;
    if (parsed.has("angle")) {
        angle = vantry::BroadcastCameraAngle::fromRawValue(parsed.integer("angle", 0));
        if (!angle) throw UsageError("--angle must be 0, 1, 2 or 3");
    }
    const int frames = parsed.integer("frames", 12);
    if (frames < 1 || frames > 10000) throw UsageError("--frames must be 1..10000");
    const auto [width, height] = parsed.size("size", {1440, 900});
    if (width < 1180 || height < 740) throw UsageError("--size must be at least 1180x740");
    if (!hasDisplay())
        throw CommandError("needs a display (for example: xvfb-run -a vantry-cli screenshot ...)");

    vantry::app::prepareOpenGLQuick();
    static int argc = 1;
    static char name[] = "vantry-cli";
    static char* argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);
    vantry::platform::installQtMainPoster();

    const vantry::app::OpenGLProbe probe = vantry::app::probeOpenGL33();
    if (!probe.ok) throw CommandError(vantry::app::kGpuRequiredMessage);
    auto renderer = vantry::app::EngineStudioRenderer::create();
    if (!renderer) throw CommandError(vantry::app::kGpuRequiredMessage);

    vantry::app::StudioWindowHost host(renderer);
    if (!host.open()) throw CommandError("the studio window failed to load");
    QQuickWindow* window = host.window();
    window->resize(width, height);
    vantry::VantryViewModel& vm = host.viewModel();
    if (set) vm.selectSet(*set);
    if (angle) {
        vm.setCameraAngle(*angle);
        vm.sync();
    }
    if (parsed.flag("vision")) vm.setShowVisionPresenter(true);
    if (auto slide = parsed.value("slide")) {
        // As the open panel would: onto the LED wall, or a banner saying it could not.
        if (!vm.mountSlide(*slide)) throw CommandError("cannot load " + *slide + " onto the LED wall");
    }

    auto* viewport = window->findChild<QQuickItem*>(QStringLiteral("stageViewport"));
    if (!viewport) throw CommandError("the studio window has no live viewport");
    QElapsedTimer clock;
    clock.start();
    while (viewport->property("framesDrawn").toInt() < frames) {
        if (clock.elapsed() > 60000) throw CommandError("the live viewport drew no frames within 60 s");
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(5);
    }
    if (!vantry::app::quickRunsOnOpenGL(window)) throw CommandError(vantry::app::kGpuRequiredMessage);
    const QImage shot = window->grabWindow();
    if (shot.isNull() || !shot.save(QString::fromStdString(out), "PNG")) {
        throw CommandError("cannot write " + out);
    }
    const double seconds = clock.elapsed() / 1000.0;
    std::printf("Wrote %s (%dx%d, %d live frames in %.1f s, %s)\n", out.c_str(), shot.width(), shot.height(),
                viewport->property("framesDrawn").toInt(), seconds, probe.renderer.toStdString().c_str());
    return 0;
}

const vantry::cli::CommandRegistrar kScreenshot(
    {"screenshot", "Save a picture of the live studio window (needs a display)",
     "Usage: vantry-cli screenshot --out FILE.png [--set ID] [--angle N] [--vision] [--slide PICTURE] "
     "[--frames "
     "N] [--size WxH]\n\n"
     "Opens the studio window with the live renderer, waits until the viewport has drawn N frames\n"
     "(default 12), saves the window as a PNG and exits. --set picks a studio set (see vantry-cli sets),\n"
     "--angle a camera angle 0..3, --vision turns Vision Cutout on, --slide mounts PICTURE on the LED\n"
     "wall as the open panel would, --size sets the window (default\n"
     "1440x900, at least 1180x740). Needs a display; xvfb-run works.",
     runScreenshot});

}  // namespace
