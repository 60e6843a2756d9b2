// "vantry-cli screenshot": opens the studio window with the live engine, lets it
// draw a few frames, saves a picture of the window and exits.
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QQuickItem>
#include <QQuickWindow>
#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/cli/Args.h"
#include "app/cli/CanvasOption.h"
#include "app/cli/Command.h"
#include "app/cli/PresenterOptions.h"
#include "app/cli/ScreenshotView.h"
#include "app/cli/StudioOptions.h"
#include "app/cli/WallSlide.h"
#include "app/program-feed/GoLiveSettings.h"
#include "app/program-feed/ProgramFeed.h"
#include "app/studio-app/EngineStudioRenderer.h"
#include "app/studio-app/StudioWindowHost.h"
#include "app/studio-app/VantryViewModel.h"
#include "platform/camera/CameraBackend.h"
#include "platform/camera/FileCameraBackend.h"
#include "platform/dispatch/QtMainPoster.h"

namespace {

using vantry::app::cli::CommandError;
using vantry::app::cli::UsageError;

bool hasDisplay() {
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (wayland && *wayland);
}

// Presses the overlay's camera button and waits for the first facecam picture. Without a
// camera the facecam shows the studio preview instead, which is fine for a webcam that is not
// there; a camera file that was asked for and does not play is an error.
void switchFacecamOn(QQuickWindow* window, bool cameraFileChosen) {
    QObject* overlay = window->findChild<QObject*>(QStringLiteral("creatorStudioOverlay"));
    QObject* studio = overlay ? overlay->property("studio").value<QObject*>() : nullptr;
    if (!studio) throw CommandError("the studio window has no presenter overlay");
    QMetaObject::invokeMethod(studio, "toggleCamera");
    QElapsedTimer clock;
    clock.start();
    while (!studio->property("hasCameraFrame").toBool()) {
        const QString status = studio->property("statusMessage").toString();
        if (status.contains(QStringLiteral("Studio Preview"))) {
            if (cameraFileChosen)
                throw CommandError("the camera file gave no picture: " + status.toStdString());
            std::fprintf(stderr, "vantry-cli: %s\n", status.toStdString().c_str());
            return;
        }
        if (clock.elapsed() > 60000) throw CommandError("the facecam showed no picture within 60 s");
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(5);
    }
}

// Sets "Refine Edges" on the presenter overlay's controller, when the overlay is shown.
void setOverlayRefineEdges(QQuickWindow* window, bool refine) {
    QObject* overlay = window->findChild<QObject*>(QStringLiteral("creatorStudioOverlay"));
    QObject* studio = overlay ? overlay->property("studio").value<QObject*>() : nullptr;
    if (studio) studio->setProperty("refineEdges", refine);
}

vantry::app::shots::WallKind wallKindOf(vantry::app::cli::SlideKind kind) {
    switch (kind) {
        case vantry::app::cli::SlideKind::pdf:
            return vantry::app::shots::WallKind::pdf;
        case vantry::app::cli::SlideKind::video:
            return vantry::app::shots::WallKind::video;
        case vantry::app::cli::SlideKind::picture:
            break;
    }
    return vantry::app::shots::WallKind::picture;
}

// The --slide file (a PDF at its --slide-page) or the shared screen onto the view model's wall.
void mountWallSource(vantry::app::VantryViewModel& vm, const vantry::app::cli::StudioOptions& o) {
    if (o.slideScreen) {
        if (!vm.shareScreen()) throw CommandError(vm.statusBannerText().toStdString());
        return;
    }
    if (vm.mountSlide(*o.slide, wallKindOf(o.slideKind), o.slidePage)) return;
    // A deck's or a video's banner names the file and the reason.
    if (o.slideKind == vantry::app::cli::SlideKind::picture || !vm.hasStatusBanner())
        throw CommandError("cannot load " + o.slide->string() + " onto the LED wall");
    throw CommandError(vm.statusBannerText().toStdString());
}

// A deck's page, a video's or a share's pictures come from their own threads: the window is
// taken once the wall shows the source, under the name the window shows. A feed that ends
// before its first picture says so in the banner and leaves the wall as it was.
void waitForWallPicture(const vantry::app::VantryViewModel& vm, const vantry::VantryMetalEngine& engine) {
    const QString mountedBanner = vm.statusBannerText();
    QElapsedTimer clock;
    clock.start();
    while (engine.slideSourceName() != vm.slideName().toStdString() &&
           vm.statusBannerText() == mountedBanner) {
        if (clock.elapsed() > 60000)
            throw CommandError("the LED wall showed no picture of " + vm.slideName().toStdString() +
                               " within 60 s");
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(5);
    }
}

// What the window says about the wall, from the view model the window's controls show.
std::string wallLine(const vantry::app::VantryViewModel& vm) {
    std::string line =
        "LED wall: " + vm.wallKindName().toStdString() + " \"" + vm.slideName().toStdString() + "\"";
    if (vm.wallKind() == vantry::app::shots::WallKind::pdf)
        line += ", page " + std::to_string(vm.slidePage()) + " / " + std::to_string(vm.slideCount());
    if (vm.hasStatusBanner()) line += "; banner \"" + vm.statusBannerText().toStdString() + "\"";
    return line;
}

// The vertical program picture the window's studio would send: its engine's vertical canvas at
// the GO LIVE size stood on end, at the live clock, with the floating presenter laid over it
// as the vertical feed places it (one standing in the set is in the studio frame already).
QImage verticalProgramPicture(vantry::app::VantryViewModel& vm, vantry::VantryMetalEngine& engine) {
    const auto live = vantry::app::feed::parseGoLiveSize(vm.goLive().size().toStdString())
                          .value_or(std::pair<int, int>{1280, 720});
    const auto size = vantry::programCanvasSize(vantry::ProgramCanvas::vertical, live.first, live.second);
    QImage picture =
        engine.renderOffscreenCGImage(size.width, size.height, std::nullopt, vantry::ProgramCanvas::vertical);
    if (picture.isNull())
        throw CommandError("rendering the " + std::to_string(size.width) + "x" + std::to_string(size.height) +
                           " vertical program picture failed");
    vantry::app::feed::ProgramPresenter presenter = vm.goLive().currentPresenter();
    if (presenter.look.viewportWidth <= 0 || presenter.look.viewportHeight <= 0) {
        presenter.look.viewportWidth = vantry::app::feed::kReferenceViewportWidth;
        presenter.look.viewportHeight = vantry::app::feed::kReferenceViewportHeight;
    }
    vantry::app::feed::composePresenter(picture, presenter, vantry::ProgramCanvas::vertical);
    return picture;
}

int runScreenshot(const std::vector<std::string>& args) {
    if (vantry::app::cli::wantsViewScreenshot(args)) return vantry::app::cli::runViewScreenshot(args);
    vantry::app::cli::Args parsed(args,
                                  {"out", "set", "angle", "frames", "size", "camera", "slide", "slide-page",
                                   "refine", "presenter", "canvas", "colour-match"},
                                  {"vision", "facecam", "slide-screen"});
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
        angle = vantry::BroadcastCameraAngle::fromRawValue(parsed.integer("angle", 0, 0, 3));
    }
    const std::optional<bool> refineEdges = parsed.onOff("refine");
    const std::optional<bool> colourMatch = parsed.onOff("colour-match");
    std::optional<vantry::app::cli::PresenterMode> presenterMode;
    if (parsed.has("presenter")) presenterMode = vantry::app::cli::parsePresenterMode(parsed);
    vantry::app::cli::StudioOptions wallSlide;
    vantry::app::cli::parseSlideOptions(parsed, wallSlide);
    const int frames = parsed.integer("frames", 12, 1, 10000);
    const vantry::ProgramCanvas canvas = vantry::app::cli::parseCanvasOption(parsed);
    const auto [width, height] = parsed.size("size", {1440, 900});
    if (width < 1180 || height < 740)
        throw UsageError("option --size expects at least 1180x740, got '" + *parsed.value("size") + "'");
    const auto output = vantry::app::cli::openDestination(out);
    if (auto camera = parsed.value("camera")) {
        if (camera->empty()) throw UsageError("--camera needs a picture or video file");
        try {
            (void)vantry::platform::openCameraFileSource(*camera);
        } catch (const std::exception& e) {
            throw CommandError("cannot read camera file '" + *camera + "': " + e.what());
        }
        vantry::platform::setDefaultCameraFile(*camera);
    }
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
    vantry::app::VantryViewModel& vm = host.viewModel();
    if (set) vm.selectSet(*set);
    if (angle) {
        vm.setCameraAngle(*angle);
        vm.sync();
    }
    if (presenterMode)
        vm.choosePresenterInSet(*presenterMode == vantry::app::cli::PresenterMode::inSet, false);
    if (colourMatch) vm.chooseColourMatch(*colourMatch, false);
    const bool facecam = parsed.flag("facecam");
    if (parsed.flag("vision") || facecam) vm.setShowVisionPresenter(true);
    // For this picture only: the window's saved choice stays as it is.
    if (refineEdges) setOverlayRefineEdges(window, *refineEdges);
    if (facecam) switchFacecamOn(window, parsed.has("camera"));
    // As the open panel or the Share Screen button would: the window's label, page counter and
    // banner tell what the wall shows.
    if (wallSlide.slide || wallSlide.slideScreen) {
        mountWallSource(vm, wallSlide);
        waitForWallPicture(vm, renderer->engine());
    }

    auto* viewport = window->findChild<QQuickItem*>(QStringLiteral("stageViewport"));
    if (!viewport) throw CommandError("the studio window has no live viewport");
    QElapsedTimer clock;
    clock.start();
    // N frames, or fewer where the studio holds its frame: a still angle draws one frame and
    // then nothing until something changes, and that frame is the picture.
    const auto settled = [&] {
        const int drawn = viewport->property("framesDrawn").toInt();
        return drawn >= frames || (drawn > 0 && viewport->property("studioHolding").toBool());
    };
    for (;;) {
        while (!settled()) {
            if (clock.elapsed() > 60000) throw CommandError("the live viewport drew no frames within 60 s");
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            QThread::msleep(5);
        }
        // A scene-graph sync hands the window's size to the studio: a frame held at an older
        // size is drawn again before the picture is taken.
        const int drawn = viewport->property("framesDrawn").toInt();
        (void)window->grabWindow();
        const bool held = viewport->property("studioHolding").toBool() &&
                          viewport->property("framesDrawn").toInt() == drawn;
        // The picture is taken once the viewport shows it: the held frame itself, or at a moving
        // angle a studio frame. A finished frame asks for a window update with a queued call; the
        // sync of a grab made before that call came in still shows the frame before (at first,
        // black), so the events are handled and the window is grabbed again.
        const bool shown = held ? viewport->property("showsNewestFrame").toBool()
                                : viewport->property("framesShown").toInt() > 0;
        if ((drawn >= frames || held) && shown) break;
        if (clock.elapsed() > 60000) throw CommandError("the live viewport showed no frame within 60 s");
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    if (!vantry::app::quickRunsOnOpenGL(window)) throw CommandError(vantry::app::kGpuRequiredMessage);
    const QImage shot = canvas == vantry::ProgramCanvas::vertical
                            ? verticalProgramPicture(vm, renderer->engine())
                            : window->grabWindow();
    if (shot.isNull()) throw CommandError("the studio window could not be captured");
    QImageWriter writer(QString::fromStdString(output->temporaryPath().string()), "png");
    if (!writer.write(shot))
        throw CommandError("cannot write '" + out + "': " + writer.errorString().toStdString());
    vantry::app::cli::commitDestination(*output);
    const double seconds = clock.elapsed() / 1000.0;
    std::printf("Wrote %s (%dx%d, %d live frames in %.1f s, %s)\n", out.c_str(), shot.width(), shot.height(),
                viewport->property("framesDrawn").toInt(), seconds, probe.renderer.toStdString().c_str());
    if (wallSlide.slide || wallSlide.slideScreen) std::printf("%s\n", wallLine(vm).c_str());
    return 0;
}

const vantry::app::cli::CommandRegistrar kScreenshot(
    {"screenshot", "Save a picture of the live studio window (needs a display)",
     "Usage: vantry-cli screenshot --out FILE.png [--set ID] [--angle N] [--vision] [--facecam] [--camera "
     "FILE]\n"
     "                             [--presenter in-set|float] [--refine on|off] [--colour-match on|off]\n"
     "                             [--slide FILE [--slide-page N] | --slide-screen] [--frames N] [--size "
     "WxH]\n"
     "                             [--canvas landscape|vertical]\n\n"
     "Opens the studio window with the live renderer, waits until the viewport has drawn N frames\n"
     "(default 12; at a still angle, until it holds its one frame), saves the window as a PNG and\n"
     "exits. --set picks a studio set (see vantry-cli sets),\n"
     "--angle a camera angle 0..3, --vision turns Vision Cutout on, --slide mounts a picture, a PDF's\n"
     "page (--slide-page N, from 1; default 1) or a video (looped, without its sound) on the LED wall\n"
     "as the open panel would, the window's label, page counter and banner saying so; --slide-screen\n"
     "shares the X display's screen onto the wall as Share Screen would (on a Wayland session, what\n"
     "the desktop's dialog picks). With either, a second line tells what the window says of the wall.\n"
     "--size sets the window (default 1440x900, at least 1180x740).\n"
     "--facecam also switches the facecam on and waits for its first picture; --camera plays a picture\n"
     "or video file as the camera. --presenter in-set|float shows the presenter standing in the set\n"
     "or floating over it (default: the choice saved in the window). --refine turns the presenter's\n"
     "steady, picture-fitted edges on or off for this picture (default: as the window keeps it; off\n"
     "shows the raw segmentation mask). --colour-match turns the presenter's colour match to the set\n"
     "on or off for this picture (default: as the window keeps it). --canvas vertical saves, instead\n"
     "of the window (which shows the landscape picture), the vertical program picture its studio\n"
     "would send: the vertical canvas at the GO LIVE size stood on end (720x1280 or 1080x1920), at\n"
     "the live clock, with the floating presenter laid over it. Needs a display; xvfb-run works.\n\n"
     "       vantry-cli screenshot --view coop-sheet|maps-sheet|voice-bar|kill-toast --out FILE.png [--size "
     "WxH]\n"
     "saves a gallery view instead, as it first appears (default 900x700).",
     runScreenshot});

}  // namespace
