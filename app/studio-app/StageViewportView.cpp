#include "app/studio-app/StageViewportView.h"

#include <QOpenGLContext>
#include <QOpenGLExtraFunctions>
#include <QOpenGLFramebufferObject>
#include <QQuickOpenGLUtils>

#include "app/studio-app/VantryViewModel.h"

#ifndef GL_DEPTH_COMPONENT32F
#define GL_DEPTH_COMPONENT32F 0x8CAC
#endif

namespace vantry::app {
namespace {

// The multisampled target the renderer draws into; resolved into Qt's framebuffer.
class MultisampleTarget {
  public:
    ~MultisampleTarget() { release(); }

    bool ensure(QOpenGLExtraFunctions& gl, int width, int height) {
        if (fbo_ != 0 && width == width_ && height == height_) return true;
        release();
        width_ = width;
        height_ = height;
        gl.glGenFramebuffers(1, &fbo_);
        gl.glGenRenderbuffers(2, rbo_);
        gl.glBindRenderbuffer(GL_RENDERBUFFER, rbo_[0]);
        gl.glRenderbufferStorageMultisample(GL_RENDERBUFFER, 4, GL_RGBA8, width, height);
        gl.glBindRenderbuffer(GL_RENDERBUFFER, rbo_[1]);
        gl.glRenderbufferStorageMultisample(GL_RENDERBUFFER, 4, GL_DEPTH_COMPONENT32F, width, height);
        gl.glBindRenderbuffer(GL_RENDERBUFFER, 0);
        gl.glBindFramebuffer(GL_FRAMEBUFFER, fbo_);
        gl.glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, rbo_[0]);
        gl.glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, rbo_[1]);
        const bool complete = gl.glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
        if (!complete) release();
        return complete;
    }

    GLuint fbo() const { return fbo_; }

  private:
    void release() {
        QOpenGLContext* ctx = QOpenGLContext::currentContext();
        if (ctx && fbo_ != 0) {
            QOpenGLExtraFunctions* gl = ctx->extraFunctions();
            gl->glDeleteFramebuffers(1, &fbo_);
            gl->glDeleteRenderbuffers(2, rbo_);
        }
        fbo_ = 0;
        rbo_[0] = rbo_[1] = 0;
    }

    GLuint fbo_ = 0;
    GLuint rbo_[2] = {0, 0};
    int width_ = 0;
    int height_ = 0;
};

class StageViewportRenderer : public QQuickFramebufferObject::Renderer {
  public:
    QOpenGLFramebufferObject* createFramebufferObject(const QSize& size) override {
        QOpenGLFramebufferObjectFormat format;
        format.setAttachment(QOpenGLFramebufferObject::NoAttachment);
        format.setInternalTextureFormat(GL_RGBA8);
        sizeChanged_ = true;
        return new QOpenGLFramebufferObject(size, format);
    }

    void synchronize(QQuickFramebufferObject* item) override {
        auto* view = static_cast<StageViewportView*>(item);
        renderer_ = view->studioRenderer();
        if (drawnSinceSync_ > 0) view->addFramesDrawn(drawnSinceSync_);
        drawnSinceSync_ = 0;
    }

    void render() override {
        QOpenGLFramebufferObject* target = framebufferObject();
        QOpenGLContext* ctx = QOpenGLContext::currentContext();
        if (!target || !ctx) return;
        QOpenGLExtraFunctions& gl = *ctx->extraFunctions();
        const int w = target->width();
        const int h = target->height();
        if (renderer_ && msaa_.ensure(gl, w, h)) {
            if (sizeChanged_) renderer_->liveSurfaceResized(w, h);
            sizeChanged_ = false;
            gl.glBindFramebuffer(GL_FRAMEBUFFER, msaa_.fbo());
            gl.glViewport(0, 0, w, h);
            renderer_->drawLiveFrame(w, h);
            gl.glBindFramebuffer(GL_READ_FRAMEBUFFER, msaa_.fbo());
            gl.glBindFramebuffer(GL_DRAW_FRAMEBUFFER, target->handle());
            gl.glBlitFramebuffer(0, 0, w, h, 0, 0, w, h, GL_COLOR_BUFFER_BIT, GL_NEAREST);
            ++drawnSinceSync_;
        } else {
            gl.glBindFramebuffer(GL_FRAMEBUFFER, target->handle());
            gl.glClearColor(0.f, 0.f, 0.f, 1.f);
            gl.glClear(GL_COLOR_BUFFER_BIT);
        }
        QQuickOpenGLUtils::resetOpenGLState();
        update();  // draw continuously
    }

  private:
    std::shared_ptr<StudioRenderer> renderer_;
    MultisampleTarget msaa_;
    bool sizeChanged_ = true;
    int drawnSinceSync_ = 0;
};

}  // namespace

StageViewportView::StageViewportView(QQuickItem* parent) : QQuickFramebufferObject(parent) {
    // The renderer draws with OpenGL's bottom-up rows; Qt shows the texture upright.
    setMirrorVertically(false);
}

void StageViewportView::setEngine(QObject* engine) {
    if (engine_ == engine) return;
    engine_ = engine;
    emit engineChanged();
    update();
}

std::shared_ptr<StudioRenderer> StageViewportView::studioRenderer() const {
    if (auto* handle = qobject_cast<StudioEngineHandle*>(engine_.data())) return handle->renderer();
    return nullptr;
}

void StageViewportView::addFramesDrawn(int frames) {
    // Runs on the render thread while the main thread waits; observers hear of it on the main thread.
    framesDrawn_ += frames;
    QMetaObject::invokeMethod(this, &StageViewportView::framesDrawnChanged, Qt::QueuedConnection);
}

QQuickFramebufferObject::Renderer* StageViewportView::createRenderer() const {
    return new StageViewportRenderer;
}

}  // namespace vantry::app
