// The real studio window over the engine, for benchmarks run under a display
// (xvfb-run will do): one per process, at the window's minimum size.
#pragma once

#include <QString>
#include <functional>
#include <memory>

#include "app/studio-app/EngineStudioRenderer.h"
#include "app/studio-app/StudioWindowHost.h"

class QQuickItem;

namespace vantry::bench {

struct BenchStudioWindow {
    std::shared_ptr<app::EngineStudioRenderer> renderer;
    std::unique_ptr<app::StudioWindowHost> host;
    QQuickItem* viewport = nullptr;  // null: no display, no OpenGL 3.3, or no frames drawn
    QString glRenderer;

    int frames() const;
    // Runs the event loop until the viewport has drawn `n` more frames (false after a minute).
    bool waitFrames(int n);
    // Closes the window and the application object (at the end of main).
    void close();
};

// Made on first use: the application object named `program`, then `beforeOpen`
// (for settings that must precede the window), then the window, which has drawn
// three frames when this returns.
BenchStudioWindow& benchStudioWindow(const char* program, const std::function<void()>& beforeOpen = {});

}  // namespace vantry::bench
