#include "bench/support/BenchStudioWindow.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QQuickItem>
#include <QQuickWindow>
#include <cstdlib>

#include "platform/dispatch/QtMainPoster.h"

namespace vantry::bench {
namespace {
QGuiApplication* gApplication = nullptr;
}

int BenchStudioWindow::frames() const {
    return viewport->property("framesDrawn").toInt();
}

bool BenchStudioWindow::waitFrames(int n) {
    const int target = frames() + n;
    QElapsedTimer clock;
    clock.start();
    while (frames() < target) {
        if (clock.elapsed() > 60000) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

void BenchStudioWindow::close() {
    viewport = nullptr;
    host.reset();
    renderer.reset();
    delete gApplication;
    gApplication = nullptr;
}

BenchStudioWindow& benchStudioWindow(const char* program, const std::function<void()>& beforeOpen) {
    static BenchStudioWindow* made = [&] {
        auto* w = new BenchStudioWindow;
        const char* display = std::getenv("DISPLAY");
        if (!display || !*display) return w;
        app::prepareOpenGLQuick();
        static int argc = 1;
        static char* argv[] = {const_cast<char*>(program), nullptr};
        gApplication = new QGuiApplication(argc, argv);
        platform::installQtMainPoster();
        if (beforeOpen) beforeOpen();
        const auto probe = app::probeOpenGL33();
        if (!probe.ok) return w;
        w->glRenderer = probe.renderer;
        w->renderer = app::EngineStudioRenderer::create();
        if (!w->renderer) return w;
        w->host = std::make_unique<app::StudioWindowHost>(w->renderer);
        if (!w->host->open()) return w;
        w->host->window()->resize(1180, 740);
        w->viewport = w->host->window()->findChild<QQuickItem*>(QStringLiteral("stageViewport"));
        if (w->viewport && !w->waitFrames(3)) w->viewport = nullptr;
        return w;
    }();
    return *made;
}

}  // namespace vantry::bench
