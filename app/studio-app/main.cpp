// vantry: the studio window.
#include <QGuiApplication>
#include <QQuickWindow>
#include <cstdio>

#include "app/studio-app/EngineStudioRenderer.h"
#include "app/studio-app/StudioShell.h"
#include "platform/dispatch/QtMainPoster.h"

namespace {

int gpuRequired() {
    std::fprintf(stderr, "%s\n", vantry::app::kGpuRequiredMessage);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace vantry::app;
    prepareOpenGLQuick();
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("Vantry Pro"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Vantry Pro"));
    QGuiApplication::setDesktopFileName(QStringLiteral("vantry"));
    vantry::platform::installQtMainPoster();

    // No OpenGL 3.3 context or no engine: stop before the view model exists.
    if (!probeOpenGL33().ok) return gpuRequired();
    std::shared_ptr<EngineStudioRenderer> renderer = EngineStudioRenderer::create();
    if (!renderer) return gpuRequired();

    StudioWindowHost host(renderer);
    if (!host.open()) return 1;
    QQuickWindow* window = host.window();

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
