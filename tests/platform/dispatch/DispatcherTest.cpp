#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/dispatch/MainThreadDispatcher.h"

using namespace vantry::platform;

TEST(MainThreadDispatcher, QueuesUntilDrainedAndUsesInstalledPoster) {
    int ran = 0;
    std::thread worker([&] { postToMain([&] { ++ran; }); });
    worker.join();
    EXPECT_EQ(ran, 0);
    EXPECT_EQ(drainMainQueue(), 1u);
    EXPECT_EQ(ran, 1);

    std::vector<MainTask> captured;
    setMainPoster([&](MainTask t) { captured.push_back(std::move(t)); });
    postToMain([&] { ++ran; });
    EXPECT_EQ(drainMainQueue(), 0u);
    ASSERT_EQ(captured.size(), 1u);
    captured[0]();
    EXPECT_EQ(ran, 2);
    setMainPoster({});
}
