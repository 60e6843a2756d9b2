#include "platform/gl/EglOffscreenContext.h"

#include <epoxy/gl.h>
#include <gtest/gtest.h>

#include <thread>

namespace vantry::platform::gl {
namespace {

TEST(EglOffscreenContext, GivesACoreContextWithoutADisplay) {
    auto context = EglOffscreenContext::create();
    ASSERT_NE(context, nullptr);
    EXPECT_FALSE(context->renderer().empty());
    EXPECT_TRUE(context->platformName() == "device" || context->platformName() == "surfaceless" ||
                context->platformName() == "default");
    EXPECT_EQ(currentNativeContext(), nullptr);  // creation leaves nothing current
    ASSERT_TRUE(context->makeCurrent());
    EXPECT_NE(currentNativeContext(), nullptr);
    GLint major = 0, minor = 0, mask = 0;
    glGetIntegerv(GL_MAJOR_VERSION, &major);
    glGetIntegerv(GL_MINOR_VERSION, &minor);
    glGetIntegerv(GL_CONTEXT_PROFILE_MASK, &mask);
    EXPECT_GE(major * 10 + minor, 33);
    EXPECT_NE(mask & GL_CONTEXT_CORE_PROFILE_BIT, 0);
    context->doneCurrent();
    EXPECT_EQ(currentNativeContext(), nullptr);
}

TEST(EglOffscreenContext, CreatingAnotherKeepsTheCallersContextCurrent) {
    auto first = EglOffscreenContext::create();
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(first->makeCurrent());
    const void* mine = currentNativeContext();
    auto second = EglOffscreenContext::create();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(currentNativeContext(), mine);
    // The second one can live on another thread meanwhile.
    bool used = false;
    std::thread([&] {
        used = second->makeCurrent();
        if (used) {
            glClear(GL_COLOR_BUFFER_BIT);
            second->doneCurrent();
        }
    }).join();
    EXPECT_TRUE(used);
    first->doneCurrent();
}

}  // namespace
}  // namespace vantry::platform::gl
