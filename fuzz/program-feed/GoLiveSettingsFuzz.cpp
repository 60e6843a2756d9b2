// Any bytes as the GO LIVE settings file. What comes out must be settings the window can use:
// an offered size, a bit rate within the stream's limits, addresses of one line; written out
// and read back once, they must then stay as they are. Nothing may crash or read out of bounds.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "app/program-feed/GoLiveSettings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vantry::app::feed;
    if (size > (std::size_t(1) << 16)) return 0;
    const GoLiveSettings s = parseGoLiveSettings(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!isGoLiveSize(s.width, s.height)) std::abort();
    if (!vantry::platform::isStreamVideoBitRate(s.bitRate)) std::abort();
    for (const GoLiveDestination& d : s.destinations)
        if (d.url.find('\n') != std::string::npos) std::abort();
    const GoLiveSettings once = parseGoLiveSettings(formatGoLiveSettings(s));
    if (parseGoLiveSettings(formatGoLiveSettings(once)) != once) std::abort();
    if (once.width != s.width || once.bitRate != s.bitRate) std::abort();
    return 0;
}
