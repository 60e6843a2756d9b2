#include "platform/gl/EglOffscreenContext.h"

#include <epoxy/egl.h>
#include <epoxy/gl.h>
#include <epoxy/glx.h>

#include <cstring>
#include <vector>

namespace vantry::platform::gl {
namespace {

bool hasExtension(const char* list, const char* name) {
    if (list == nullptr) return false;
    const std::size_t n = std::strlen(name);
    for (const char* p = list; (p = std::strstr(p, name)) != nullptr; p += n) {
        if ((p == list || p[-1] == ' ') && (p[n] == ' ' || p[n] == '\0')) return true;
    }
    return false;
}

EGLDisplay openDisplay(std::string& platform) {
    const char* clientExts = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    const bool platformBase = hasExtension(clientExts, "EGL_EXT_platform_base");
    if (platformBase && hasExtension(clientExts, "EGL_MESA_platform_surfaceless")) {
        EGLDisplay d = eglGetPlatformDisplayEXT(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (d != EGL_NO_DISPLAY && eglInitialize(d, nullptr, nullptr)) {
            platform = "surfaceless";
            return d;
        }
    }
    if (platformBase && hasExtension(clientExts, "EGL_EXT_device_enumeration") &&
        hasExtension(clientExts, "EGL_EXT_platform_device")) {
        EGLint count = 0;
        if (eglQueryDevicesEXT(0, nullptr, &count) && count > 0) {
            std::vector<EGLDeviceEXT> devices(static_cast<std::size_t>(count));
            if (eglQueryDevicesEXT(count, devices.data(), &count)) {
                for (EGLint i = 0; i < count; ++i) {
                    EGLDisplay d =
                        eglGetPlatformDisplayEXT(EGL_PLATFORM_DEVICE_EXT, devices[std::size_t(i)], nullptr);
                    if (d != EGL_NO_DISPLAY && eglInitialize(d, nullptr, nullptr)) {
                        platform = "device";
                        return d;
                    }
                }
            }
        }
    }
    EGLDisplay d = eglGetDisplay(EGL_DEFAULT_DISPLAY);
    if (d != EGL_NO_DISPLAY && eglInitialize(d, nullptr, nullptr)) {
        platform = "default";
        return d;
    }
    return EGL_NO_DISPLAY;
}

}  // namespace

std::unique_ptr<EglOffscreenContext> EglOffscreenContext::create() {
    std::string platform;
    EGLDisplay display = openDisplay(platform);
    if (display == EGL_NO_DISPLAY) return nullptr;
    const char* exts = eglQueryString(display, EGL_EXTENSIONS);
    if (!hasExtension(exts, "EGL_KHR_surfaceless_context") || !eglBindAPI(EGL_OPENGL_API)) {
        eglTerminate(display);
        return nullptr;
    }
    const EGLint configAttribs[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
    EGLConfig config = nullptr;
    EGLint configCount = 0;
    const bool noConfig =
        hasExtension(exts, "EGL_KHR_no_config_context") || hasExtension(exts, "EGL_MESA_configless_context");
    if (!eglChooseConfig(display, configAttribs, &config, 1, &configCount) || configCount < 1) {
        if (!noConfig) {
            eglTerminate(display);
            return nullptr;
        }
        config = nullptr;
    }
    const EGLint contextAttribs[] = {EGL_CONTEXT_MAJOR_VERSION,
                                     3,
                                     EGL_CONTEXT_MINOR_VERSION,
                                     3,
                                     EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                     EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                                     EGL_NONE};
    EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, contextAttribs);
    if (context == EGL_NO_CONTEXT) {
        eglTerminate(display);
        return nullptr;
    }
    std::unique_ptr<EglOffscreenContext> result(new EglOffscreenContext());
    result->display_ = display;
    result->context_ = context;
    result->platform_ = platform;
    if (!result->makeCurrent()) return nullptr;
    const auto* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    result->renderer_ = renderer != nullptr ? renderer : "";
    result->doneCurrent();
    return result;
}

EglOffscreenContext::~EglOffscreenContext() {
    if (display_ == nullptr) return;
    if (eglGetCurrentContext() == static_cast<EGLContext>(context_)) {
        eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    }
    if (context_ != nullptr) eglDestroyContext(display_, static_cast<EGLContext>(context_));
    // The display stays initialised: EGL displays are shared process-wide, and
    // terminating one would pull it from under other contexts on the same display.
}

bool EglOffscreenContext::makeCurrent() {
    return eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, static_cast<EGLContext>(context_)) ==
           EGL_TRUE;
}

void EglOffscreenContext::doneCurrent() {
    eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
}

const void* currentNativeContext() {
    if (EGLContext egl = eglGetCurrentContext(); egl != EGL_NO_CONTEXT) return egl;
    if (epoxy_has_glx(nullptr)) return glXGetCurrentContext();
    return nullptr;
}

}  // namespace vantry::platform::gl
