#include "platform/camera/FileCameraBackend.h"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <QImage>
#include <QImageReader>
#include <QString>

#include "platform/files/RegularFile.h"
#include "platform/media/MediaRuntime.h"
#include "platform/media/VideoFileDecoder.h"

namespace vantry::platform {

namespace {

using media::errorText;

class StillPictureSource final : public CameraFileSource {
  public:
    explicit StillPictureSource(QImage image) : image_(std::move(image)) {}
    double frameInterval() const override { return 1.0 / FileCameraBackend::kStillFrameRate; }
    bool nextFrame(CameraFrameView& frame) override {
        frame =
            CameraFrameView{image_.constBits(), image_.width(), image_.height(), int(image_.bytesPerLine())};
        return true;
    }

  private:
    QImage image_;  // ARGB32: B, G, R, A bytes in memory
};

class VideoSource final : public CameraFileSource {
  public:
    explicit VideoSource(const std::filesystem::path& file) : decoder_(open(file)) {
        if (decoder_->width() <= 0 || decoder_->height() <= 0)
            throw std::runtime_error("the video has no picture size");
        const double fps = decoder_->frameRate();
        interval_ = std::isfinite(fps) && fps >= 1.0 && fps <= 240.0
                        ? 1.0 / fps
                        : 1.0 / FileCameraBackend::kStillFrameRate;
        // The first frame must decode, or the file is no camera.
        CameraFrameView probe;
        if (!nextFrame(probe)) throw std::runtime_error("no frame could be decoded");
        replayFirst_ = true;
    }

    double frameInterval() const override { return interval_; }

    bool nextFrame(CameraFrameView& frame) override {
        if (replayFirst_) {
            replayFirst_ = false;
            return view(frame);
        }
        for (int restarts = 0; restarts < 2; ++restarts) {
            while (decoder_->next())
                if (convert()) return view(frame);
            // End of file (or a broken tail): start over from the beginning.
            if (!decoder_->rewind()) return false;
        }
        return false;
    }

  private:
    // The decoder; its failure in FFmpeg's words.
    static std::unique_ptr<media::VideoFileDecoder> open(const std::filesystem::path& file) {
        try {
            return std::make_unique<media::VideoFileDecoder>(file);
        } catch (const media::MediaError& e) {
            throw std::runtime_error(e.code() < 0 ? errorText(e.code()) : std::string(e.what()));
        }
    }

    // Packed BGRA at the picture's display size: a non-square pixel aspect widens or narrows
    // the picture so its proportions stay as the file means them.
    bool convert() {
        const media::DecodedPicture picture = decoder_->picture();
        const int w = picture.width;
        const int h = picture.height;
        if (w <= 0 || h <= 0) return false;
        int outW = w;
        if (picture.aspectNum != picture.aspectDen) {
            outW = int(std::lround(double(w) * picture.aspectNum / picture.aspectDen));
            if (outW < 1 || outW > 16384) outW = w;
        }
        width_ = outW;
        height_ = h;
        pixels_.resize(std::size_t(outW) * h * 4);
        return decoder_->pictureToBGRA(pixels_.data(), outW * 4, outW, h);
    }

    bool view(CameraFrameView& frame) const {
        frame = CameraFrameView{pixels_.data(), width_, height_, width_ * 4};
        return true;
    }

    std::unique_ptr<media::VideoFileDecoder> decoder_;
    double interval_ = 1.0 / 30.0;
    bool replayFirst_ = false;
    std::vector<std::uint8_t> pixels_;
    int width_ = 0;
    int height_ = 0;
};

}  // namespace

namespace {

// Why `file` cannot be a camera file of at most maxBytes, checked without blocking on it.
void checkCameraFile(const std::filesystem::path& file, std::uintmax_t maxBytes) {
    if (auto why = whyNotReadable(file, maxBytes)) throw std::runtime_error(*why);
    std::error_code ec;
    if (std::filesystem::file_size(file, ec) == 0 && !ec) throw std::runtime_error("it is empty");
}

// A still picture through `reader`; null when the reader holds no still picture.
QImage readStill(QImageReader& reader) {
    reader.setAutoTransform(true);
    if (!reader.canRead() || reader.supportsAnimation()) return {};
    // A picture larger than any camera is read at a camera's size: decoding it whole could
    // need more memory than the image reader allows, and the facecam would shrink it anyway.
    const QSize size = reader.size();
    const int side = FileCameraBackend::kMaxPictureSide;
    const bool tooLarge = size.width() > side || size.height() > side;
    if (tooLarge) reader.setScaledSize(size.scaled(side, side, Qt::KeepAspectRatio));
    QImage image = reader.read();
    if (image.isNull()) {
        if (tooLarge)
            throw std::runtime_error("the picture is too large to read (" + std::to_string(size.width()) +
                                     "x" + std::to_string(size.height()) +
                                     "; a camera picture may have at most " + std::to_string(side) +
                                     " pixels a side)");
        throw std::runtime_error(reader.errorString().toStdString());
    }
    return image.convertToFormat(QImage::Format_ARGB32);
}

}  // namespace

std::unique_ptr<CameraFileSource> openCameraFileSource(const std::filesystem::path& file) {
    checkCameraFile(file, kMaxCameraVideoBytes);
    QImageReader reader(QString::fromStdString(file.string()));
    if (reader.canRead() && !reader.supportsAnimation()) {
        checkCameraFile(file, kMaxCameraPictureBytes);
        return std::make_unique<StillPictureSource>(readStill(reader));
    }
    return std::make_unique<VideoSource>(file);
}

QImage readCameraPicture(const std::filesystem::path& file) {
    checkCameraFile(file, kMaxCameraPictureBytes);
    QImageReader reader(QString::fromStdString(file.string()));
    QImage image = readStill(reader);
    if (image.isNull())
        throw std::runtime_error("it is not a picture (" + reader.errorString().toStdString() + ")");
    return image;
}

// The playing side, shared with the delivery thread so that a backend released from inside a
// frame delivery (its last owner let go on that thread) never waits for itself.
struct FileCameraBackend::Player {
    std::mutex mutex;
    std::condition_variable wake;
    std::unique_ptr<CameraFileSource> source;
    std::string openError;
    CameraFrameSink sink;
    bool running = false;
    bool quit = false;
    std::thread thread;

    void run() {
        using clock = std::chrono::steady_clock;
        auto due = clock::now();
        std::unique_lock lock(mutex);
        for (;;) {
            wake.wait(lock, [this] { return quit || running; });
            if (quit) return;
            CameraFrameView frame;
            const bool ok = source && source->nextFrame(frame);
            const double interval = source ? source->frameInterval() : 1.0 / kStillFrameRate;
            if (!ok) {
                running = false;
                continue;
            }
            CameraFrameSink deliver = sink;
            lock.unlock();
            if (deliver) deliver(frame);  // the source is only advanced by this thread
            lock.lock();
            due += std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(interval));
            const auto now = clock::now();
            if (due < now) due = now;  // never catch up with a burst after a stall
            wake.wait_until(lock, due, [this] { return quit || !running; });
            if (!running) due = clock::now();
        }
    }
};

FileCameraBackend::FileCameraBackend(std::filesystem::path file)
    : file_(std::move(file)), player_(std::make_shared<Player>()) {}

FileCameraBackend::~FileCameraBackend() {
    {
        std::lock_guard lock(player_->mutex);
        player_->quit = true;
        player_->sink = nullptr;
    }
    player_->wake.notify_all();
    if (player_->thread.joinable()) {
        if (player_->thread.get_id() == std::this_thread::get_id()) {
            // Released from inside a delivery: the thread ends by itself and keeps the player alive.
            player_->thread.detach();
        } else {
            player_->thread.join();
        }
    }
}

void FileCameraBackend::requestAccess(std::function<void(bool)> handler) {
    if (handler) handler(true);
}

bool FileCameraBackend::addCameraInput() {
    std::unique_ptr<CameraFileSource> source;
    std::string error;
    try {
        source = openCameraFileSource(file_);
    } catch (const std::exception& e) {
        error = e.what();
    }
    std::lock_guard lock(player_->mutex);
    if (!source) {
        player_->openError = error.empty() ? std::string("unreadable") : error;
        std::fprintf(stderr, "vantry: cannot read the camera file %s: %s\n", file_.c_str(),
                     player_->openError.c_str());
        return false;
    }
    player_->openError.clear();
    player_->source = std::move(source);
    return true;
}

bool FileCameraBackend::addFrameOutput(CameraFrameSink sink) {
    std::lock_guard lock(player_->mutex);
    player_->sink = std::move(sink);
    return true;
}

void FileCameraBackend::startRunning() {
    std::lock_guard lock(player_->mutex);
    if (!player_->source || player_->quit) return;
    player_->running = true;
    if (!player_->thread.joinable()) {
        std::shared_ptr<Player> player = player_;
        player_->thread = std::thread([player] { player->run(); });
    }
    player_->wake.notify_all();
}

void FileCameraBackend::stopRunning() {
    {
        std::lock_guard lock(player_->mutex);
        player_->running = false;
    }
    player_->wake.notify_all();
}

std::string FileCameraBackend::openError() const {
    std::lock_guard lock(player_->mutex);
    return player_->openError;
}

}  // namespace vantry::platform
