// A GL context and framebuffer owned by the test, into which the engine draws live
// frames the way a window's render thread hands them over; the engine's clock is
// driven by the test.
#pragma once

#include <epoxy/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/dispatch/MainThreadDispatcher.h"
#include "platform/gl/EglOffscreenContext.h"
#include "studio/gpu/VantryMetalEngine.h"

namespace vantry {

class LiveFrameTest : public ::testing::Test {
  protected:
    void SetUp() override {
        EngineServices services;
        services.clock = [this] { return now_.load(); };
        engine_ = VantryMetalEngine::create(std::move(services));
        ASSERT_NE(engine_, nullptr);
        context_ = platform::gl::EglOffscreenContext::create();
        ASSERT_NE(context_, nullptr);
        ASSERT_TRUE(context_->makeCurrent());
        glGenRenderbuffers(1, &color_);
        glBindRenderbuffer(GL_RENDERBUFFER, color_);
        glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, kW, kH);
        glGenFramebuffers(1, &fbo_);
        glBindFramebuffer(GL_FRAMEBUFFER, fbo_);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, color_);
        ASSERT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), GLenum(GL_FRAMEBUFFER_COMPLETE));
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        platform::drainMainQueue();
    }
    void TearDown() override {
        if (engine_) engine_->releaseContextResources(context_.get());
        if (fbo_ != 0) glDeleteFramebuffers(1, &fbo_);
        if (color_ != 0) glDeleteRenderbuffers(1, &color_);
        if (context_) context_->doneCurrent();
        platform::drainMainQueue();
    }
    StageRenderSurface surface() {
        StageRenderSurface s;
        s.width = kW;
        s.height = kH;
        s.framebuffer = fbo_;
        s.contextKey = context_.get();
        s.present = [this] { ++presented_; };
        return s;
    }

    // The live surface's picture, rows top to bottom (the window shows GL's bottom-up rows
    // turned over).
    std::vector<std::uint8_t> windowPicture() {
        std::vector<std::uint8_t> rows(kW * kH * 4), picture(rows.size());
        glBindFramebuffer(GL_READ_FRAMEBUFFER, fbo_);
        glReadPixels(0, 0, kW, kH, GL_BGRA, GL_UNSIGNED_BYTE, rows.data());
        glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
        for (int y = 0; y < kH; ++y)
            std::copy_n(rows.begin() + std::ptrdiff_t(kH - 1 - y) * kW * 4, kW * 4,
                        picture.begin() + std::ptrdiff_t(y) * kW * 4);
        return picture;
    }

    static constexpr int kW = 160;
    static constexpr int kH = 90;
    std::atomic<double> now_ = 1000.0;  // read by the engine on its worker too
    int presented_ = 0;
    std::unique_ptr<VantryMetalEngine> engine_;
    std::unique_ptr<platform::gl::EglOffscreenContext> context_;
    GLuint fbo_ = 0;
    GLuint color_ = 0;
};

}  // namespace vantry
