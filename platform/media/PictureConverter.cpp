#include "platform/media/PictureConverter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

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
    const std::uint8_t* const planes[4] = {pixels, nullptr, nullptr, nullptr};
    const int strides[4] = {static_cast<int>(stride), 0, 0, 0};
    return convert(planes, strides, frame_->width, frame_->height, AV_PIX_FMT_BGRA);
}

bool PictureConverter::convert(const std::uint8_t* const planes[], const int strides[], int width, int height,
                               int format) {
    // An encoder may still hold the last picture.
    if (av_frame_make_writable(frame_) < 0) return false;
    const PictureLayout from{width, height, format, AVCOL_SPC_RGB, true};
    const PictureLayout to{frame_->width, frame_->height, AV_PIX_FMT_YUV420P, AVCOL_SPC_BT709, false};
    return scaler_.scale(from, planes, strides, to, frame_->data, frame_->linesize);
}

}  // namespace vantry::platform::media
