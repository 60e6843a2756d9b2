#include "app/program-feed/ProgramFeed.h"

#include <QPainter>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "creator/studio-overlay/FacecamPainter.h"

namespace vantry::app::feed {
namespace {

using creator::FacecamShadow;

}  // namespace

void composePresenter(QImage& frame, const ProgramPresenter& presenter, ProgramCanvas canvas) {
    if (!presenter.visible || presenter.inSet || frame.isNull()) return;
    const PresenterRect r = placePresenter(presenter.look, frame.width(), frame.height(), canvas);
    if (!(r.width > 0) || !(r.height > 0)) return;
    if (presenter.picture.isNull() && presenter.look.freeCutout) return;

    const double margin = FacecamShadow::kMargin * r.factor;
    creator::FacecamWindowLook look;
    look.size = QSize(int(std::ceil(r.width + 2 * margin)), int(std::ceil(r.height + 2 * margin)));
    look.window = QRectF(margin, margin, r.width, r.height);
    look.circle = r.circle;
    look.cornerRadius = r.cornerRadius;
    look.borderColor = presenter.borderColor;
    look.borderWidth = r.borderWidth;
    look.shadowOffsetY = FacecamShadow::kOffsetY * r.factor;
    QPainter painter(&frame);
    creator::FacecamPainter().paint(painter, QPointF(r.x - margin, r.y - margin), presenter.picture, look);
}

ProgramFeed::ProgramFeed(int width, int height, int fps, RenderStudio render, ProgramCanvas canvas)
    : width_(width), height_(height), fps_(std::max(1, fps)), canvas_(canvas), render_(std::move(render)) {}

ProgramFeed::ProgramFeed(int width, int height, int fps, RenderCopy render, ProgramCanvas canvas)
    : ProgramFeed(width, height, fps,
                  render ? RenderStudio([render = std::move(render)](int w, int h) {
                      return sharedFrameOf(render(w, h));
                  })
                         : RenderStudio(),
                  canvas) {}

ProgramFeed::~ProgramFeed() {
    stop();
}

void ProgramFeed::setPresenter(ProgramPresenter presenter) {
    std::lock_guard<std::mutex> guard(mutex_);
    presenter_ = std::move(presenter);
    ++presenterVersion_;
}

void ProgramFeed::setOutput(Slot slot, Output output) {
    std::lock_guard<std::mutex> guard(mutex_);
    outputs_[slot == Slot::stream ? 0 : 1] = std::move(output);
}

void ProgramFeed::start() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (thread_.joinable() || stopping_) return;
    thread_ = std::thread([this] { run(); });
}

void ProgramFeed::stop() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

ProgramFeed::Stats ProgramFeed::stats() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return stats_;
}

QImage ProgramFeed::renderPicture() {
    SharedFrame studio = render_ ? render_(width_, height_) : SharedFrame{};
    const std::size_t bytes = std::size_t(width_) * std::size_t(height_) * 4;
    if (!studio || studio.pixels->size() < bytes) return {};
    ProgramPresenter presenter;
    std::uint64_t presenterVersion = 0;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        presenter = presenter_;
        presenterVersion = presenterVersion_;
    }
    // The same studio frame under the same presenter: the same picture.
    if (!picture_.isNull() && studio.serial != 0 && studio.serial == pictureSerial_ &&
        presenterVersion == picturePresenter_) {
        return picture_;
    }
    // A picture an output still holds is left to it; this one is written afresh.
    if (picture_.isNull() || !picture_.isDetached()) {
        picture_ = QImage(width_, height_, QImage::Format_ARGB32_Premultiplied);
        if (picture_.isNull()) return {};
    }
    // The studio's alpha is 255 everywhere, so premultiplied and straight are the same bytes.
    std::memcpy(picture_.bits(), studio.pixels->data(), bytes);
    pictureSerial_ = studio.serial;
    studio = {};  // let go before the next frame, which the renderer may write in place
    composePresenter(picture_, presenter, canvas_);
    picturePresenter_ = presenterVersion;
    return picture_;
}

void ProgramFeed::run() {
    using Clock = std::chrono::steady_clock;
    const auto interval =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / fps_));
    auto next = Clock::now();
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait_until(lock, next, [this] { return stopping_; });
            if (stopping_) return;
        }
        const auto began = Clock::now();
        const QImage picture = renderPicture();
        const auto busy = Clock::now() - began;
        Output outputs[2];
        {
            std::lock_guard<std::mutex> guard(mutex_);
            if (picture.isNull()) {
                ++stats_.failed;
            } else {
                ++stats_.rendered;
            }
            outputs[0] = outputs_[0];
            outputs[1] = outputs_[1];
        }
        if (!picture.isNull()) {
            for (const Output& output : outputs) {
                if (output) output(picture.constBits(), picture.bytesPerLine());
            }
        }
        // The next slot on the feed's grid. Slots that passed meanwhile are skipped, and the next
        // picture starts at once, off the grid (waiting for the grid would make a picture that
        // takes a little longer than a slot cost two). Software rendering may take longer than a
        // slot: the feed then rests a share of the time it worked (a quarter: the encoder, which
        // repeats the last picture on time, and the window keep at least a fifth of the processor).
        next += interval;
        const auto now = Clock::now();
        if (next < now) {
            const auto missed = (now - next) / interval + 1;
            next = keepsToGrid_ ? next + interval * missed : now;
            std::lock_guard<std::mutex> guard(mutex_);
            stats_.late += missed;
        }
        const auto rest = std::chrono::duration_cast<Clock::duration>(busy * restShare_.load());
        if (busy > interval && next < now + rest) next = now + rest;
    }
}

}  // namespace vantry::app::feed
