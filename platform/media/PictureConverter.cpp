#include "platform/media/PictureConverter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstring>

#include "platform/media/MediaRuntime.h"

namespace vantry::platform::media {

void tagBt709(AVCodecContext* encoder) {
    encoder->color_primaries = AVCOL_PRI_BT709;
    encoder->color_trc = AVCOL_TRC_BT709;
    encoder->colorspace = AVCOL_SPC_BT709;
    encoder->color_range = AVCOL_RANGE_MPEG;
}

PictureConverter::PictureConverter(int width, int height) : frame_(av_frame_alloc()) {
    if (!frame_) fail("out of memory for a picture");
    frame_->format = AV_PIX_FMT_YUV420P;
    frame_->width = width;
    frame_->height = height;
    frame_->color_primaries = AVCOL_PRI_BT709;
    frame_->color_trc = AVCOL_TRC_BT709;
    frame_->colorspace = AVCOL_SPC_BT709;
    frame_->color_range = AVCOL_RANGE_MPEG;
    const int rc = av_frame_get_buffer(frame_, 0);
    if (rc < 0) {
        av_frame_free(&frame_);
        fail("out of memory for a picture", rc);
    }
    const std::ptrdiff_t lines[4] = {frame_->linesize[0], frame_->linesize[1], frame_->linesize[2], 0};
    av_image_fill_black(frame_->data, lines, AV_PIX_FMT_YUV420P, AVCOL_RANGE_MPEG, width, height);
}

PictureConverter::~PictureConverter() {
    av_frame_free(&frame_);
}

bool PictureConverter::accepts(int format) {
    return sws_isSupportedInput(AVPixelFormat(format)) > 0;
}

bool PictureConverter::convertBGRA(const std::uint8_t* pixels, std::ptrdiff_t stride) {
    const int w = frame_->width;
    const int h = frame_->height;
    const std::size_t row = std::size_t(w) * 4;
    const auto kept = [&](int y) { return last_.data() + std::size_t(y) * row; };
    const auto given = [&](int y) { return pixels + std::ptrdiff_t(y) * stride; };
    int y0 = 0;
    int y1 = h;
    if (lastValid_) {
        int top = 0;
        while (top < h && std::memcmp(given(top), kept(top), row) == 0) ++top;
        if (top == h) return true;  // the picture converted last
        int bottom = h;
        while (bottom > top && std::memcmp(given(bottom - 1), kept(bottom - 1), row) == 0) --bottom;
        // libswscale's chroma filter reaches across rows: a changed row changes chroma rows
        // about it too, so the band takes a band more on each side.
        y0 = std::max(0, top / kBandRows * kBandRows - kBandRows);
        y1 = std::min(h, (bottom + kBandRows - 1) / kBandRows * kBandRows + kBandRows);
    }
    lastValid_ = false;
    if (!convertRows(pixels, stride, y0, y1)) return false;
    last_.resize(row * std::size_t(h));
    for (int y = y0; y < y1; ++y) std::memcpy(kept(y), given(y), row);
    lastValid_ = true;
    return true;
}

bool PictureConverter::convertRows(const std::uint8_t* pixels, std::ptrdiff_t stride, int y0, int y1) {
    if (y0 == 0 && y1 == frame_->height) {
        const std::uint8_t* const planes[4] = {pixels, nullptr, nullptr, nullptr};
        const int strides[4] = {static_cast<int>(stride), 0, 0, 0};
        return convert(planes, strides, frame_->width, frame_->height, AV_PIX_FMT_BGRA);
    }
    // The band with kBandRows more on each side (within the picture) as a picture of its own,
    // converted aside: libswscale's chroma filter reaches across rows, so only the band's own
    // rows, away from the edges of what was converted, are the whole conversion's; those are
    // copied into the picture.
    if (av_frame_make_writable(frame_) < 0) return false;
    const int from = std::max(0, y0 - kBandRows);
    const int to = std::min(frame_->height, y1 + kBandRows);
    const int w = frame_->width;
    const int cw = (w + 1) / 2;
    const int rows = to - from;
    band_.resize(std::size_t(w) * rows + 2 * std::size_t(cw) * ((rows + 1) / 2));
    std::uint8_t* const bandPlanes[4] = {
        band_.data(), band_.data() + std::size_t(w) * rows,
        band_.data() + std::size_t(w) * rows + std::size_t(cw) * ((rows + 1) / 2), nullptr};
    const int bandStrides[4] = {w, cw, cw, 0};
    const std::uint8_t* const planes[4] = {pixels + std::ptrdiff_t(from) * stride, nullptr, nullptr, nullptr};
    const int strides[4] = {static_cast<int>(stride), 0, 0, 0};
    const PictureLayout fromLayout{w, rows, AV_PIX_FMT_BGRA, AVCOL_SPC_RGB, true};
    const PictureLayout toLayout{w, rows, AV_PIX_FMT_YUV420P, AVCOL_SPC_BT709, false};
    if (!bandScaler_.scale(fromLayout, planes, strides, toLayout, bandPlanes, bandStrides)) return false;
    for (int y = y0; y < y1; ++y)
        std::memcpy(frame_->data[0] + std::ptrdiff_t(y) * frame_->linesize[0],
                    bandPlanes[0] + std::ptrdiff_t(y - from) * w, std::size_t(w));
    for (int y = y0 / 2; y < (y1 + 1) / 2; ++y) {
        for (int p = 1; p < 3; ++p)
            std::memcpy(frame_->data[p] + std::ptrdiff_t(y) * frame_->linesize[p],
                        bandPlanes[p] + std::ptrdiff_t(y - from / 2) * cw, std::size_t(cw));
    }
    return true;
}

bool PictureConverter::convert(const std::uint8_t* const planes[], const int strides[], int width, int height,
                               int format) {
    lastValid_ = false;
    // An encoder may still hold the last picture.
    if (av_frame_make_writable(frame_) < 0) return false;
    const PictureLayout from{width, height, format, AVCOL_SPC_RGB, true};
    const PictureLayout to{frame_->width, frame_->height, AV_PIX_FMT_YUV420P, AVCOL_SPC_BT709, false};
    return scaler_.scale(from, planes, strides, to, frame_->data, frame_->linesize);
}

}  // namespace vantry::platform::media
