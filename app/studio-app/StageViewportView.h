// The live studio picture: a Qt Quick item in which the renderer draws every
// frame on Qt's render thread, 4x multisampled and resolved into the item's
// texture, asking for the next frame straight away.
#pragma once

#include <QPointer>
#include <QQuickFramebufferObject>
#include <atomic>
#include <memory>

#include "app/studio-app/StudioRenderer.h"

namespace vantry::app {

class StageViewportView : public QQuickFramebufferObject {
    Q_OBJECT
    // A StudioEngineHandle (VantryViewModel.engine).
    Q_PROPERTY(QObject* engine READ engine WRITE setEngine NOTIFY engineChanged)
    // Frames the renderer has drawn so far (counted on the render thread; read it by polling).
    Q_PROPERTY(int framesDrawn READ framesDrawn)
  public:
    explicit StageViewportView(QQuickItem* parent = nullptr);

    QObject* engine() const { return engine_; }
    void setEngine(QObject* engine);
    int framesDrawn() const { return frameCounter_->load(); }

    Renderer* createRenderer() const override;

    // Called by the render thread's renderer while the main thread is blocked.
    std::shared_ptr<StudioRenderer> studioRenderer() const;
    const std::shared_ptr<std::atomic<int>>& frameCounter() const { return frameCounter_; }

  signals:
    void engineChanged();

  private:
    QPointer<QObject> engine_;
    std::shared_ptr<std::atomic<int>> frameCounter_ = std::make_shared<std::atomic<int>>(0);
};

}  // namespace vantry::app
