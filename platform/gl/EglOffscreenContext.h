// An OpenGL 3.3 core context that needs no display: a hardware EGL device (a GPU
// without a window system), Mesa's surfaceless EGL platform, or the default EGL
// display, tried in that order. GL functions are resolved through libepoxy.
#pragma once

#include <memory>
#include <string>

namespace vantry::platform::gl {

class EglOffscreenContext {
  public:
    // Null when no display, configuration or 3.3 core context can be had.
    static std::unique_ptr<EglOffscreenContext> create();
    ~EglOffscreenContext();
    EglOffscreenContext(const EglOffscreenContext&) = delete;
    EglOffscreenContext& operator=(const EglOffscreenContext&) = delete;

    // Binds the context to the calling thread without a surface (false on failure).
    // A context is current on one thread at a time.
    bool makeCurrent();
    void doneCurrent();

    // GL_RENDERER of the context, read at creation.
    const std::string& renderer() const { return renderer_; }
    // Which EGL platform served the context: "surfaceless", "device" or "default".
    const std::string& platformName() const { return platform_; }

  private:
    EglOffscreenContext() = default;
    void* display_ = nullptr;
    void* context_ = nullptr;
    std::string renderer_;
    std::string platform_;
};

// The native handle of the GL context current on this thread (EGL or GLX), or null.
const void* currentNativeContext();

}  // namespace vantry::platform::gl
