#include "platform/stream/StreamMicrophone.h"

extern "C" {
#include <libavutil/audio_fifo.h>
}

#include "platform/media/AacEncoder.h"
#include "platform/media/MediaRuntime.h"
#include "platform/media/PulseCapture.h"

namespace vantry::platform {
namespace {

constexpr int kCushion = media::kSampleRate / 10;
constexpr int kMaxBacklog = media::kSampleRate * 4 / 10;
constexpr int kPieceMs = 20;

}  // namespace

StreamMicrophone::StreamMicrophone(std::atomic<bool>& stopping) : stopping_(stopping) {
    thread_ = std::thread([this] { run(); });
}

StreamMicrophone::~StreamMicrophone() {
    thread_.join();
    if (fifo_) av_audio_fifo_free(fifo_);
}

bool StreamMicrophone::read(float* const planes[2], int count) {
    std::lock_guard lock(mutex_);
    if (!fifo_) return false;
    const int size = av_audio_fifo_size(fifo_);
    if (!primed_) primed_ = size >= kCushion;
    if (primed_ && size < count) primed_ = false;
    if (!primed_) return false;
    return av_audio_fifo_read(fifo_, reinterpret_cast<void**>(const_cast<float**>(planes)), count) == count;
}

void StreamMicrophone::run() {
    std::unique_ptr<media::PulseCapture> capture;
    try {
        capture = std::make_unique<media::PulseCapture>("default", kPieceMs, stopping_);
    } catch (const media::MediaError&) {
        return;  // no server or no source: the stream carries silence
    }
    {
        std::lock_guard lock(mutex_);
        fifo_ = av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, 2, media::kSampleRate);
        if (!fifo_) return;
    }
    media::PulseCapture::Piece piece;
    while (capture->read(piece)) {
        const float* planes[2] = {piece.left, piece.right};
        std::lock_guard lock(mutex_);
        av_audio_fifo_write(fifo_, reinterpret_cast<void**>(const_cast<float**>(planes)), piece.samples);
        // The sound card's clock and the wall clock part slowly: keep the delay bounded.
        const int excess = av_audio_fifo_size(fifo_) - kMaxBacklog;
        if (excess > 0) av_audio_fifo_drain(fifo_, excess);
    }
}

}  // namespace vantry::platform
