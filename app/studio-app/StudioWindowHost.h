// Start-up of the studio window, shared by the `vantry` application and
// `vantry-cli screenshot`: OpenGL set-up and checks, QML registration, and the
// window with its view model.
#pragma once

#include <QQmlApplicationEngine>
#include <QString>
#include <QUrl>
#include <memory>

#include "app/studio-app/DesktopFilePanels.h"
#include "app/studio-app/QuickFilePanels.h"
#include "app/studio-app/StudioRenderer.h"
#include "app/studio-app/VantryViewModel.h"

class QQuickWindow;
class QQmlEngine;

namespace vantry::app {

inline constexpr const char* kGpuRequiredMessage = "OpenGL 3.3 GPU required.";

// Before the QGuiApplication exists: OpenGL 3.3 core as the default surface
// format, OpenGL as Qt Quick's graphics API and the "rhi" scene-graph backend.
void prepareOpenGLQuick();

struct OpenGLProbe {
    bool ok = false;   // a 3.3 (or newer) core context was made current
    QString renderer;  // GL_RENDERER
    QString version;   // GL_VERSION
};
// Needs the application object. Makes a context with the default format on an offscreen surface.
OpenGLProbe probeOpenGL33();

// Registers the native QML types (module VantryNative 1.0, once per process) and
// makes the studio's QML module (Vantry.Studio) importable by engine.
void registerStudioQml(QQmlEngine& engine);

// The studio window: title "Vantry Pro", at least 1180 x 740, content VantryMainView.
class StudioWindowHost {
  public:
    // `panels` chooses which file panels show (DesktopFilePanels::detectBackend without one).
    explicit StudioWindowHost(std::shared_ptr<StudioRenderer> renderer,
                              DesktopFilePanels::BackendChooser panels = {});
    ~StudioWindowHost();

    // Loads and shows the window; false when QML failed to load.
    bool open(const QUrl& staticViewport = {});

    VantryViewModel& viewModel() { return *viewModel_; }
    // The window's own QML dialogs, used when neither a portal nor widgets are there.
    QuickFilePanels& panels() { return panels_; }
    // The panels the view model asks: portal, widget dialogs or the QML ones.
    DesktopFilePanels& desktopPanels() { return desktopPanels_; }
    QQuickWindow* window() const { return window_; }

  private:
    QuickFilePanels panels_;
    DesktopFilePanels desktopPanels_;
    std::unique_ptr<VantryViewModel> viewModel_;
    std::unique_ptr<QQmlApplicationEngine> qml_;
    QQuickWindow* window_ = nullptr;
};

// True when the window's scene graph draws with OpenGL (and not Qt's software fallback).
// Valid once the scene graph is initialised.
bool quickRunsOnOpenGL(QQuickWindow* window);

}  // namespace vantry::app
