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

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include "platform/files/RegularFile.h"
#include "platform/media/MediaRuntime.h"

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
    explicit VideoSource(const std::filesystem::path& file) {
        media::initMedia();
        int rc = avformat_open_input(&format_, file.c_str(), nullptr, nullptr);
        if (rc < 0) throw std::runtime_error(errorText(rc));
        rc = avformat_find_stream_info(format_, nullptr);
        if (rc < 0) throw std::runtime_error(errorText(rc));
        const AVCodec* codec = nullptr;
        stream_ = av_find_best_stream(format_, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
        if (stream_ < 0 || codec == nullptr) throw std::runtime_error("no video or picture in the file");
        AVStream* st = format_->streams[stream_];
        decoder_ = avcodec_alloc_context3(codec);
        if (decoder_ == nullptr) throw std::runtime_error("out of memory");
        rc = avcodec_parameters_to_context(decoder_, st->codecpar);
        if (rc >= 0) rc = avcodec_open2(decoder_, codec, nullptr);
        if (rc < 0) throw std::runtime_error(errorText(rc));
        if (st->codecpar->width <= 0 || st->codecpar->height <= 0)
            throw std::runtime_error("the video has no picture size");

        AVRational rate = st->avg_frame_rate;
        if (rate.num <= 0 || rate.den <= 0) rate = st->r_frame_rate;
        const double fps = rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0.0;
        interval_ = std::isfinite(fps) && fps >= 1.0 && fps <= 240.0
                        ? 1.0 / fps
                        : 1.0 / FileCameraBackend::kStillFrameRate;
        packet_ = av_packet_alloc();
        decoded_ = av_frame_alloc();
        if (packet_ == nullptr || decoded_ == nullptr) throw std::runtime_error("out of memory");
        // The first frame must decode, or the file is no camera.
        CameraFrameView probe;
        if (!nextFrame(probe)) throw std::runtime_error("no frame could be decoded");
        replayFirst_ = true;
    }

    ~VideoSource() override {
        sws_freeContext(scaler_);
        av_frame_free(&decoded_);
        av_packet_free(&packet_);
        avcodec_free_context(&decoder_);
        avformat_close_input(&format_);
    }

    double frameInterval() const override { return interval_; }

    bool nextFrame(CameraFrameView& frame) override {
        if (replayFirst_) {
            replayFirst_ = false;
            return view(frame);
        }
        for (int restarts = 0; restarts < 2; ++restarts) {
            if (decodeOne()) return view(frame);
            // End of file (or a broken tail): start over from the beginning.
            if (av_seek_frame(format_, stream_, 0, AVSEEK_FLAG_BACKWARD) < 0 &&
                avformat_seek_file(format_, stream_, INT64_MIN, 0, INT64_MAX, 0) < 0)
                return false;
            avcodec_flush_buffers(decoder_);
            draining_ = false;
        }
        return false;
    }

  private:
    bool decodeOne() {
        for (;;) {
            const int rc = avcodec_receive_frame(decoder_, decoded_);
            if (rc >= 0) {
                const bool ok = convert();
                av_frame_unref(decoded_);
                if (ok) return true;
                continue;
            }
            if (rc == AVERROR_EOF) return false;
            if (rc != AVERROR(EAGAIN)) return false;
            if (draining_) return false;
            const int read = av_read_frame(format_, packet_);
            if (read < 0) {
                draining_ = true;
                avcodec_send_packet(decoder_, nullptr);
                continue;
            }
            if (packet_->stream_index == stream_) avcodec_send_packet(decoder_, packet_);
            av_packet_unref(packet_);
        }
    }

    // Scales to packed BGRA at the picture's display size: a non-square pixel aspect widens or
    // narrows the picture so its proportions stay as the file means them.
    bool convert() {
        const int w = decoded_->width;
        const int h = decoded_->height;
        if (w <= 0 || h <= 0) return false;
        int outW = w;
        const AVRational sar = decoded_->sample_aspect_ratio;
        if (sar.num > 0 && sar.den > 0 && sar.num != sar.den) {
            outW = int(std::lround(double(w) * sar.num / sar.den));
            if (outW < 1 || outW > 16384) outW = w;
        }
        scaler_ = sws_getCachedContext(scaler_, w, h, AVPixelFormat(decoded_->format), outW, h,
                                       AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (scaler_ == nullptr) return false;
        width_ = outW;
        height_ = h;
        pixels_.resize(std::size_t(outW) * h * 4);
        uint8_t* dst[4] = {pixels_.data(), nullptr, nullptr, nullptr};
        int dstStride[4] = {outW * 4, 0, 0, 0};
        return sws_scale(scaler_, decoded_->data, decoded_->linesize, 0, h, dst, dstStride) == h;
    }

    bool view(CameraFrameView& frame) const {
        frame = CameraFrameView{pixels_.data(), width_, height_, width_ * 4};
        return true;
    }

    AVFormatContext* format_ = nullptr;
    AVCodecContext* decoder_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* decoded_ = nullptr;
    SwsContext* scaler_ = nullptr;
    int stream_ = -1;
    double interval_ = 1.0 / 30.0;
    bool draining_ = false;
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
