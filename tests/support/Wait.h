// Waiting for a condition that other threads make true, without an event loop (for code with
// an event loop, EventPump.h's pumpUntil).
#pragma once

#include <chrono>
#include <thread>

namespace vantry::testing {

// True once done() holds; false when `seconds` pass first. A hang guard, never a measure.
template <typename Done>
bool waitUntil(Done done, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done();
}

}  // namespace vantry::testing
