// The facecam's two settings enumerations: background treatment and window outline.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

namespace vantry::creator {

class OruFacecamBackgroundModeV1045 {
  public:
    enum Case : std::uint8_t { cutoutNoBackground, studioBlur, fullCamera };

    constexpr OruFacecamBackgroundModeV1045(Case c) : case_(c) {}  // NOLINT: implicit from a case

    // Exactly one of the raw values; anything else is absent.
    static std::optional<OruFacecamBackgroundModeV1045> fromRawValue(std::string_view raw);
    static const std::array<OruFacecamBackgroundModeV1045, 3>& allCases();

    constexpr Case value() const { return case_; }
    std::string_view rawValue() const;
    // The case after this one in declaration order, wrapping to the first.
    OruFacecamBackgroundModeV1045 next() const;

    friend constexpr bool operator==(OruFacecamBackgroundModeV1045 a, OruFacecamBackgroundModeV1045 b) {
        return a.case_ == b.case_;
    }

  private:
    Case case_;
};

class OruFacecamShapeV1045 {
  public:
    enum Case : std::uint8_t { freeCutout, circle, rounded };

    constexpr OruFacecamShapeV1045(Case c) : case_(c) {}  // NOLINT: implicit from a case

    static std::optional<OruFacecamShapeV1045> fromRawValue(std::string_view raw);
    static const std::array<OruFacecamShapeV1045, 3>& allCases();

    constexpr Case value() const { return case_; }
    std::string_view rawValue() const;
    OruFacecamShapeV1045 next() const;

    friend constexpr bool operator==(OruFacecamShapeV1045 a, OruFacecamShapeV1045 b) {
        return a.case_ == b.case_;
    }

  private:
    Case case_;
};

}  // namespace vantry::creator

template <>
struct std::hash<vantry::creator::OruFacecamBackgroundModeV1045> {
    std::size_t operator()(vantry::creator::OruFacecamBackgroundModeV1045 m) const noexcept {
        return std::hash<std::string_view>{}(m.rawValue());
    }
};

template <>
struct std::hash<vantry::creator::OruFacecamShapeV1045> {
    std::size_t operator()(vantry::creator::OruFacecamShapeV1045 s) const noexcept {
        return std::hash<std::string_view>{}(s.rawValue());
    }
};
