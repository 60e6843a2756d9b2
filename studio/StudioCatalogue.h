// The four studio sets and the four camera angles.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "studio/StageTypes.h"

namespace vantry {

// Thrown when a stored set string is not one of the four raw values.
class DecodingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class BroadcastStudioSet {
public:
    enum Case : std::uint8_t { manhattanLoft, timberPodcast, keynoteArena, neonCreatorDesk };

    constexpr BroadcastStudioSet(Case c) : case_(c) {}  // NOLINT: implicit from a case, like an enum

    // Exactly one of the four raw values (whole string, case-sensitive); anything else is absent.
    static std::optional<BroadcastStudioSet> fromRawValue(std::string_view raw);
    static const std::array<BroadcastStudioSet, 4>& allCases();

    constexpr Case value() const { return case_; }
    std::string_view rawValue() const;
    std::string_view id() const { return rawValue(); }
    std::string_view title() const;
    std::string_view subtitle() const;
    Float3 accentColor() const;

    // A set is stored as its raw value string.
    std::string encode() const { return std::string(rawValue()); }
    static BroadcastStudioSet decode(std::string_view stored);  // throws DecodingError

    friend constexpr bool operator==(BroadcastStudioSet a, BroadcastStudioSet b) { return a.case_ == b.case_; }

private:
    Case case_;
};

class BroadcastCameraAngle {
public:
    enum Case : std::int32_t { wideDesk = 0, screenShoulder = 1, tightHost = 2, sweepingCrane = 3 };

    constexpr BroadcastCameraAngle(Case c) : case_(c) {}  // NOLINT: implicit from a case

    // 0..3 give the angle; any other integer is absent.
    static std::optional<BroadcastCameraAngle> fromRawValue(std::int64_t raw);
    static const std::array<BroadcastCameraAngle, 4>& allCases();

    constexpr Case value() const { return case_; }
    constexpr int rawValue() const { return static_cast<int>(case_); }
    constexpr int id() const { return rawValue(); }
    std::string_view title() const;

    friend constexpr bool operator==(BroadcastCameraAngle a, BroadcastCameraAngle b) { return a.case_ == b.case_; }

private:
    Case case_;
};

}  // namespace vantry

template <>
struct std::hash<vantry::BroadcastStudioSet> {
    std::size_t operator()(vantry::BroadcastStudioSet s) const noexcept {
        return std::hash<std::string_view>{}(s.rawValue());
    }
};

template <>
struct std::hash<vantry::BroadcastCameraAngle> {
    std::size_t operator()(vantry::BroadcastCameraAngle a) const noexcept { return std::hash<int>{}(a.rawValue()); }
};
