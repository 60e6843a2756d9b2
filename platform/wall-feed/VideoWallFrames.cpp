#include "platform/wall-feed/VideoWallFrames.h"

#include <cmath>
#include <exception>
#include <limits>
#include <utility>

#include "platform/files/RegularFile.h"
#include "platform/media/VideoFileDecoder.h"
#include "platform/wall-feed/WallFeed.h"

namespace vantry::platform::wall {

std::unique_ptr<VideoWallFrames> VideoWallFrames::open(const std::filesystem::path& file,
                                                       std::string& error) {
    const std::string shown = file.filename().string();
    if (auto why = whyNotReadable(file, std::numeric_limits<std::uintmax_t>::max())) {
        error = "cannot play '" + shown + "': " + *why;
        return nullptr;
    }
    try {
        auto decoder = std::make_unique<media::VideoFileDecoder>(file);
        if (!decoder->next()) {
            error = "cannot play '" + shown + "': it has no pictures";
            return nullptr;
        }
        return std::unique_ptr<VideoWallFrames>(new VideoWallFrames(file, std::move(decoder)));
    } catch (const std::exception& e) {
        error = "cannot play '" + shown + "': " + e.what();
        return nullptr;
    }
}

VideoWallFrames::VideoWallFrames(std::filesystem::path file, std::unique_ptr<media::VideoFileDecoder> decoder)
    : file_(std::move(file)), decoder_(std::move(decoder)) {
    const double rate = decoder_->frameRate();
    period_ = rate > 0 && rate <= 1000 ? 1.0 / rate : 1.0 / kMaxFeedRate;
    shown_ = QImage(kLivePictureWidth, kLivePictureHeight, QImage::Format_ARGB32_Premultiplied);
    shown_.fill(Qt::black);
    first_ = decoder_->picture().seconds;
    pending_ = true;
    pendingAt_ = 0;
}

VideoWallFrames::~VideoWallFrames() = default;

std::string VideoWallFrames::name() const {
    return file_.filename().string();
}

bool VideoWallFrames::restart() {
    if (!decoder_->rewind() || !decoder_->next()) {
        try {
            decoder_ = std::make_unique<media::VideoFileDecoder>(file_);
        } catch (const std::exception&) {
            return false;
        }
        if (!decoder_->next()) return false;
    }
    first_ = decoder_->picture().seconds;
    pending_ = true;
    pendingAt_ = 0;
    shownAt_ = -1;
    return true;
}

void VideoWallFrames::takePending() {
    const media::DecodedPicture p = decoder_->picture();
    const FitRect fit = fitIntoLivePicture(p.width, p.height, p.aspectNum, p.aspectDen);
    if (fit.width > 0 && fit.height > 0) {
        QImage next(kLivePictureWidth, kLivePictureHeight, QImage::Format_ARGB32_Premultiplied);
        if (fit.width != kLivePictureWidth || fit.height != kLivePictureHeight) next.fill(Qt::black);
        const int stride = int(next.bytesPerLine());
        std::uint8_t* target = next.bits() + std::ptrdiff_t(fit.y) * stride + std::ptrdiff_t(fit.x) * 4;
        if (decoder_->pictureToBGRA(target, stride, fit.width, fit.height)) shown_ = std::move(next);
    }
    shownAt_ = pendingAt_;
    pending_ = false;
}

void VideoWallFrames::decodeNext() {
    if (!decoder_->next()) {
        // The end: one pass lasts up to the last picture's end.
        length_ = shownAt_ + period_;
        return;
    }
    double t = decoder_->picture().seconds - first_;
    if (!std::isfinite(t) || t <= shownAt_) t = shownAt_ + period_;
    pendingAt_ = t;
    pending_ = true;
}

QImage VideoWallFrames::pictureAt(double seconds) {
    double t = std::isfinite(seconds) ? std::max(0.0, seconds) : 0.0;
    // At most twice round: the first pass may show where the file ends, and so its length.
    for (int round = 0; round < 3; ++round) {
        if (length_ > 0) t = std::fmod(t, length_);
        if (t < shownAt_ && !restart()) return shown_;
        while (pending_ && pendingAt_ <= t + 1e-6) {
            takePending();
            decodeNext();
        }
        if (pending_ || length_ <= 0 || t < length_) return shown_;
    }
    return shown_;
}

}  // namespace vantry::platform::wall
