// What a finished 9:16 highlight clip export reports.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantry::creator {

struct OruViralClipReceiptV1030 {
    std::string outputPath;
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::int64_t frameCount = 0;
    double durationSeconds = 0;
    std::int64_t fileSizeBytes = 0;
    std::string gameTitle;
    std::string highlightHeadline;

    // A JSON object with the field names as keys, in the order above.
    std::string encode() const;
    // Reads that object back; every key must be present with its type
    // (integers as whole numbers). Absent on malformed input.
    static std::optional<OruViralClipReceiptV1030> decode(std::string_view json);

    bool operator==(const OruViralClipReceiptV1030&) const = default;
};

}  // namespace vantry::creator
