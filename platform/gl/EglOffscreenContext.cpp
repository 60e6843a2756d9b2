#include "platform/gl/EglOffscreenContext.h"

#include <epoxy/egl.h>
#include <epoxy/gl.h>

#include <dlfcn.h>

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

// A hardware EGL device (a GPU without a window system), skipping software devices.
EGLDisplay openHardwareDevice() {
    EGLint count = 0;
    if (!eglQueryDevicesEXT(0, nullptr, &count) || count <= 0) return EGL_NO_DISPLAY;
    std::vector<EGLDeviceEXT> devices(static_cast<std::size_t>(count));
    if (!eglQueryDevicesEXT(count, devices.data(), &count)) return EGL_NO_DISPLAY;
    for (EGLint i = 0; i < count; ++i) {
        const EGLDeviceEXT device = devices[std::size_t(i)];
        if (hasExtension(eglQueryDeviceStringEXT(device, EGL_EXTENSIONS), "EGL_MESA_device_software"))
            continue;
        EGLDisplay d = eglGetPlatformDisplayEXT(EGL_PLATFORM_DEVICE_EXT, device, nullptr);
        if (d != EGL_NO_DISPLAY && eglInitialize(d, nullptr, nullptr)) return d;
    }
    return EGL_NO_DISPLAY;
}

EGLDisplay openSurfaceless() {
    EGLDisplay d = eglGetPlatformDisplayEXT(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    return d != EGL_NO_DISPLAY && eglInitialize(d, nullptr, nullptr) ? d : EGL_NO_DISPLAY;
}

EGLDisplay openDefault() {
    EGLDisplay d = eglGetDisplay(EGL_DEFAULT_DISPLAY);
    return d != EGL_NO_DISPLAY && eglInitialize(d, nullptr, nullptr) ? d : EGL_NO_DISPLAY;
}

// A GL 3.3 core context on an initialised display; EGL_NO_CONTEXT when it has none.
// (Displays are shared process-wide and stay initialised: terminating one would pull
// it from under other contexts on it.)
EGLContext createCoreContext(EGLDisplay display) {
    const char* exts = eglQueryString(display, EGL_EXTENSIONS);
    if (!hasExtension(exts, "EGL_KHR_surfaceless_context") || !eglBindAPI(EGL_OPENGL_API))
        return EGL_NO_CONTEXT;
    const EGLint configAttribs[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
    EGLConfig config = nullptr;
    EGLint configCount = 0;
    const bool noConfig =
        hasExtension(exts, "EGL_KHR_no_config_context") || hasExtension(exts, "EGL_MESA_configless_context");
    if (!eglChooseConfig(display, configAttribs, &config, 1, &configCount) || configCount < 1) {
        if (!noConfig) return EGL_NO_CONTEXT;
        config = nullptr;
    }
    const EGLint contextAttribs[] = {EGL_CONTEXT_MAJOR_VERSION,
                                     3,
                                     EGL_CONTEXT_MINOR_VERSION,
                                     3,
                                     EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                     EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                                     EGL_NONE};
    return eglCreateContext(display, config, EGL_NO_CONTEXT, contextAttribs);
}

}  // namespace

std::unique_ptr<EglOffscreenContext> EglOffscreenContext::create() {
    // A GPU reached as an EGL device first (how drivers without Mesa offer one without
    // a display), then Mesa's surfaceless platform (a GPU's render node or the
    // software rasteriser), then the default display.
    const char* clientExts = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    const bool platformBase = hasExtension(clientExts, "EGL_EXT_platform_base");
    const bool devices = platformBase && hasExtension(clientExts, "EGL_EXT_device_enumeration") &&
                         hasExtension(clientExts, "EGL_EXT_platform_device");
    const bool surfaceless = platformBase && hasExtension(clientExts, "EGL_MESA_platform_surfaceless");
    const struct {
        bool available;
        EGLDisplay (*open)();
        const char* name;
    } candidates[] = {{devices, openHardwareDevice, "device"},
                      {surfaceless, openSurfaceless, "surfaceless"},
                      {true, openDefault, "default"}};
    for (const auto& candidate : candidates) {
        if (!candidate.available) continue;
        const EGLDisplay display = candidate.open();
        if (display == EGL_NO_DISPLAY) continue;
        const EGLContext context = createCoreContext(display);
        if (context == EGL_NO_CONTEXT) continue;
        std::unique_ptr<EglOffscreenContext> result(new EglOffscreenContext());
        result->display_ = display;
        result->context_ = context;
        result->platform_ = candidate.name;
        // Whatever EGL context the caller had current is current again afterwards.
        const EGLDisplay previousDisplay = eglGetCurrentDisplay();
        const EGLContext previousContext = eglGetCurrentContext();
        const EGLSurface previousDraw = eglGetCurrentSurface(EGL_DRAW);
        const EGLSurface previousRead = eglGetCurrentSurface(EGL_READ);
        const bool current = result->makeCurrent();
        if (current) {
            const auto* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
            result->renderer_ = renderer != nullptr ? renderer : "";
        }
        if (previousContext != EGL_NO_CONTEXT) {
            eglMakeCurrent(previousDisplay, previousDraw, previousRead, previousContext);
        } else {
            result->doneCurrent();
        }
        if (!current) continue;
        return result;
    }
    return nullptr;
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
    // A GLX context can only be current when the GLX library is already loaded (by the
    // window toolkit); look it up without loading it.
    using GetCurrent = void* (*)();
    if (auto* glx = reinterpret_cast<GetCurrent>(::dlsym(RTLD_DEFAULT, "glXGetCurrentContext"))) return glx();
    return nullptr;
}

}  // namespace vantry::platform::gl
