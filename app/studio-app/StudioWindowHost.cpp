#include "app/studio-app/StudioWindowHost.h"

#include <QtQml/qqml.h>
#include <QDir>
#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QQmlContext>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QStandardPaths>
#include <QSurfaceFormat>

#include "app/studio-app/ProgramPreviewView.h"
#include "app/studio-app/StageViewportView.h"
#include "app/studio-app/StudioUi.h"
#include "creator/studio-overlay/qml/CreatorStudioUi.h"
#include "platform/audio-mix/ProgrammeSound.h"
#include "platform/fonts/BrandFonts.h"

static void initStudioResources() {
    Q_INIT_RESOURCE(studio_qml);
}

namespace vantry::app {

void prepareOpenGLQuick() {
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setVersion(3, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    format.setDepthBufferSize(24);
    format.setStencilBufferSize(8);
    format.setAlphaBufferSize(8);
    QSurfaceFormat::setDefaultFormat(format);
    QQuickWindow::setGraphicsApi(QSGRendererInterface::OpenGL);
    QQuickWindow::setSceneGraphBackend(QStringLiteral("rhi"));
}

OpenGLProbe probeOpenGL33() {
    OpenGLProbe probe;
    QOpenGLContext context;
    context.setFormat(QSurfaceFormat::defaultFormat());
    if (!context.create()) return probe;
    QOffscreenSurface surface;
    surface.setFormat(context.format());
    surface.create();
    if (!surface.isValid() || !context.makeCurrent(&surface)) return probe;
    const QSurfaceFormat actual = context.format();
    QOpenGLFunctions* gl = context.functions();
    probe.renderer = QString::fromLatin1(reinterpret_cast<const char*>(gl->glGetString(GL_RENDERER)));
    probe.version = QString::fromLatin1(reinterpret_cast<const char*>(gl->glGetString(GL_VERSION)));
    probe.ok = !context.isOpenGLES() && actual.version() >= qMakePair(3, 3) &&
               actual.profile() == QSurfaceFormat::CoreProfile;
    context.doneCurrent();
    return probe;
}

void registerStudioQml(QQmlEngine& engine) {
    static const bool registered = [] {
        initStudioResources();
        // Every text of the window uses the UI font unless it names another.
        QGuiApplication::setFont(platform::studioUiFont());
        qmlRegisterType<StageViewportView>("VantryNative", 1, 0, "StageViewportView");
        qmlRegisterType<ProgramPreviewView>("VantryNative", 1, 0, "ProgramPreviewView");
        qmlRegisterUncreatableType<VantryViewModel>("VantryNative", 1, 0, "VantryViewModel",
                                                    QStringLiteral("made by the application"));
        qmlRegisterUncreatableType<QuickFilePanels>("VantryNative", 1, 0, "QuickFilePanels",
                                                    QStringLiteral("made by the application"));
        qmlRegisterSingletonType<StudioUi>("VantryNative", 1, 0, "StudioUi",
                                           [](QQmlEngine*, QJSEngine*) -> QObject* { return new StudioUi; });
        return true;
    }();
    (void)registered;
    creator::qml::registerCreatorStudioQml(engine);
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
}

StudioWindowHost::StudioWindowHost(std::shared_ptr<StudioRenderer> renderer,
                                   DesktopFilePanels::BackendChooser panels)
    : desktopPanels_(&panels_, std::move(panels)),
      viewModel_(std::make_unique<VantryViewModel>(std::move(renderer), &desktopPanels_, WallFeeds::system(),
                                                   platform::ProgrammeSound::shared())) {}

StudioWindowHost::~StudioWindowHost() {
    qml_.reset();  // the window and its items go before the view model they read
    viewModel_.reset();
}

bool StudioWindowHost::open(const QUrl& staticViewport) {
    qml_ = std::make_unique<QQmlApplicationEngine>();
    registerStudioQml(*qml_);
    // The user's pictures and videos folders, or the home folder where they do not exist.
    const auto folder = [](QStandardPaths::StandardLocation where) {
        const QString path = QStandardPaths::writableLocation(where);
        return QUrl::fromLocalFile(QDir(path).exists() ? path : QDir::homePath());
    };
    qml_->setInitialProperties({
        {QStringLiteral("vm"), QVariant::fromValue(static_cast<QObject*>(viewModel_.get()))},
        {QStringLiteral("panels"), QVariant::fromValue(static_cast<QObject*>(&panels_))},
        {QStringLiteral("staticViewportOverride"), staticViewport},
        {QStringLiteral("picturesFolder"), folder(QStandardPaths::PicturesLocation)},
        {QStringLiteral("moviesFolder"), folder(QStandardPaths::MoviesLocation)},
    });
    qml_->load(QUrl(QStringLiteral("qrc:/qt/qml/Vantry/Studio/StudioWindow.qml")));
    if (qml_->rootObjects().isEmpty()) return false;
    window_ = qobject_cast<QQuickWindow*>(qml_->rootObjects().constFirst());
    desktopPanels_.setParentWindow(window_);
    return window_ != nullptr;
}

bool quickRunsOnOpenGL(QQuickWindow* window) {
    if (!window) return false;
    QSGRendererInterface* ri = window->rendererInterface();
    return ri && ri->graphicsApi() == QSGRendererInterface::OpenGL;
}

}  // namespace vantry::app
