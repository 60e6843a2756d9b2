// Pictures into what the H.264 encoders and the virtual camera take: yuv420p at the output's
// size, BT.709 matrix, limited range, and the colour tags that say so, on the picture and on
// the encoder (and through it the container's stream). Every output converts through here,
// so what a file or a stream says its colours are is what they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/media/PictureScaler.h"

struct AVCodecContext;
struct AVFrame;

namespace vantry::platform::media {

// Tags an encoder's pictures BT.709 (primaries, transfer, matrix), limited range; a muxer's
// stream copies the tags from it (Muxer::addStream).
void tagBt709(AVCodecContext* encoder);

class PictureConverter {
  public:
    // A black yuv420p picture of width x height (even). Throws MediaError when out of memory.
    PictureConverter(int width, int height);
    ~PictureConverter();
    PictureConverter(const PictureConverter&) = delete;
    PictureConverter& operator=(const PictureConverter&) = delete;

    // Whether convert() takes pictures of `format` (an AVPixelFormat).
    static bool accepts(int format);

    // The converted picture, tagged; the caller sets its time stamp and picture type. It keeps
    // the last picture converted until the next conversion.
    AVFrame* frame() const { return frame_; }

    // Packed BGRA (alpha ignored) at the output's size, `stride` bytes a row. The last such
    // picture is kept: of the next, only the band of rows from its first changed row to its
    // last (in whole bands of kBandRows, with one more on each side) is converted into the
    // picture, which stays as it is elsewhere; the same picture as the one before converts
    // nothing. The result is the whole conversion's, bit for bit.
    bool convertBGRA(const std::uint8_t* pixels, std::ptrdiff_t stride);
    static constexpr int kBandRows = 16;
    // A picture of any size and RGB layout (an AVPixelFormat, planes and strides as FFmpeg lays
    // them out), scaled to the output's size. False when the picture cannot be converted.
    bool convert(const std::uint8_t* const planes[], const int strides[], int width, int height, int format);

  private:
    // Converts rows [y0, y1) of a BGRA picture into the same rows of the picture (y0 a multiple
    // of kBandRows).
    bool convertRows(const std::uint8_t* pixels, std::ptrdiff_t stride, int y0, int y1);

    AVFrame* frame_ = nullptr;
    PictureScaler scaler_{PictureScaler::Rounding::fast};
    PictureScaler bandScaler_{PictureScaler::Rounding::fast};
    std::vector<std::uint8_t> band_;  // a band's planes, converted aside
    std::vector<std::uint8_t> last_;  // the last BGRA picture converted, width * 4 bytes a row
    bool lastValid_ = false;
};

}  // namespace vantry::platform::media
