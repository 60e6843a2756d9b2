#include "platform/media/PictureScaler.h"

extern "C" {
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace vantry::platform::media {
namespace {

int swsMatrix(int matrix) {
    switch (matrix) {
        case AVCOL_SPC_BT709:
            return SWS_CS_ITU709;
        case AVCOL_SPC_FCC:
            return SWS_CS_FCC;
        case AVCOL_SPC_SMPTE240M:
            return SWS_CS_SMPTE240M;
        case AVCOL_SPC_BT2020_NCL:
        case AVCOL_SPC_BT2020_CL:
            return SWS_CS_BT2020;
        default:
            return SWS_CS_DEFAULT;
    }
}

bool isRgb(int format) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(AVPixelFormat(format));
    return d && (d->flags & AV_PIX_FMT_FLAG_RGB);
}

}  // namespace

PictureScaler::~PictureScaler() {
    sws_freeContext(context_);
}

bool PictureScaler::scale(const PictureLayout& from, const std::uint8_t* const planes[], const int strides[],
                          const PictureLayout& to, std::uint8_t* const target[], const int targetStrides[]) {
    if (!context_ || !(from == from_) || !(to == to_)) {
        sws_freeContext(context_);
        const int flags = SWS_BILINEAR | (rounding_ == Rounding::exact ? SWS_ACCURATE_RND : 0);
        context_ = sws_getContext(from.width, from.height, AVPixelFormat(from.format), to.width, to.height,
                                  AVPixelFormat(to.format), flags, nullptr, nullptr, nullptr);
        if (!context_) return false;
        from_ = from;
        to_ = to;
        // The matrix and range of each side as given, not libswscale's BT.601 defaults.
        sws_setColorspaceDetails(
            context_, sws_getCoefficients(swsMatrix(from.matrix)), isRgb(from.format) || from.fullRange,
            sws_getCoefficients(swsMatrix(to.matrix)), isRgb(to.format) || to.fullRange, 0, 1 << 16, 1 << 16);
    }
    return sws_scale(context_, planes, strides, 0, from.height, target, targetStrides) == to.height;
}

}  // namespace vantry::platform::media
