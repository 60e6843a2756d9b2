// One libswscale conversion between two picture layouts, each with its colour matrix and range,
// set up once and again only when a side changes. The picture converter (pictures into the
// encoders) and the video-file decoder (pictures out of files) both go through it.
#pragma once

#include <cstdint>

struct SwsContext;

namespace vantry::platform::media {

struct PictureLayout {
    int width = 0;
    int height = 0;
    int format = -1;  // AVPixelFormat
    // AVColorSpace of a YUV picture (BT.601 for any that libswscale does not name); RGB: unused.
    int matrix = 0;
    // Full-range YUV; RGB is always full range.
    bool fullRange = true;

    bool operator==(const PictureLayout&) const = default;
};

class PictureScaler {
  public:
    enum class Rounding {
        fast,   // bilinear; within a level of the exact result
        exact,  // bilinear with exact rounding, about 60 % slower
    };
    explicit PictureScaler(Rounding rounding) : rounding_(rounding) {}
    ~PictureScaler();
    PictureScaler(const PictureScaler&) = delete;
    PictureScaler& operator=(const PictureScaler&) = delete;

    // Converts (and scales) a picture of layout `from` into one of layout `to`; false when
    // libswscale has no conversion between the two.
    bool scale(const PictureLayout& from, const std::uint8_t* const planes[], const int strides[],
               const PictureLayout& to, std::uint8_t* const target[], const int targetStrides[]);

  private:
    Rounding rounding_;
    SwsContext* context_ = nullptr;
    PictureLayout from_, to_;
};

}  // namespace vantry::platform::media
