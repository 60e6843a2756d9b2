// A finished studio picture handed over without a copy: width x height x 4 bytes, rows top to
// bottom, B G R A. The renderer writes its next picture into the same buffer when nobody else
// holds it, so a holder copies what it needs and lets go before it asks for the next one.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace vantry {

struct SharedFrame {
    std::shared_ptr<const std::vector<std::uint8_t>> pixels;  // null: no picture
    // The same number for the same pixels from one renderer, a new one whenever they changed;
    // 0: unknown (always taken as new).
    std::uint64_t serial = 0;
    explicit operator bool() const { return pixels != nullptr; }
};

// Pixels of one's own as a shared frame (serial 0); empty when absent.
inline SharedFrame sharedFrameOf(std::optional<std::vector<std::uint8_t>> pixels) {
    if (!pixels) return {};
    return {std::make_shared<const std::vector<std::uint8_t>>(std::move(*pixels)), 0};
}

}  // namespace vantry
