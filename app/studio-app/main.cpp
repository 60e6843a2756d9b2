// vantry [--camera FILE] [--remote] [WALL-FILE]: the studio window, with WALL-FILE (a picture, a PDF deck
// at its first page or a video playing; when given) on the LED wall
// and the facecam playing FILE instead of the system camera.
#include <QApplication>
#include <QDir>
#include <QQuickWindow>
#include <QUrl>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/remote/RemoteControl.h"
#include "app/remote/RemoteSecret.h"
#include "app/remote/ShotsModelRemote.h"
#include "app/remote/ViewModelRemoteStudio.h"
#include "app/studio-app/EngineStudioRenderer.h"
#include "app/studio-app/LaunchOptions.h"
#include "app/studio-app/StudioWindowHost.h"
#include "platform/camera/CameraBackend.h"
#include "platform/dispatch/QtMainPoster.h"

namespace {

int gpuRequired() {
    std::fprintf(stderr, "%s\n", vantry::app::kGpuRequiredMessage);
    return 1;
}

std::vector<std::string> argumentsAfterProgram(const QStringList& args) {
    std::vector<std::string> out;
    for (qsizetype i = 1; i < args.size(); ++i) out.push_back(args[i].toStdString());
    return out;
}

// --help and --version answer without a window; true when one of them was given.
bool answeredAndDone(const vantry::app::LaunchOptions& options) {
    if (options.help) {
        std::fputs(vantry::app::launchUsage().c_str(), stdout);
        return true;
    }
    if (options.version) {
        std::printf("vantry %s\n", VANTRY_VERSION);
        return true;
    }
    return false;
}

// Whether Qt can open a window at all: an X or Wayland display, or a platform chosen by name.
bool displayReachable() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value && *value) return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace vantry::app;
    // --help and --version work without a display; Qt's own options are known only once the
    // application has taken them out, so the full check comes after.
    {
        std::vector<std::string> raw(argv + 1, argv + argc);
        const LaunchOptions early = parseLaunchOptions(raw);
        if (answeredAndDone(early)) return 0;
        // Without a display Qt would stop the program before the command line could be
        // checked: a bad one is reported now (it cannot hold Qt's options then anyway).
        if (!early.error.empty() && !displayReachable()) {
            std::fprintf(stderr, "%s\n", early.error.c_str());
            return 2;
        }
    }
    prepareOpenGLQuick();
    // A widget application, so that the file panels can be the desktop-styled dialogs.
    QApplication app(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("Vantry Pro"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Vantry Pro"));
    QGuiApplication::setDesktopFileName(QStringLiteral("vantry"));
    vantry::platform::installQtMainPoster();
    const LaunchOptions options = parseLaunchOptions(argumentsAfterProgram(QCoreApplication::arguments()));
    if (!options.error.empty()) {
        std::fprintf(stderr, "%s\n", options.error.c_str());
        return 2;
    }
    if (answeredAndDone(options)) return 0;
    if (options.cameraFile) vantry::platform::setDefaultCameraFile(*options.cameraFile);

    // No OpenGL 3.3 context or no engine: stop before the view model exists.
    if (!probeOpenGL33().ok) return gpuRequired();
    std::shared_ptr<EngineStudioRenderer> renderer = EngineStudioRenderer::create();
    if (!renderer) return gpuRequired();

    StudioWindowHost host(renderer);
    if (!host.open()) return 1;
    QQuickWindow* window = host.window();
    // What a killed recording or export left behind: kept where it plays, else removed.
    {
        VantryViewModel& vm = host.viewModel();
        const QString recovered = vm.recoverUnfinishedFiles(vm.videoFolders());
        if (!recovered.isEmpty()) std::fprintf(stderr, "vantry: %s\n", qPrintable(recovered));
    }
    // A picture, deck or video named on the command line (or by "Open With") goes onto the LED
    // wall as if the open panel had returned it.
    if (options.picture) {
        const QString given = QString::fromStdString(*options.picture);
        const QUrl url = QUrl::fromUserInput(given, QDir::currentPath(), QUrl::AssumeLocalFile);
        const QString file = url.isLocalFile() ? url.toLocalFile() : given;
        host.viewModel().mountSlide(file.toStdString());
    }
    // The remote control: off unless --remote; the window's switch turns it on and off.
    vantry::remote::ShotsModelRemote remoteShots(host.viewModel().shots());
    vantry::remote::ViewModelRemoteStudio remoteStudio(host.viewModel());
    vantry::remote::RemoteControl remote(
        remoteStudio, &remoteShots,
        QString::fromStdString(options.remoteHost.empty() ? std::string(vantry::remote::kDefaultHost)
                                                          : options.remoteHost),
        options.remotePort ? options.remotePort : vantry::remote::kDefaultPort,
        vantry::remote::defaultSecretFile());
    remote.setControllerAddress(
        QString::fromStdString(options.controllerHost.empty() ? std::string(vantry::remote::kDefaultHost)
                                                              : options.controllerHost),
        options.controllerPort ? options.controllerPort : vantry::remote::obs::kDefaultPort);
    remoteShots.forwardChanges(remote);
    window->setProperty("remote", QVariant::fromValue<QObject*>(&remote));
    if (options.remote) {
        remote.setOn(true);
        if (!remote.isOn()) std::fprintf(stderr, "vantry: %s\n", qPrintable(remote.statusLine()));
    }

    // Qt Quick must really draw with OpenGL; its software fallback would show no studio.
    QObject::connect(
        window, &QQuickWindow::sceneGraphInitialized, &app,
        [window] {
            if (!quickRunsOnOpenGL(window)) QCoreApplication::exit(gpuRequired());
        },
        Qt::QueuedConnection);
    QObject::connect(
        window, &QQuickWindow::sceneGraphError, &app,
        [](QQuickWindow::SceneGraphError, const QString&) { QCoreApplication::exit(gpuRequired()); },
        Qt::QueuedConnection);
    const int status = app.exec();
    // The window has closed: a recording still running is stopped and saved before the end.
    host.viewModel().finishScreenRecording(true);
    return status;
}
