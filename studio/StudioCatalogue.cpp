#include "studio/StudioCatalogue.h"

#include "common/EnumTable.h"
namespace vantry {
namespace {

struct SetInfo {
    std::string_view raw;
    std::string_view title;
    std::string_view subtitle;
    Float3 accent;
};

// Subtitles use U+00B7 MIDDLE DOT between blanks.
constexpr std::array<SetInfo, 4> kSets = {{
    {"manhattan-loft",
     "Manhattan Skyline Loft",
     "Executive Glass Studio \u00B7 Night City",
     {0.22f, 0.78f, 1.00f}},
    {"timber-podcast", "Warm Timber Podcast", "Acoustic Walnut Slats \u00B7 Warm Key", {0.98f, 0.66f, 0.28f}},
    {"keynote-arena",
     "Keynote Broadcast Stage",
     "Curved LED Wall \u00B7 Mainstage Rig",
     {0.45f, 0.62f, 1.00f}},
    {"neon-creator", "Cyber Creator Desk", "Dual Rim Strips \u00B7 YouTube Tech Set", {0.96f, 0.24f, 0.72f}},
}};

constexpr std::array<std::string_view, 4> kAngleTitles = {"Cam 1 \u00B7 Desk", "Cam 2 \u00B7 Screen",
                                                          "Cam 3 \u00B7 Host", "Cam 4 \u00B7 Crane"};

}  // namespace

std::optional<BroadcastStudioSet> BroadcastStudioSet::fromRawValue(std::string_view raw) {
    return enum_table::find<BroadcastStudioSet>(kSets, &SetInfo::raw, raw);
}

const std::array<BroadcastStudioSet, 4>& BroadcastStudioSet::allCases() {
    return enum_table::allCases<BroadcastStudioSet, 4>();
}

std::string_view BroadcastStudioSet::rawValue() const {
    return kSets[case_].raw;
}
std::string_view BroadcastStudioSet::title() const {
    return kSets[case_].title;
}
std::string_view BroadcastStudioSet::subtitle() const {
    return kSets[case_].subtitle;
}
Float3 BroadcastStudioSet::accentColor() const {
    return kSets[case_].accent;
}

BroadcastStudioSet BroadcastStudioSet::decode(std::string_view stored) {
    if (auto set = fromRawValue(stored)) return *set;
    throw DecodingError("Cannot initialize BroadcastStudioSet from invalid String value " +
                        std::string(stored));
}

std::optional<BroadcastCameraAngle> BroadcastCameraAngle::fromRawValue(std::int64_t raw) {
    if (raw < 0 || raw > 3) return std::nullopt;
    return BroadcastCameraAngle(static_cast<Case>(raw));
}

const std::array<BroadcastCameraAngle, 4>& BroadcastCameraAngle::allCases() {
    return enum_table::allCases<BroadcastCameraAngle, 4>();
}

std::string_view BroadcastCameraAngle::title() const {
    return kAngleTitles[static_cast<std::size_t>(case_)];
}

}  // namespace vantry
