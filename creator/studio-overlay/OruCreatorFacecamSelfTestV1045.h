// The facecam self-test: a synthetic head-and-shoulders subject through the facecam's mask
// blend, measured, and a 1280 x 720 proof picture of a mock broadcast written as PNG.
#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vantry::creator {

struct OruCreatorFacecamSelfTestReceiptV1045 {
    std::string proofPNGPath;
    double bgOcclusionTransparentRatio = 0;
    double subjectOpaqueRatio = 0;
    bool replayKitAvailable = true;
    bool dragAndScaleClampedOK = true;
    bool micLevelMeterWorking = true;

    // A JSON object with the field names as keys, in declaration order.
    std::string toJson() const;
    // Reads such an object back; absent when a key is missing or has the wrong type.
    static std::optional<OruCreatorFacecamSelfTestReceiptV1045> fromJson(std::string_view json);

    friend bool operator==(const OruCreatorFacecamSelfTestReceiptV1045&,
                           const OruCreatorFacecamSelfTestReceiptV1045&) = default;
};

// An error of the "CreatorCam" domain. Codes:
//   1 the 1280 x 720 canvas cannot be created
//   2 either 256 x 256 surface cannot be created
//   3 the PNG destination cannot be created
//   4 the PNG cannot be finalized
//   5 the blended subject cannot be produced
//   6 text cannot be drawn (no GUI application, so no font system)
class CreatorCamError : public std::runtime_error {
  public:
    explicit CreatorCamError(int code);
    int code() const { return code_; }
    static constexpr const char* kDomain = "CreatorCam";

  private:
    int code_;
};

namespace OruCreatorFacecamSelfTestV1045 {

inline constexpr int kCanvasWidth = 1280;
inline constexpr int kCanvasHeight = 720;
inline constexpr int kSubjectSize = 256;
inline constexpr int kTransparentBelow = 12;  // alpha < 12 counts as transparent
inline constexpr int kOpaqueAbove = 240;      // alpha > 240 counts as opaque

// Needs a QGuiApplication (for the text). Creates the PNG's parent folders; their failure is
// thrown as std::filesystem::filesystem_error, every other failure as CreatorCamError.
OruCreatorFacecamSelfTestReceiptV1045 runSelfTestAndRenderProof(const std::filesystem::path& to);

}  // namespace OruCreatorFacecamSelfTestV1045

}  // namespace vantry::creator
