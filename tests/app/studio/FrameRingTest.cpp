// The live viewport's three-slot frame hand-over between the studio thread and Qt's
// render thread.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <set>
#include <thread>

#include "app/studio-app/FrameRing.h"

namespace vantry::app {
namespace {

void* fence(std::uintptr_t n) {
    return reinterpret_cast<void*>(n);
}

TEST(FrameRing, ConsumerGetsTheNewestFrameAndProducerNeverWaits) {
    FrameRing ring;
    EXPECT_FALSE(ring.hasNewer());
    EXPECT_FALSE(ring.takeNewest(nullptr).has_value());
    EXPECT_EQ(ring.shownSlot(), -1);

    // Three frames before the consumer looks: it sees only the third.
    std::set<int> written;
    for (std::uintptr_t f = 1; f <= 3; ++f) {
        const auto w = ring.beginWrite();
        written.insert(w.slot);
        ring.publish(fence(f));
    }
    EXPECT_EQ(written.size(), 2u) << "two slots alternate while nothing is shown";
    ASSERT_TRUE(ring.hasNewer());
    const auto first = ring.takeNewest(nullptr);
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->frame, 3u);
    EXPECT_EQ(first->readyFence, fence(3));
    EXPECT_FALSE(ring.hasNewer());
    EXPECT_FALSE(ring.takeNewest(fence(99)).has_value());  // nothing new: the same frame stays

    // The producer never gets the shown slot, and gets back the stale fence of the
    // frame nobody took.
    const auto w = ring.beginWrite();
    EXPECT_NE(w.slot, first->slot);
    EXPECT_TRUE(w.fences[0] == fence(2) || w.fences[1] == fence(2));
    ring.publish(fence(4));

    // Letting the shown slot go hands the consumer's fence to the producer with it.
    const auto second = ring.takeNewest(fence(50));
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(second->frame, 4u);
    EXPECT_EQ(ring.shownSlot(), second->slot);
    bool gotRelease = false;
    for (int i = 0; i < 3 && !gotRelease; ++i) {
        const auto next = ring.beginWrite();
        EXPECT_NE(next.slot, second->slot);
        gotRelease = next.fences[0] == fence(50);
        ring.publish(nullptr);
    }
    EXPECT_TRUE(gotRelease) << "the released slot comes back to the producer with its fence";
    for (void* f : ring.drainFences()) EXPECT_NE(f, fence(50));
}

// Under ThreadSanitizer: the producer and consumer never hold the same slot.
TEST(FrameRing, ProducerAndConsumerNeverShareASlot) {
    FrameRing ring;
    std::array<std::atomic<bool>, FrameRing::kSlots> writing{};
    std::atomic<bool> done{false};
    std::thread producer([&] {
        for (int i = 0; i < 20000; ++i) {
            const auto w = ring.beginWrite();
            writing[w.slot] = true;
            writing[w.slot] = false;
            ring.publish(nullptr);
        }
        done = true;
    });
    std::uint64_t last = 0;
    int taken = 0;
    int clashes = 0;
    while (!done.load() || ring.hasNewer()) {
        if (auto t = ring.takeNewest(nullptr)) {
            EXPECT_GT(t->frame, last);
            last = t->frame;
            clashes += writing[t->slot].load();  // the slot just taken is not being drawn into
            ++taken;
        }
    }
    producer.join();
    EXPECT_EQ(clashes, 0);
    EXPECT_EQ(last, 20000u);
    EXPECT_GT(taken, 0);
}

}  // namespace
}  // namespace vantry::app
