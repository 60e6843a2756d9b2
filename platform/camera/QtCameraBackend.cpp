#include "platform/camera/QtCameraBackend.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include <QCamera>
#include <QCameraDevice>
#include <QCameraFormat>
#include <QCoreApplication>
#include <QImage>
#include <QMediaCaptureSession>
#include <QMediaDevices>
#include <QPointer>
#include <QVideoFrame>
#include <QVideoSink>

namespace vantry::platform {

// Everything the Qt side owns. The Qt objects live on the application's thread; the feed's
// queue reaches them only through queued calls, so it never waits on the UI thread.
struct QtCameraBackend::Objects {
    QCameraDevice device;
    QCameraFormat format;
    QPointer<QObject> holder;  // parent of the camera objects, on the application thread
    QCamera* camera = nullptr;
    QMediaCaptureSession* session = nullptr;
    QVideoSink* videoSink = nullptr;
    std::atomic<bool> delivering{false};
    std::mutex sinkMutex;
    CameraFrameSink sink;
};

namespace {

// Runs f on the application's thread, after everything queued before it; false without an application.
template <typename F>
bool onAppThread(F&& f) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) return false;
    return QMetaObject::invokeMethod(app, std::forward<F>(f), Qt::QueuedConnection);
}

QCameraFormat nearestFormat(const QCameraDevice& device, int width, int height) {
    QCameraFormat best;
    long bestScore = -1;
    for (const QCameraFormat& f : device.videoFormats()) {
        const QSize s = f.resolution();
        const long score = std::labs(long(s.width()) - width) + std::labs(long(s.height()) - height);
        if (bestScore < 0 || score < bestScore ||
            (score == bestScore && f.maxFrameRate() > best.maxFrameRate())) {
            best = f;
            bestScore = score;
        }
    }
    return best;
}

}  // namespace

QtCameraBackend::QtCameraBackend() : objects_(std::make_shared<Objects>()) {}

QtCameraBackend::~QtCameraBackend() {
    {
        std::lock_guard lock(objects_->sinkMutex);
        objects_->sink = nullptr;
    }
    if (objects_->holder) {
        QPointer<QObject> holder = objects_->holder;
        if (!onAppThread([holder] {
                if (holder) delete holder.data();
            })) {
            delete holder.data();
        }
    }
}

CameraAuthorization QtCameraBackend::authorizationStatus() {
    namespace fs = std::filesystem;
    std::error_code ec;
    int nodes = 0;
    int refused = 0;
    for (const auto& entry : fs::directory_iterator("/dev", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("video", 0) != 0) continue;
        ++nodes;
        const int fd = ::open(entry.path().c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            ::close(fd);
        } else if (errno == EACCES || errno == EPERM) {
            ++refused;
        }
    }
    return nodes > 0 && refused == nodes ? CameraAuthorization::denied : CameraAuthorization::authorized;
}

void QtCameraBackend::requestAccess(std::function<void(bool)> handler) {
    // Nothing to ask on Linux: access is whatever the device nodes allow.
    if (handler) handler(authorizationStatus() == CameraAuthorization::authorized);
}

bool QtCameraBackend::addCameraInput() {
    if (QCoreApplication::instance() == nullptr) return false;
    const QList<QCameraDevice> inputs = QMediaDevices::videoInputs();
    if (inputs.isEmpty()) return false;
    QCameraDevice chosen;
    for (const QCameraDevice& d : inputs) {
        if (d.position() == QCameraDevice::FrontFace) {
            chosen = d;
            break;
        }
    }
    if (chosen.isNull()) chosen = QMediaDevices::defaultVideoInput();
    if (chosen.isNull()) chosen = inputs.first();
    objects_->device = chosen;
    objects_->format = nearestFormat(chosen, 640, 480);

    std::shared_ptr<Objects> objects = objects_;
    return onAppThread([objects] {
        if (objects->holder) return;
        auto* holder = new QObject;
        objects->holder = holder;
        objects->camera = new QCamera(objects->device, holder);
        if (!objects->format.isNull()) objects->camera->setCameraFormat(objects->format);
        objects->session = new QMediaCaptureSession(holder);
        objects->session->setCamera(objects->camera);
    });
}

bool QtCameraBackend::addFrameOutput(CameraFrameSink sink) {
    {
        std::lock_guard lock(objects_->sinkMutex);
        objects_->sink = std::move(sink);
    }
    std::shared_ptr<Objects> objects = objects_;
    return onAppThread([objects] {
        if (!objects->holder || objects->videoSink != nullptr) return;
        objects->videoSink = new QVideoSink(objects->holder);
        objects->session->setVideoSink(objects->videoSink);
        QObject::connect(
            objects->videoSink, &QVideoSink::videoFrameChanged, objects->videoSink,
            [weak = std::weak_ptr<Objects>(objects)](const QVideoFrame& frame) {
                auto o = weak.lock();
                if (!o || !frame.isValid()) return;
                // A frame still being handed over makes this one late: drop it.
                if (o->delivering.exchange(true)) return;
                const QImage image = frame.toImage().convertToFormat(QImage::Format_ARGB32);
                if (!image.isNull()) {
                    std::lock_guard lock(o->sinkMutex);
                    if (o->sink) {
                        o->sink(CameraFrameView{image.constBits(), image.width(), image.height(),
                                                int(image.bytesPerLine())});
                    }
                }
                o->delivering = false;
            },
            Qt::DirectConnection);
    });
}

void QtCameraBackend::startRunning() {
    std::shared_ptr<Objects> objects = objects_;
    onAppThread([objects] {
        if (objects->camera) objects->camera->start();
    });
}

void QtCameraBackend::stopRunning() {
    std::shared_ptr<Objects> objects = objects_;
    onAppThread([objects] {
        if (objects->camera) objects->camera->stop();
    });
}

}  // namespace vantry::platform
