// The live studio picture. The studio renders on a thread of its own, with its
// own OpenGL context shared with Qt Quick's, into a ring of three textures
// (FrameRing); the item shows the newest finished frame. Qt Quick therefore
// draws the window at its own pace, whatever the studio frame costs, and the
// studio draws as fast as it can, at most 120 frames per second. At a still angle with
// nothing changed the studio thread draws nothing and sleeps until a change (a parameter,
// set, wall image or presenter, a resize); the frame-rate badge then shows the display's
// refresh rate, the rate at which the window shows the (current) held picture. With a software
// OpenGL renderer the studio draws in a context of its own instead, and its frames
// are read back and uploaded (SoftwareFrameProducer).
#pragma once

#include <QPointer>
#include <QQuickItem>
#include <atomic>
#include <memory>

#include "app/studio-app/StudioRenderer.h"

class QOffscreenSurface;

namespace vantry::app {

class LiveFrameThread;
class SoftwareFrameProducer;

class StageViewportView : public QQuickItem {
    Q_OBJECT
    // A StudioEngineHandle (VantryViewModel.engine).
    Q_PROPERTY(QObject* engine READ engine WRITE setEngine NOTIFY engineChanged)
    // Studio frames rendered so far (read it by polling).
    Q_PROPERTY(int framesDrawn READ framesDrawn)
    // Studio frames the item has put on screen so far (read it by polling).
    Q_PROPERTY(int framesShown READ framesShown)
    // True while the studio thread sleeps, its newest frame up to date (read it by polling).
    Q_PROPERTY(bool studioHolding READ studioHolding)
    // True when the item's picture is the newest frame the studio finished (read it by polling).
    // A finished frame reaches the item with its next scene-graph sync, which the studio
    // thread asks for with a queued update(): until that call has come in and a sync has run,
    // the item still shows the frame before (or, before the first one, black).
    Q_PROPERTY(bool showsNewestFrame READ showsNewestFrame)
  public:
    explicit StageViewportView(QQuickItem* parent = nullptr);
    ~StageViewportView() override;

    QObject* engine() const { return engine_; }
    void setEngine(QObject* engine);
    int framesDrawn() const;
    int framesShown() const;
    bool studioHolding() const;
    bool showsNewestFrame() const;

    // The most studio frames per second the thread draws.
    static constexpr double kMaxFramesPerSecond = 120.0;

  signals:
    void engineChanged();

  protected:
    QSGNode* updatePaintNode(QSGNode* old, UpdatePaintNodeData* data) override;
    void releaseResources() override;

  private:
    std::shared_ptr<StudioRenderer> studioRenderer() const;
    void stopThread();

    QPointer<QObject> engine_;
    std::unique_ptr<QOffscreenSurface> surface_;  // made on the GUI thread, used by the studio thread
    // Made and used on Qt's render thread: one of the two studio threads, the one
    // sharing Qt Quick's context (hardware OpenGL) or the one reading frames back
    // (software OpenGL).
    std::shared_ptr<LiveFrameThread> thread_;
    std::shared_ptr<SoftwareFrameProducer> software_;
    bool started_ = false;
    std::atomic<int> framesShown_{0};
};

}  // namespace vantry::app
