// Screen and window sharing onto the wall through the screen recorder's capture (x11grab of
// the screen or of one window, or the desktop portal's stream), each picture fitted into the
// live picture size on the feed's thread. The X window list and a shared window's state come
// from the X server directly over xcb.
#include <unistd.h>
#include <xcb/xcb.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <utility>

#include "platform/screen-recorder/CaptureSource.h"
#include "platform/screen-recorder/ScreenCapture.h"
#include "platform/wall-feed/FeedThread.h"
#include "platform/wall-feed/WallFeed.h"

namespace vantry::platform::wall {
namespace {

// A window that fails to be read while it is still shown (it was resized) is opened again, up
// to this many times in a row.
constexpr int kReopenTries = 3;
// A window that grows is read on at its old size without an error: its size is checked every
// so many pictures (a second's worth), and a new size opens it again.
constexpr int kSizeCheckEvery = kMaxFeedRate;

std::string displayOrDefault(const std::string& display) {
    if (!display.empty()) return display;
    const char* env = std::getenv("DISPLAY");
    return env ? env : "";
}

// One connection to an X server, closed on destruction.
class XConnection {
  public:
    explicit XConnection(const std::string& display) {
        if (display.empty()) return;
        connection_ = xcb_connect(display.c_str(), nullptr);
        if (xcb_connection_has_error(connection_)) {
            xcb_disconnect(connection_);
            connection_ = nullptr;
        }
    }
    ~XConnection() {
        if (connection_) xcb_disconnect(connection_);
    }
    XConnection(const XConnection&) = delete;
    XConnection& operator=(const XConnection&) = delete;

    explicit operator bool() const { return connection_ != nullptr; }
    xcb_connection_t* get() const { return connection_; }

    xcb_atom_t atom(const char* name) const {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 1, std::uint16_t(std::strlen(name)), name), nullptr);
        const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return atom;
    }

    // The property's bytes; nothing where the window has none (or is gone).
    std::optional<std::string> property(xcb_window_t window, xcb_atom_t name, xcb_atom_t type) const {
        if (name == XCB_ATOM_NONE) return std::nullopt;
        xcb_get_property_reply_t* reply = xcb_get_property_reply(
            connection_, xcb_get_property(connection_, 0, window, name, type, 0, 1 << 16), nullptr);
        if (!reply) return std::nullopt;
        std::optional<std::string> value;
        if (reply->type != XCB_ATOM_NONE) {
            const int length = xcb_get_property_value_length(reply);
            value = std::string(static_cast<const char*>(xcb_get_property_value(reply)), std::size_t(length));
        }
        std::free(reply);
        return value;
    }

    std::string title(xcb_window_t window) const {
        if (auto name = property(window, atom("_NET_WM_NAME"), atom("UTF8_STRING")); name && !name->empty())
            return *name;
        return property(window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY).value_or("");
    }

    // The window's size; nothing where it is gone.
    std::optional<std::pair<int, int>> size(xcb_window_t window) const {
        xcb_get_geometry_reply_t* reply =
            xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window), nullptr);
        if (!reply) return std::nullopt;
        const std::pair<int, int> size{reply->width, reply->height};
        std::free(reply);
        return size;
    }

    enum class WindowState { gone, hidden, shown };
    WindowState state(xcb_window_t window, bool* overrideRedirect = nullptr) const {
        xcb_get_window_attributes_reply_t* reply = xcb_get_window_attributes_reply(
            connection_, xcb_get_window_attributes(connection_, window), nullptr);
        if (!reply) return WindowState::gone;
        const bool shown = reply->map_state == XCB_MAP_STATE_VIEWABLE;
        if (overrideRedirect) *overrideRedirect = reply->override_redirect != 0;
        std::free(reply);
        return shown ? WindowState::shown : WindowState::hidden;
    }

  private:
    xcb_connection_t* connection_ = nullptr;
};

std::string hostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

// The window was made by this process: its _NET_WM_PID is ours, on this machine.
bool isOwnWindow(const XConnection& x, xcb_window_t window) {
    const auto pid = x.property(window, x.atom("_NET_WM_PID"), XCB_ATOM_CARDINAL);
    if (!pid || pid->size() < 4) return false;
    std::uint32_t value = 0;
    std::memcpy(&value, pid->data(), 4);
    if (value != std::uint32_t(::getpid())) return false;
    auto machine = x.property(window, XCB_ATOM_WM_CLIENT_MACHINE, XCB_GET_PROPERTY_TYPE_ANY);
    if (!machine || machine->empty()) return true;
    while (!machine->empty() && machine->back() == '\0') machine->pop_back();
    return *machine == hostName();
}

// The top-level windows of a root: the window manager's client list, or where there is no
// window manager, the root's children.
std::vector<xcb_window_t> topLevelWindows(const XConnection& x, xcb_window_t root) {
    std::vector<xcb_window_t> windows;
    if (auto list = x.property(root, x.atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW)) {
        windows.resize(list->size() / sizeof(xcb_window_t));
        std::memcpy(windows.data(), list->data(), windows.size() * sizeof(xcb_window_t));
        return windows;
    }
    xcb_query_tree_reply_t* tree = xcb_query_tree_reply(x.get(), xcb_query_tree(x.get(), root), nullptr);
    if (!tree) return windows;
    const xcb_window_t* children = xcb_query_tree_children(tree);
    windows.assign(children, children + xcb_query_tree_children_length(tree));
    std::free(tree);
    return windows;
}

class ScreenWallFeed final : public WallFeed {
  public:
    ScreenWallFeed(ScreenShareTarget target, ScreenCaptureTarget captureTarget, std::string name,
                   std::unique_ptr<ScreenCapture> capture, FeedCallbacks callbacks)
        : target_(std::move(target)),
          captureTarget_(std::move(captureTarget)),
          name_(std::move(name)),
          restoreToken_(capture->restoreToken()),
          capture_(std::move(capture)),
          thread_(std::move(callbacks), FeedClock{}) {
        picture_ = QImage(kLivePictureWidth, kLivePictureHeight, QImage::Format_ARGB32_Premultiplied);
        picture_.fill(Qt::black);
        thread_.start([this] { run(); });
    }
    ~ScreenWallFeed() override {
        thread_.stop([this] {
            std::lock_guard lock(captureMutex_);
            capture_->stop();
        });
    }

    std::string name() const override { return name_; }
    std::string restoreToken() const override { return restoreToken_; }

  private:
    void run() {
        int reopened = 0;
        std::string error;
        const bool window = target_.kind == ScreenShareTarget::Kind::window;
        std::unique_ptr<XConnection> watch;
        if (window) watch = std::make_unique<XConnection>(captureTarget_.display);
        for (;;) {
            long pictures = 0;
            bool resized = false;
            while (capture_->next(error)) {
                reopened = 0;
                if (convert()) thread_.deliver(picture_);
                if (window && *watch && ++pictures % kSizeCheckEvery == 0) {
                    const auto size = watch->size(xcb_window_t(target_.windowId));
                    if (size && *size != std::pair<int, int>(capture_->width(), capture_->height())) {
                        resized = true;
                        break;
                    }
                }
            }
            if (thread_.stopping()) return;
            if (resized && reopen(error)) continue;
            if (!window) break;
            const XConnection x(captureTarget_.display);
            const auto state = x ? x.state(xcb_window_t(target_.windowId)) : XConnection::WindowState::gone;
            if (state == XConnection::WindowState::gone) {
                thread_.end("The shared window closed.");
                return;
            }
            if (state == XConnection::WindowState::hidden) {
                thread_.end("The shared window was hidden.");
                return;
            }
            // Still shown: most likely resized, which x11grab does not follow.
            if (++reopened > kReopenTries || !reopen(error)) break;
        }
        switch (target_.kind) {
            case ScreenShareTarget::Kind::screen:
                thread_.end("The shared screen went away.");
                break;
            case ScreenShareTarget::Kind::window:
                thread_.end("The shared window cannot be filmed any more: " + error);
                break;
            case ScreenShareTarget::Kind::portal:
                thread_.end("The shared screen or window went away.");
                break;
        }
    }

    bool reopen(std::string& error) {
        auto capture = ScreenCapture::open(captureTarget_, error);
        if (!capture) return false;
        std::lock_guard lock(captureMutex_);
        if (thread_.stopping()) return false;
        capture_ = std::move(capture);
        return true;
    }

    bool convert() {
        const FitRect fit = fitIntoLivePicture(capture_->width(), capture_->height());
        if (fit.width <= 0 || fit.height <= 0) return false;
        if (fit.width != lastFit_.width || fit.height != lastFit_.height) {
            picture_.fill(Qt::black);
            lastFit_ = fit;
        }
        const int stride = int(picture_.bytesPerLine());
        std::uint8_t* target = picture_.bits() + std::ptrdiff_t(fit.y) * stride + std::ptrdiff_t(fit.x) * 4;
        return capture_->toBGRA(target, stride, fit.width, fit.height);
    }

    ScreenShareTarget target_;
    ScreenCaptureTarget captureTarget_;
    std::string name_;
    std::string restoreToken_;
    std::mutex captureMutex_;  // capture_ is replaced (feed thread) and stopped (destructor) under it
    std::unique_ptr<ScreenCapture> capture_;
    QImage picture_;
    FitRect lastFit_;
    FeedThread thread_;  // last: its thread stops before the members above go
};

}  // namespace

std::vector<ShareableWindow> listShareableWindows(const std::string& display) {
    std::vector<ShareableWindow> shareable;
    const XConnection x(displayOrDefault(display));
    if (!x) return shareable;
    for (xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(x.get())); it.rem;
         xcb_screen_next(&it)) {
        for (const xcb_window_t window : topLevelWindows(x, it.data->root)) {
            bool overrideRedirect = false;
            if (x.state(window, &overrideRedirect) != XConnection::WindowState::shown || overrideRedirect)
                continue;
            if (isOwnWindow(x, window)) continue;
            std::string title = x.title(window);
            if (title.empty()) continue;
            shareable.push_back({window, std::move(title)});
        }
    }
    return shareable;
}

bool screenShareUsesPortal() {
    return isWaylandSession(std::getenv("XDG_SESSION_TYPE"), std::getenv("WAYLAND_DISPLAY"));
}

std::unique_ptr<WallFeed> openScreenWallFeed(const ScreenShareTarget& target, FeedCallbacks callbacks,
                                             std::string& error) {
    ScreenCaptureTarget capture;
    capture.fps = kMaxFeedRate;
    std::string name = "Screen";
    if (target.kind == ScreenShareTarget::Kind::portal) {
        capture.kind = ScreenCaptureTarget::Kind::portal;
        capture.restoreToken = target.restoreToken;
    } else {
        capture.display = displayOrDefault(target.display);
        if (capture.display.empty()) {
            error = "There is no X display to share.";
            return nullptr;
        }
        if (target.kind == ScreenShareTarget::Kind::window) {
            const XConnection x(capture.display);
            if (!x) {
                error = "Cannot reach the X display " + capture.display + ".";
                return nullptr;
            }
            const auto state = x.state(xcb_window_t(target.windowId));
            if (state != XConnection::WindowState::shown) {
                error = state == XConnection::WindowState::gone ? "The window to share is gone."
                                                                : "The window to share is not shown.";
                return nullptr;
            }
            name = x.title(xcb_window_t(target.windowId));
            if (name.empty()) name = "Window";
            capture.kind = ScreenCaptureTarget::Kind::window;
            capture.windowId = target.windowId;
        }
    }
    ScreenCapture::OpenStatus status = ScreenCapture::OpenStatus::failed;
    std::string why;
    auto opened = ScreenCapture::open(capture, why, &status);
    if (!opened) {
        if (status == ScreenCapture::OpenStatus::cancelled)
            error = "Screen sharing was cancelled.";
        else if (target.kind == ScreenShareTarget::Kind::portal)
            error = "Cannot share the screen through the desktop portal: " + why + ".";
        else if (target.kind == ScreenShareTarget::Kind::window)
            error = "Cannot share the window '" + name + "': " + why + ".";
        else
            error = "Cannot share the screen of display " + capture.display + ": " + why + ".";
        return nullptr;
    }
    return std::make_unique<ScreenWallFeed>(target, capture, std::move(name), std::move(opened),
                                            std::move(callbacks));
}

}  // namespace vantry::platform::wall
