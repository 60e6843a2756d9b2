// User-made raid maps: the prop placements and the map record, with their JSON form.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantry::creator {

// One prop (barrel or crate) placed on the street level.
struct OruUGCPropPlacementV1175 {
    std::string id;        // unique within its map ("b1", "c2")
    std::string label;     // display name
    std::string meshKind;  // "barrel" or "crate"
    float x = 0;           // metres
    float y = 0;           // metres, height
    float z = 0;           // metres, the street runs along negative z
    float yawRad = 0;      // rotation about the vertical axis
    float scale = 1;       // uniform scale

    bool operator==(const OruUGCPropPlacementV1175&) const = default;
};

// A user-made raid map. Its id is also the base name of its vault file.
struct OruUGCRaidMapRecordV1175 {
    std::string id;
    std::string title;
    std::string authorCallsign;
    std::string district;
    std::string summary;
    std::vector<OruUGCPropPlacementV1175> placements;
    std::int64_t likes = 0;
    bool syncedToCloudKit = false;
    std::string createdISO;  // UTC to the second, e.g. "2026-12-07T02:08:50Z"

    bool operator==(const OruUGCRaidMapRecordV1175&) const = default;
};

// JSON text of a record: pretty-printed with sorted keys (vault files) or compact in
// field order (cloud payload). Floats are written in their shortest round-trip form.
// Throws json::EncodingError for a non-finite number or text that is not UTF-8.
std::string encodeRaidMapPretty(const OruUGCRaidMapRecordV1175& map);
std::string encodeRaidMapCompact(const OruUGCRaidMapRecordV1175& map);

// Reads one record from JSON bytes. Every field must be present with its type
// (unknown keys are ignored); anything else gives an absent result.
std::optional<OruUGCRaidMapRecordV1175> decodeRaidMap(std::string_view bytes);

// The current time as an ISO 8601 text in UTC to the second with a trailing Z.
std::string currentISOTimestamp();

}  // namespace vantry::creator
