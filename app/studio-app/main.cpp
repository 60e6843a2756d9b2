// vantry [PICTURE]: the studio window, with PICTURE (when given) on the LED wall.
#include <QApplication>
#include <QDir>
#include <QQuickWindow>
#include <QUrl>
#include <cstdio>

#include "app/studio-app/EngineStudioRenderer.h"
#include "app/studio-app/StudioWindowHost.h"
#include "platform/camera/CameraBackend.h"
#include "platform/dispatch/QtMainPoster.h"

namespace {

int gpuRequired() {
    std::fprintf(stderr, "%s\n", vantry::app::kGpuRequiredMessage);
    return 1;
}

// "--camera FILE" (or "--camera=FILE"): the facecam plays that picture or video instead of
// the system camera. False after printing a message when the option has no value.
bool applyCameraOption(const QStringList& args) {
    for (qsizetype i = 1; i < args.size(); ++i) {
        QString file;
        if (args[i] == QLatin1String("--camera")) {
            if (i + 1 >= args.size() || args[i + 1].isEmpty()) {
                std::fprintf(stderr, "vantry: --camera needs a picture or video file\n");
                return false;
            }
            file = args[++i];
        } else if (args[i].startsWith(QLatin1String("--camera="))) {
            file = args[i].mid(9);
            if (file.isEmpty()) {
                std::fprintf(stderr, "vantry: --camera needs a picture or video file\n");
                return false;
            }
        } else {
            continue;
        }
        vantry::platform::setDefaultCameraFile(file.toStdString());
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace vantry::app;
    prepareOpenGLQuick();
    // A widget application, so that the file panels can be the desktop-styled dialogs.
    QApplication app(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("Vantry Pro"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Vantry Pro"));
    QGuiApplication::setDesktopFileName(QStringLiteral("vantry"));
    vantry::platform::installQtMainPoster();
    if (!applyCameraOption(QCoreApplication::arguments())) return 2;

    // No OpenGL 3.3 context or no engine: stop before the view model exists.
    if (!probeOpenGL33().ok) return gpuRequired();
    std::shared_ptr<EngineStudioRenderer> renderer = EngineStudioRenderer::create();
    if (!renderer) return gpuRequired();

    StudioWindowHost host(renderer);
    if (!host.open()) return 1;
    QQuickWindow* window = host.window();
    // A picture named on the command line (or by "Open With") goes onto the LED wall
    // as if the open panel had returned it.
    const QStringList args = QCoreApplication::arguments();
    if (args.size() > 1) {
        const QUrl url = QUrl::fromUserInput(args.at(1), QDir::currentPath(), QUrl::AssumeLocalFile);
        const QString file = url.isLocalFile() ? url.toLocalFile() : args.at(1);
        host.viewModel().mountSlide(file.toStdString());
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
    return app.exec();
}
