// Reading a finished 1920x1080 frame back, the way the export and the feed do (resolve of the
// 4-sample target, glReadPixels of B G R A into client memory), against reading it through two
// pixel buffer objects in turn (frame N's read-back requested into one, frame N - 1's mapped
// from the other and copied out), so that a driver that reads back asynchronously would
// overlap the copy with the next frame's drawing. Each frame is the target cleared, then read.
// Argument way: 0 client memory, 1 two buffers, 2 client memory in R G B A order, 3 the resolve
// alone, 4 the clear alone. Counters, milliseconds a frame: cpu (this process's processor time,
// the driver's threads included), read (the read-back calls) and map (mapping the other buffer
// and copying it out; 0 without buffers), both in wall-clock time.
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>
#include <time.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "bench/support/BenchSupport.h"
#include "platform/gl/EglOffscreenContext.h"
#include "studio/gpu/StageRenderer.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

double wallSeconds() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

void BM_ReadBack1080p(benchmark::State& state) {
    const int mode = int(state.range(0));
    const bool buffers = mode == 1;
    auto context = vantry::platform::gl::EglOffscreenContext::create();
    if (!context || !context->makeCurrent()) {
        state.SkipWithError("no GL context");
        return;
    }
    {
        vantry::studio::gl::MultisampleTarget target;
        target.ensure(kWidth, kHeight);
        const std::size_t bytes = std::size_t(kWidth) * std::size_t(kHeight) * 4;
        std::vector<std::uint8_t> pixels(bytes);
        GLuint pbo[2] = {0, 0};
        if (buffers) {
            glGenBuffers(2, pbo);
            for (GLuint b : pbo) {
                glBindBuffer(GL_PIXEL_PACK_BUFFER, b);
                glBufferData(GL_PIXEL_PACK_BUFFER, GLsizeiptr(bytes), nullptr, GL_STREAM_READ);
            }
            glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
        }
        // A single-sample target of its own for the other ways of reading.
        GLuint resolved = 0, resolvedColor = 0;
        glGenRenderbuffers(1, &resolvedColor);
        glBindRenderbuffer(GL_RENDERBUFFER, resolvedColor);
        glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, kWidth, kHeight);
        glGenFramebuffers(1, &resolved);
        glBindFramebuffer(GL_FRAMEBUFFER, resolved);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, resolvedColor);
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        double read = 0, map = 0;
        std::int64_t n = 0;
        const double cpu0 = vantry::bench::cpuSeconds();
        for (auto _ : state) {
            target.beginPass();
            glClearColor(float(n % 7) / 7.0f, 0.3f, 0.6f, 1.0f);
            glClear(GL_COLOR_BUFFER_BIT);
            if (mode == 4) {
                glFinish();
            } else if (mode == 2 || mode == 3) {
                const double r0 = wallSeconds();
                glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
                target.resolveInto(resolved);
                if (mode == 3) {
                    glFinish();
                } else {
                    glBindFramebuffer(GL_READ_FRAMEBUFFER, resolved);
                    glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
                }
                read += wallSeconds() - r0;
            } else if (!buffers) {
                const double r0 = wallSeconds();
                target.readBGRA(pixels.data());
                read += wallSeconds() - r0;
            } else {
                const double r0 = wallSeconds();
                glBindBuffer(GL_PIXEL_PACK_BUFFER, pbo[n % 2]);
                target.readBGRA(nullptr);
                read += wallSeconds() - r0;
                if (n > 0) {
                    const double m0 = wallSeconds();
                    glBindBuffer(GL_PIXEL_PACK_BUFFER, pbo[(n + 1) % 2]);
                    const void* mapped =
                        glMapBufferRange(GL_PIXEL_PACK_BUFFER, 0, GLsizeiptr(bytes), GL_MAP_READ_BIT);
                    if (mapped) std::memcpy(pixels.data(), mapped, bytes);
                    glUnmapBuffer(GL_PIXEL_PACK_BUFFER);
                    map += wallSeconds() - m0;
                }
                glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
            }
            benchmark::DoNotOptimize(pixels.data());
            ++n;
        }
        const double frames = double(std::max<std::int64_t>(1, state.iterations()));
        state.counters["cpu_ms"] = 1000.0 * (vantry::bench::cpuSeconds() - cpu0) / frames;
        state.counters["read_ms"] = 1000.0 * read / frames;
        state.counters["map_ms"] = 1000.0 * map / frames;
        if (buffers) glDeleteBuffers(2, pbo);
        glDeleteFramebuffers(1, &resolved);
        glDeleteRenderbuffers(1, &resolvedColor);
    }
    context->doneCurrent();
}
BENCHMARK(BM_ReadBack1080p)
    ->ArgName("way")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Arg(3)
    ->Arg(4)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);

}  // namespace
