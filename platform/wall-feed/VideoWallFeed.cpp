// A video file on the wall: decoded on the feed's thread, each picture shown at its own time
// after the start, the file rewound at its end with the times carried on. Pictures closer than
// a feed slot (1 / kMaxFeedRate) to the last one shown are left out undecoded into pixels.
#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
#include <mutex>
#include <utility>

#include "platform/files/RegularFile.h"
#include "platform/media/VideoFileDecoder.h"
#include "platform/media/VideoSoundDecoder.h"
#include "platform/wall-feed/FeedThread.h"
#include "platform/wall-feed/WallFeed.h"

namespace vantry::platform::wall {
namespace {

using Seconds = std::chrono::duration<double>;

// A feed this far behind its clock (a slow decoder, a suspended machine) starts its clock
// again from the picture it is at, rather than rushing to catch up.
constexpr double kResyncAfterSeconds = 0.5;

std::unique_ptr<media::VideoFileDecoder> openDecoder(const std::filesystem::path& file, std::string& error) {
    try {
        auto decoder = std::make_unique<media::VideoFileDecoder>(file);
        if (!decoder->next()) {
            error = "it has no pictures";
            return nullptr;
        }
        return decoder;
    } catch (const std::exception& e) {
        error = e.what();
        return nullptr;
    }
}

// The file's sound as the mix pulls it: silence until the pictures' clock starts, then the
// sound from its start on, looped.
class VideoWallSound final : public audio::SoundFeed {
  public:
    explicit VideoWallSound(const std::filesystem::path& file) : decoder_(file) {}
    int read(float* left, float* right, int frames) override {
        std::lock_guard lock(mutex_);
        if (!started_) {
            std::fill(left, left + frames, 0.0f);
            std::fill(right, right + frames, 0.0f);
            return 0;
        }
        return decoder_.read(left, right, frames);
    }
    void start() {
        std::lock_guard lock(mutex_);
        started_ = true;
    }
    bool hasSound() const { return decoder_.hasSound(); }

  private:
    std::mutex mutex_;
    media::VideoSoundDecoder decoder_;
    bool started_ = false;
};

class VideoWallFeed final : public WallFeed {
  public:
    VideoWallFeed(std::filesystem::path file, std::unique_ptr<media::VideoFileDecoder> decoder,
                  FeedCallbacks callbacks, FeedClock clock)
        : file_(std::move(file)),
          decoder_(std::move(decoder)),
          sound_(std::make_shared<VideoWallSound>(file_)),
          thread_(std::move(callbacks), std::move(clock)) {
        const double rate = decoder_->frameRate();
        period_ = rate > 0 && rate <= 1000 ? 1.0 / rate : 1.0 / kMaxFeedRate;
        picture_ = QImage(kLivePictureWidth, kLivePictureHeight, QImage::Format_ARGB32_Premultiplied);
        picture_.fill(Qt::black);
        thread_.start([this] { run(); });
    }
    ~VideoWallFeed() override { thread_.stop(); }

    std::string name() const override { return file_.filename().string(); }
    std::shared_ptr<audio::SoundFeed> sound() const override { return sound_; }

  private:
    void run() {
        constexpr double kSlot = 1.0 / kMaxFeedRate;
        auto start = thread_.now();
        sound_->start();
        double loopOffset = 0;  // the time the passes before this one took
        double lastShown = -std::numeric_limits<double>::infinity();
        double first = 0, previous = 0;
        long inPass = 0;
        for (;;) {
            const media::DecodedPicture p = decoder_->picture();
            double t = 0;
            if (inPass == 0) {
                first = p.seconds;
            } else {
                t = p.seconds - first;
                if (!std::isfinite(t) || t <= previous) t = previous + period_;
            }
            previous = t;
            ++inPass;
            const double at = loopOffset + t;
            // A small tolerance so that a file of exactly kMaxFeedRate keeps every picture.
            if (at >= lastShown + kSlot - 0.002) {
                const auto due =
                    start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(Seconds(at));
                if (Seconds(thread_.now() - due).count() > kResyncAfterSeconds)
                    start = thread_.now() -
                            std::chrono::duration_cast<std::chrono::steady_clock::duration>(Seconds(at));
                else if (!thread_.sleepUntil(due))
                    return;
                if (convert(p)) thread_.deliver(picture_);
                lastShown = at;
            }
            if (thread_.stopping()) return;
            if (decoder_->next()) continue;
            // The end of a pass: on from the start, the times carried on by this pass's length.
            loopOffset += previous + period_;
            inPass = 0;
            if (decoder_->rewind() && decoder_->next()) continue;
            // A file that cannot seek is opened again.
            std::string why;
            decoder_.reset();
            decoder_ = openDecoder(file_, why);
            if (!decoder_) {
                thread_.end("The video '" + name() + "' stopped playing: " + why);
                return;
            }
        }
    }

    bool convert(const media::DecodedPicture& p) {
        const FitRect fit = fitIntoLivePicture(p.width, p.height, p.aspectNum, p.aspectDen);
        if (fit.width <= 0 || fit.height <= 0) return false;
        if (fit.width != lastFit_.width || fit.height != lastFit_.height) {
            picture_.fill(Qt::black);
            lastFit_ = fit;
        }
        const int stride = int(picture_.bytesPerLine());
        std::uint8_t* target = picture_.bits() + std::ptrdiff_t(fit.y) * stride + std::ptrdiff_t(fit.x) * 4;
        return decoder_->pictureToBGRA(target, stride, fit.width, fit.height);
    }

    std::filesystem::path file_;
    std::unique_ptr<media::VideoFileDecoder> decoder_;
    std::shared_ptr<VideoWallSound> sound_;
    double period_ = 1.0 / kMaxFeedRate;
    QImage picture_;
    FitRect lastFit_;
    FeedThread thread_;  // last: its thread stops before the members above go
};

}  // namespace

FitRect fitIntoLivePicture(int width, int height, int aspectNum, int aspectDen) {
    if (width <= 0 || height <= 0) return {};
    if (aspectNum <= 0 || aspectDen <= 0) aspectNum = aspectDen = 1;
    const double shape = double(width) * aspectNum / (double(height) * aspectDen);
    const double wall = double(kLivePictureWidth) / kLivePictureHeight;
    FitRect fit{0, 0, kLivePictureWidth, kLivePictureHeight};
    if (shape > wall) {
        fit.height = std::max(1, int(std::lround(kLivePictureWidth / shape)));
        if (kLivePictureHeight - fit.height <= 1) fit.height = kLivePictureHeight;
        fit.y = (kLivePictureHeight - fit.height) / 2;
    } else if (shape < wall) {
        fit.width = std::max(1, int(std::lround(kLivePictureHeight * shape)));
        if (kLivePictureWidth - fit.width <= 1) fit.width = kLivePictureWidth;
        fit.x = (kLivePictureWidth - fit.width) / 2;
    }
    return fit;
}

std::unique_ptr<WallFeed> openVideoWallFeed(const std::filesystem::path& file, FeedCallbacks callbacks,
                                            std::string& error) {
    return openVideoWallFeed(file, std::move(callbacks), error, FeedClock{});
}

std::unique_ptr<WallFeed> openVideoWallFeed(const std::filesystem::path& file, FeedCallbacks callbacks,
                                            std::string& error, FeedClock clock) {
    const std::string shown = file.filename().string();
    if (auto why = whyNotReadable(file, std::numeric_limits<std::uintmax_t>::max())) {
        error = "cannot play '" + shown + "': " + *why;
        return nullptr;
    }
    std::string why;
    auto decoder = openDecoder(file, why);
    if (!decoder) {
        error = "cannot play '" + shown + "': " + why;
        return nullptr;
    }
    return std::make_unique<VideoWallFeed>(file, std::move(decoder), std::move(callbacks), std::move(clock));
}

}  // namespace vantry::platform::wall
