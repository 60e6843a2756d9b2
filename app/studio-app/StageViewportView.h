// The live studio picture: a Qt Quick item that has the renderer draw every
// frame into its own 4x multisampled framebuffer (8-bit colour, 32-bit float
// depth) on Qt's render thread, resolved into the item's texture, and asks for
// the next frame straight away.
#pragma once

#include <QPointer>
#include <QQuickFramebufferObject>
#include <memory>

#include "app/studio-app/StudioRenderer.h"

namespace vantry::app {

class StageViewportView : public QQuickFramebufferObject {
    Q_OBJECT
    // A StudioEngineHandle (VantryViewModel.engine).
    Q_PROPERTY(QObject* engine READ engine WRITE setEngine NOTIFY engineChanged)
    // Frames drawn by the renderer so far (read on the main thread).
    Q_PROPERTY(int framesDrawn READ framesDrawn NOTIFY framesDrawnChanged)
  public:
    explicit StageViewportView(QQuickItem* parent = nullptr);

    QObject* engine() const { return engine_; }
    void setEngine(QObject* engine);
    int framesDrawn() const { return framesDrawn_; }

    Renderer* createRenderer() const override;

    // Called by the render thread's renderer while the main thread is blocked.
    std::shared_ptr<StudioRenderer> studioRenderer() const;
    void addFramesDrawn(int frames);

  signals:
    void engineChanged();
    void framesDrawnChanged();

  private:
    QPointer<QObject> engine_;
    int framesDrawn_ = 0;
};

}  // namespace vantry::app
