// The tail a loopback ffmpeg receiver may leave unread at the end of a stream.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>

namespace vantry::testing {

// The receiver (ffmpeg -listen) acknowledges what it reads; when the sender has already closed
// its end, that write fails and the receiver stops reading, losing what was still unread in its
// socket. The sender cannot see this, so a receiver may miss the last frames of a stream: what
// arrived must be all of the frames sent but the last few (half a second at 30 fps).
inline constexpr long long kUnreadTailFrames = 15;

// The frames missing at the end; a failure when more are missing or more arrived than were sent.
inline long long framesLostAtTheEnd(long long received, long long sent) {
    EXPECT_LE(received, sent);
    EXPECT_GE(received, sent - kUnreadTailFrames) << "frames missing: more than an unread tail";
    return std::max(0LL, sent - received);
}

}  // namespace vantry::testing
