// The video bit rates a live stream is sent at, how many servers it goes to and the SRT
// passphrase lengths, one definition for the stream itself, the GO LIVE settings and the
// command line.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantry::platform {

inline constexpr std::int64_t kMinVideoBitRate = 100'000;
inline constexpr std::int64_t kMaxVideoBitRate = 50'000'000;

// Servers one stream goes to at once.
inline constexpr int kMaxStreamDestinations = 4;

// The passphrase lengths SRT takes (its encryption refuses any other).
inline constexpr std::size_t kMinSrtPassphrase = 10;
inline constexpr std::size_t kMaxSrtPassphrase = 79;

constexpr bool isStreamVideoBitRate(std::int64_t bitsPerSecond) {
    return bitsPerSecond >= kMinVideoBitRate && bitsPerSecond <= kMaxVideoBitRate;
}

}  // namespace vantry::platform
