#include "app/studio-app/SoftwareFrameProducer.h"

#include <epoxy/gl.h>

#include <algorithm>
#include <chrono>

#include "platform/gl/EglOffscreenContext.h"

namespace vantry::app {

SoftwareFrameProducer::SoftwareFrameProducer(std::shared_ptr<StudioRenderer> renderer,
                                             std::function<void()> frameReady)
    : renderer_(std::move(renderer)), frameReady_(std::move(frameReady)) {}

SoftwareFrameProducer::~SoftwareFrameProducer() {
    stop();
}

bool SoftwareFrameProducer::start() {
    std::promise<bool> started;
    std::future<bool> ok = started.get_future();
    thread_ = std::thread([this, &started] { run(&started); });
    if (ok.get()) return true;
    thread_.join();
    return false;
}

void SoftwareFrameProducer::stop() {
    stopping_ = true;
    renderer_->noteLiveChange();
    if (thread_.joinable()) thread_.join();
}

void SoftwareFrameProducer::setPixelSize(int width, int height) {
    {
        std::lock_guard<std::mutex> lock(sizeMutex_);
        if (width == width_ && height == height_) return;
        width_ = width;
        height_ = height;
    }
    holding_ = false;
    renderer_->noteLiveChange();
}

void SoftwareFrameProducer::setDisplayRate(double framesPerSecond) {
    std::lock_guard<std::mutex> lock(sizeMutex_);
    displayRate_ = std::clamp(framesPerSecond, 1.0, kMaxFramesPerSecond);
}

void SoftwareFrameProducer::run(std::promise<bool>* started) {
    std::unique_ptr<platform::gl::EglOffscreenContext> context = platform::gl::EglOffscreenContext::create();
    if (!context || !context->makeCurrent()) {
        started->set_value(false);
        return;
    }
    started->set_value(true);
    const void* key = platform::gl::currentNativeContext();

    GLuint framebuffer = 0;
    GLuint texture = 0;
    int targetWidth = 0;
    int targetHeight = 0;
    using Clock = std::chrono::steady_clock;
    const auto minInterval =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / kMaxFramesPerSecond));
    auto lastStart = Clock::now() - minInterval;
    while (!stopping_) {
        // Read before the check, so a change made meanwhile ends the wait below at once.
        const std::uint64_t seen = renderer_->liveChangeCount();
        int width = 0;
        int height = 0;
        double displayRate = 0;
        {
            std::lock_guard<std::mutex> lock(sizeMutex_);
            width = width_;
            height = height_;
            displayRate = displayRate_;
        }
        if (width == targetWidth && height == targetHeight && ring_.publishedFrames() > 0 &&
            renderer_->liveFrameUpToDate({width, height, framebuffer, key})) {
            holding_ = true;
            if (!renderer_->waitForLiveChange(seen, kHeldReportSeconds))
                renderer_->liveFrameHeld(displayRate);
            continue;
        }
        const auto due = lastStart + minInterval;
        if (Clock::now() < due) std::this_thread::sleep_until(due);
        if (width < 1 || height < 1) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        lastStart = Clock::now();

        if (width != targetWidth || height != targetHeight) {
            if (framebuffer) glDeleteFramebuffers(1, &framebuffer);
            if (texture) glDeleteTextures(1, &texture);
            glGenTextures(1, &texture);
            glBindTexture(GL_TEXTURE_2D, texture);
            glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
            glBindTexture(GL_TEXTURE_2D, 0);
            glGenFramebuffers(1, &framebuffer);
            glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
            glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
            glBindFramebuffer(GL_FRAMEBUFFER, 0);
            targetWidth = width;
            targetHeight = height;
            renderer_->liveSurfaceResized({width, height, framebuffer, key});
        }

        holding_ = false;
        renderer_->drawLiveFrame({width, height, framebuffer, key});

        const FrameRing::Writable writable = ring_.beginWrite();
        Pixels& slot = pixels_[static_cast<std::size_t>(writable.slot)];
        slot.width = width;
        slot.height = height;
        slot.rgba.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
        glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
        glPixelStorei(GL_PACK_ALIGNMENT, 4);
        glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, slot.rgba.data());
        glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
        ring_.publish(nullptr);
        if (frameReady_) frameReady_();
    }

    if (framebuffer) glDeleteFramebuffers(1, &framebuffer);
    if (texture) glDeleteTextures(1, &texture);
    renderer_->releaseLiveResources(key);
    context->doneCurrent();
}

}  // namespace vantry::app
