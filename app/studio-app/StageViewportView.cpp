#include "app/studio-app/StageViewportView.h"

#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QOpenGLFunctions>
#include <QQuickOpenGLUtils>

#include "app/studio-app/VantryViewModel.h"

namespace vantry::app {
namespace {

// Lives on Qt's render thread. The renderer draws 4x multisampled into targets of
// its own and resolves each frame into the item's framebuffer.
class StageViewportRenderer : public QQuickFramebufferObject::Renderer {
  public:
    ~StageViewportRenderer() override {
        // Destroyed on the render thread with the window's context current.
        if (renderer_ && contextKey_ && QOpenGLContext::currentContext() == contextKey_) {
            renderer_->releaseLiveResources(contextKey_);
        }
    }

    QOpenGLFramebufferObject* createFramebufferObject(const QSize& size) override {
        QOpenGLFramebufferObjectFormat format;
        format.setAttachment(QOpenGLFramebufferObject::NoAttachment);
        format.setInternalTextureFormat(0x8058);  // GL_RGBA8
        sizeChanged_ = true;
        return new QOpenGLFramebufferObject(size, format);
    }

    void synchronize(QQuickFramebufferObject* item) override {
        auto* view = static_cast<StageViewportView*>(item);
        if (!renderer_) renderer_ = view->studioRenderer();  // configured once
        if (!frames_) frames_ = view->frameCounter();
    }

    void render() override {
        QOpenGLFramebufferObject* target = framebufferObject();
        QOpenGLContext* ctx = QOpenGLContext::currentContext();
        if (!target || !ctx) return;
        if (renderer_) {
            contextKey_ = ctx;
            const StudioRenderer::LiveSurface surface{target->width(), target->height(), target->handle(),
                                                      ctx};
            if (sizeChanged_) renderer_->liveSurfaceResized(surface);
            sizeChanged_ = false;
            renderer_->drawLiveFrame(surface);
            if (frames_) frames_->fetch_add(1);
        } else {
            QOpenGLFunctions* gl = ctx->functions();
            gl->glClearColor(0.f, 0.f, 0.f, 1.f);
            gl->glClear(GL_COLOR_BUFFER_BIT);
        }
        QQuickOpenGLUtils::resetOpenGLState();
        update();  // draw continuously
    }

  private:
    std::shared_ptr<StudioRenderer> renderer_;
    const void* contextKey_ = nullptr;
    bool sizeChanged_ = true;
    std::shared_ptr<std::atomic<int>> frames_;
};

}  // namespace

StageViewportView::StageViewportView(QQuickItem* parent) : QQuickFramebufferObject(parent) {
    // The renderer resolves its frames with OpenGL's bottom-up rows; Qt's texture
    // node samples the framebuffer's texture top-down, so it has to mirror them.
    setMirrorVertically(true);
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

QQuickFramebufferObject::Renderer* StageViewportView::createRenderer() const {
    return new StageViewportRenderer;
}

}  // namespace vantry::app
