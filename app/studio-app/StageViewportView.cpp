#include "app/studio-app/StageViewportView.h"

#include <QtQuick/qsgtexture_platform.h>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLExtraFunctions>
#include <QQuickWindow>
#include <QSGSimpleTextureNode>
#include <QSGTexture>
#include <QScreen>
#include <QThread>
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

#include "app/studio-app/FrameRing.h"
#include "app/studio-app/SoftwareFrameProducer.h"
#include "app/studio-app/VantryViewModel.h"

#ifndef GL_RGBA8
#define GL_RGBA8 0x8058
#endif

namespace vantry::app {

// The studio's render thread: owns its GL context (shared with Qt Quick's) and the
// framebuffers of the ring's three slots.
class LiveFrameThread {
  public:
    struct Target {
        unsigned int framebuffer = 0;
        unsigned int texture = 0;
        QSize size;
    };

    LiveFrameThread(std::shared_ptr<StudioRenderer> renderer, QOffscreenSurface* surface,
                    std::function<void()> frameReady)
        : renderer_(std::move(renderer)), surface_(surface), frameReady_(std::move(frameReady)) {}
    ~LiveFrameThread() { stop(); }

    // On Qt's render thread, with Qt Quick's context current: makes the studio's
    // context in its share group and starts drawing. False when no context could be made.
    bool start(QOpenGLContext* share) {
        auto context = std::make_unique<QOpenGLContext>();
        context->setFormat(share->format());
        context->setShareContext(share);
        context->setScreen(share->screen());
        if (!context->create()) return false;
        thread_.reset(QThread::create([this] { run(); }));
        context->moveToThread(thread_.get());
        context_ = context.release();
        thread_->start();
        return true;
    }

    void stop() {
        stopping_ = true;
        renderer_->noteLiveChange();
        if (thread_) {
            thread_->wait();
            thread_.reset();
        }
    }

    void setPixelSize(QSize size) {
        {
            std::lock_guard<std::mutex> lock(sizeMutex_);
            if (size == size_) return;
            size_ = size;
            holding_ = false;  // under the lock: the thread never marks an old size as held after this
        }
        renderer_->noteLiveChange();
    }

    void setDisplayRate(double framesPerSecond) {
        std::lock_guard<std::mutex> lock(sizeMutex_);
        displayRate_ = std::clamp(framesPerSecond, 1.0, StageViewportView::kMaxFramesPerSecond);
    }

    FrameRing& ring() { return ring_; }
    // Valid for a slot from FrameRing::takeNewest until that slot is let go.
    const Target& target(int slot) const { return targets_[static_cast<std::size_t>(slot)]; }
    int framesDrawn() const { return int(ring_.publishedFrames()); }
    // True while the thread sleeps with its newest frame up to date.
    bool holding() const { return holding_.load(); }

    // How often a held frame's rate is reported.
    static constexpr double kHeldReportSeconds = 0.5;

  private:
    void run() {
        if (!context_->makeCurrent(surface_)) {
            delete context_;
            return;
        }
        QOpenGLExtraFunctions* gl = context_->extraFunctions();
        using Clock = std::chrono::steady_clock;
        const auto minInterval =
            std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / 120.0));
        auto lastStart = Clock::now() - minInterval;
        QSize drawnSize;
        while (!stopping_) {
            // Read before the check, so a change made meanwhile ends the wait below at once.
            const std::uint64_t seen = renderer_->liveChangeCount();
            QSize size;
            double displayRate = 0;
            {
                std::lock_guard<std::mutex> lock(sizeMutex_);
                size = size_;
                displayRate = displayRate_;
            }
            // Nothing changed at a still angle: the frame shown is current; sleep until a change.
            if (size == drawnSize && ring_.publishedFrames() > 0 &&
                renderer_->liveFrameUpToDate({size.width(), size.height(), 0, context_})) {
                {
                    // Held only while the size it was drawn at is still the one asked for.
                    std::lock_guard<std::mutex> lock(sizeMutex_);
                    holding_ = size_ == size;
                }
                if (!renderer_->waitForLiveChange(seen, kHeldReportSeconds))
                    renderer_->liveFrameHeld(displayRate);
                continue;
            }
            // Never more than 120 frames a second; no size yet: wait for one.
            const auto due = lastStart + minInterval;
            if (Clock::now() < due) std::this_thread::sleep_until(due);
            if (size.isEmpty()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            lastStart = Clock::now();

            const FrameRing::Writable writable = ring_.beginWrite();
            for (void* fence : writable.fences) {
                if (!fence) continue;
                gl->glWaitSync(static_cast<GLsync>(fence), 0, GL_TIMEOUT_IGNORED);
                gl->glDeleteSync(static_cast<GLsync>(fence));
            }
            Target& target = targets_[static_cast<std::size_t>(writable.slot)];
            if (!ensureTarget(gl, target, size)) continue;

            const StudioRenderer::LiveSurface surface{size.width(), size.height(), target.framebuffer,
                                                      context_};
            if (size != drawnSize) renderer_->liveSurfaceResized(surface);
            drawnSize = size;
            holding_ = false;
            renderer_->drawLiveFrame(surface);
            GLsync ready = gl->glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
            gl->glFlush();
            ring_.publish(ready);
            if (frameReady_) frameReady_();
        }

        for (void* fence : ring_.drainFences()) {
            if (fence) gl->glDeleteSync(static_cast<GLsync>(fence));
        }
        for (Target& target : targets_) releaseTarget(gl, target);
        renderer_->releaseLiveResources(context_);
        context_->doneCurrent();
        delete context_;
        context_ = nullptr;
    }

    static bool ensureTarget(QOpenGLExtraFunctions* gl, Target& target, QSize size) {
        if (target.framebuffer && target.size == size) return true;
        releaseTarget(gl, target);
        gl->glGenTextures(1, &target.texture);
        gl->glBindTexture(GL_TEXTURE_2D, target.texture);
        gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        gl->glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, size.width(), size.height(), 0, GL_RGBA,
                         GL_UNSIGNED_BYTE, nullptr);
        gl->glBindTexture(GL_TEXTURE_2D, 0);
        gl->glGenFramebuffers(1, &target.framebuffer);
        gl->glBindFramebuffer(GL_FRAMEBUFFER, target.framebuffer);
        gl->glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, target.texture, 0);
        const bool complete = gl->glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
        gl->glBindFramebuffer(GL_FRAMEBUFFER, 0);
        target.size = size;
        if (!complete) releaseTarget(gl, target);
        return complete;
    }

    static void releaseTarget(QOpenGLExtraFunctions* gl, Target& target) {
        if (target.framebuffer) gl->glDeleteFramebuffers(1, &target.framebuffer);
        if (target.texture) gl->glDeleteTextures(1, &target.texture);
        target = Target{};
    }

    std::shared_ptr<StudioRenderer> renderer_;
    QOffscreenSurface* surface_;
    std::function<void()> frameReady_;
    QOpenGLContext* context_ = nullptr;  // lives on the studio thread
    std::unique_ptr<QThread> thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> holding_{false};
    std::mutex sizeMutex_;
    QSize size_;
    double displayRate_ = 60.0;
    FrameRing ring_;
    std::array<Target, FrameRing::kSlots> targets_{};
};

namespace {

// Mesa's llvmpipe and softpipe, and other software rasterizers.
bool usesSoftwareOpenGL(QOpenGLContext* context) {
    if (qEnvironmentVariable("VANTRY_LIVE_VIEWPORT") == QLatin1String("shared")) return false;
    if (qEnvironmentVariable("VANTRY_LIVE_VIEWPORT") == QLatin1String("readback")) return true;
    const auto* name = reinterpret_cast<const char*>(context->functions()->glGetString(GL_RENDERER));
    const QByteArray renderer = QByteArray(name ? name : "").toLower();
    return renderer.contains("llvmpipe") || renderer.contains("softpipe") || renderer.contains("swrast") ||
           renderer.contains("software");
}

// The picture on Qt's render thread: one texture wrapper per ring slot.
class FrameNode : public QSGSimpleTextureNode {
  public:
    ~FrameNode() override {
        for (auto& t : wrappers) delete t.texture;
        delete blank;
        delete uploaded;
    }
    struct Wrapper {
        QSGTexture* texture = nullptr;
        unsigned int id = 0;
        QSize size;
    };
    std::array<Wrapper, FrameRing::kSlots> wrappers{};
    QSGTexture* blank = nullptr;     // before the first studio frame
    QSGTexture* uploaded = nullptr;  // the newest read-back frame (software OpenGL)
    int shown = 0;
};

}  // namespace

StageViewportView::StageViewportView(QQuickItem* parent) : QQuickItem(parent) {
    setFlag(ItemHasContents, true);
    surface_ = std::make_unique<QOffscreenSurface>();
    surface_->setFormat(QSurfaceFormat::defaultFormat());
    surface_->create();
}

StageViewportView::~StageViewportView() {
    stopThread();
}

void StageViewportView::stopThread() {
    if (thread_) thread_->stop();
    if (software_) software_->stop();
    thread_.reset();
    software_.reset();
    started_ = false;  // a later frame (back in a window) starts again
}

void StageViewportView::releaseResources() {
    stopThread();
}

void StageViewportView::setEngine(QObject* engine) {
    if (engine_ == engine) return;
    engine_ = engine;
    emit engineChanged();
    update();
}

int StageViewportView::framesDrawn() const {
    if (software_) return software_->framesDrawn();
    return thread_ ? thread_->framesDrawn() : 0;
}

bool StageViewportView::studioHolding() const {
    if (software_) return software_->holding();
    return thread_ ? thread_->holding() : false;
}

bool StageViewportView::showsNewestFrame() const {
    const FrameRing* ring = software_ ? &software_->ring() : thread_ ? &thread_->ring() : nullptr;
    return ring && ring->shownSlot() >= 0 && !ring->hasNewer();
}

int StageViewportView::framesShown() const {
    return framesShown_.load();
}

std::shared_ptr<StudioRenderer> StageViewportView::studioRenderer() const {
    if (auto* handle = qobject_cast<StudioEngineHandle*>(engine_.data())) return handle->renderer();
    return nullptr;
}

QSGNode* StageViewportView::updatePaintNode(QSGNode* old, UpdatePaintNodeData*) {
    // Qt's render thread, the GUI thread blocked, Qt Quick's context current.
    QQuickWindow* win = window();
    QOpenGLContext* qtContext = QOpenGLContext::currentContext();
    if (!win || !qtContext) return old;
    auto* node = static_cast<FrameNode*>(old);
    if (!node) {
        node = new FrameNode;
        // Every studio frame has its rows bottom-up (GL's order) and the node samples top-down.
        // Set once, before the first texture, and never changed: switching the mirroring after
        // the placeholder was shown did not always reach the geometry Qt Quick draws, and the
        // studio then showed upside down.
        node->setTextureCoordinatesTransform(QSGSimpleTextureNode::MirrorVertically);
        node->setFiltering(QSGTexture::Linear);
    }

    if (!started_) {
        if (auto renderer = studioRenderer()) {  // configured once
            started_ = true;
            QPointer<StageViewportView> self(this);
            const auto frameReady = [self] {
                QMetaObject::invokeMethod(self.data(), &QQuickItem::update, Qt::QueuedConnection);
            };
            if (usesSoftwareOpenGL(qtContext)) {
                auto software = std::make_shared<SoftwareFrameProducer>(renderer, frameReady);
                if (software->start()) software_ = std::move(software);
            } else {
                auto thread = std::make_shared<LiveFrameThread>(renderer, surface_.get(), frameReady);
                if (thread->start(qtContext)) thread_ = std::move(thread);
            }
        }
    }
    const QSize pixels = (size() * win->effectiveDevicePixelRatio()).toSize();
    const double displayRate = win->screen() ? win->screen()->refreshRate() : 60.0;
    if (thread_) {
        thread_->setPixelSize(pixels);
        thread_->setDisplayRate(displayRate);
    }
    if (software_) {
        software_->setPixelSize(pixels.width(), pixels.height());
        software_->setDisplayRate(displayRate);
    }

    if (software_ && software_->ring().hasNewer()) {
        if (auto taken = software_->ring().takeNewest(nullptr)) {
            const SoftwareFrameProducer::Pixels& frame = software_->pixels(taken->slot);
            const QImage image =
                QImage(frame.rgba.data(), frame.width, frame.height, frame.width * 4, QImage::Format_RGBA8888)
                    .copy();
            QSGTexture* texture = win->createTextureFromImage(image);
            node->setTexture(texture);
            delete node->uploaded;
            node->uploaded = texture;
            framesShown_.fetch_add(1);
        }
    }

    QOpenGLExtraFunctions* gl = qtContext->extraFunctions();
    if (thread_ && thread_->ring().hasNewer()) {
        FrameRing& ring = thread_->ring();
        // What Qt Quick drew with the slot shown so far is done before the studio draws into it again.
        void* released = nullptr;
        if (ring.shownSlot() >= 0) {
            released = gl->glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
            gl->glFlush();
        }
        if (auto taken = ring.takeNewest(released)) {
            if (taken->readyFence) {
                gl->glWaitSync(static_cast<GLsync>(taken->readyFence), 0, GL_TIMEOUT_IGNORED);
                gl->glDeleteSync(static_cast<GLsync>(taken->readyFence));
            }
            const LiveFrameThread::Target& target = thread_->target(taken->slot);
            FrameNode::Wrapper& wrapper = node->wrappers[static_cast<std::size_t>(taken->slot)];
            if (!wrapper.texture || wrapper.id != target.texture || wrapper.size != target.size) {
                delete wrapper.texture;
                wrapper.texture =
                    QNativeInterface::QSGOpenGLTexture::fromNative(target.texture, win, target.size);
                wrapper.id = target.texture;
                wrapper.size = target.size;
            }
            node->setTexture(wrapper.texture);
            framesShown_.fetch_add(1);
        } else if (released) {
            gl->glDeleteSync(static_cast<GLsync>(released));
        }
    }
    if (!node->texture()) {
        if (!node->blank) {
            QImage black(4, 4, QImage::Format_RGB32);
            black.fill(Qt::black);
            node->blank = win->createTextureFromImage(black);
        }
        node->setTexture(node->blank);
    }
    node->setRect(boundingRect());
    return node;
}

}  // namespace vantry::app
