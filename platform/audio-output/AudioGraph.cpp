#include "platform/audio-output/AudioGraph.h"

#include <cmath>
#include <limits>

namespace vantry::platform {

std::optional<PcmFormat> makeStandardPcmFormat(double sampleRate, int channelCount) {
    if (!std::isfinite(sampleRate) || sampleRate <= 0 || channelCount < 1 || channelCount > 8)
        return std::nullopt;
    return PcmFormat{sampleRate, channelCount};
}

std::shared_ptr<PcmBuffer> makePcmBuffer(const PcmFormat& format, std::uint64_t frameCapacity) {
    if (frameCapacity == 0 || frameCapacity > std::numeric_limits<std::uint32_t>::max()) return nullptr;
    if (!makeStandardPcmFormat(format.sampleRate, format.channelCount)) return nullptr;
    auto buffer = std::make_shared<PcmBuffer>();
    buffer->format = format;
    buffer->frameCapacity = static_cast<std::uint32_t>(frameCapacity);
    buffer->channels.assign(static_cast<std::size_t>(format.channelCount),
                            std::vector<float>(static_cast<std::size_t>(frameCapacity), 0.0f));
    return buffer;
}

}  // namespace vantry::platform
