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

// The image takes the studio's pixels over without a copy. The studio's alpha is 255 everywhere,
// so premultiplied and straight are the same bytes.
QImage adoptStudio(std::vector<std::uint8_t>&& pixels, int width, int height) {
    auto* owned = new std::vector<std::uint8_t>(std::move(pixels));
    return QImage(
        owned->data(), width, height, width * 4, QImage::Format_ARGB32_Premultiplied,
        [](void* data) { delete static_cast<std::vector<std::uint8_t>*>(data); }, owned);
}

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

ProgramFeed::~ProgramFeed() {
    stop();
}

void ProgramFeed::setPresenter(ProgramPresenter presenter) {
    std::lock_guard<std::mutex> guard(mutex_);
    presenter_ = std::move(presenter);
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
    std::optional<std::vector<std::uint8_t>> studio = render_ ? render_(width_, height_) : std::nullopt;
    if (!studio || studio->size() < std::size_t(width_) * std::size_t(height_) * 4) return {};
    QImage frame = adoptStudio(std::move(*studio), width_, height_);
    ProgramPresenter presenter;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        presenter = presenter_;
    }
    composePresenter(frame, presenter, canvas_);
    return frame;
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
        // The next slot on the wall-clock grid; slots that passed meanwhile are skipped. Software
        // rendering may take longer than a slot: the feed then rests as long as it worked, so the
        // encoder (which repeats the last picture on time) always keeps half the processor.
        next += interval;
        const auto now = Clock::now();
        if (next < now) {
            const auto missed = (now - next) / interval + 1;
            next += interval * missed;
            std::lock_guard<std::mutex> guard(mutex_);
            stats_.late += missed;
        }
        if (busy > interval && next < now + busy) next = now + busy;
    }
}

}  // namespace vantry::app::feed
