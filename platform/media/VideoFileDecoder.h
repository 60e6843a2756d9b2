// One video file read back: its container, its best video stream and a one-thread decoder for
// it. Pictures come one by one in presentation order, each convertible to packed BGRA with the
// colour matrix and range it is tagged with (untagged: BT.601, limited range, as FFmpeg takes
// it). The file camera and the video file reader decode through it.
#pragma once

#include <cstdint>
#include <filesystem>

#include "platform/media/PictureScaler.h"

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;

namespace vantry::platform::media {

// The picture the decoder holds.
struct DecodedPicture {
    int width = 0;
    int height = 0;
    // Width over height of one pixel; 1 when the file does not say.
    int aspectNum = 1;
    int aspectDen = 1;
    double seconds = 0;  // presentation time (FFmpeg's best effort)
};

class VideoFileDecoder {
  public:
    // Throws MediaError: "cannot open 'FILE'", "cannot read the streams of 'FILE'", "no video
    // stream in 'FILE'", "no decoder for the video stream", "cannot open the decoder" (the first
    // two and the last with FFmpeg's code and text).
    explicit VideoFileDecoder(const std::filesystem::path& file,
                              PictureScaler::Rounding rounding = PictureScaler::Rounding::fast);
    ~VideoFileDecoder();
    VideoFileDecoder(const VideoFileDecoder&) = delete;
    VideoFileDecoder& operator=(const VideoFileDecoder&) = delete;

    // The open container and the video stream's index in it, for reading its packets without
    // decoding them (a reader that does so does not call next()).
    AVFormatContext* container() const { return format_; }
    int streamIndex() const { return stream_; }
    // The stream's picture size, 0 where the file does not say.
    int width() const;
    int height() const;
    // Frames per second: the stream's average, else its base rate; 0 where neither is known.
    double frameRate() const;

    // Decodes the next picture; false at the end of the file or where it stops decoding.
    bool next();
    // Back to the first picture; false when the file cannot seek.
    bool rewind();
    // The picture the last successful next() decoded.
    DecodedPicture picture() const;
    // That picture as packed BGRA of width x height (scaled where the size differs), `stride`
    // bytes a row; false when it cannot be converted.
    bool pictureToBGRA(std::uint8_t* target, int stride, int width, int height);

  private:
    void release();

    AVFormatContext* format_ = nullptr;
    AVCodecContext* codec_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    int stream_ = -1;
    bool draining_ = false;
    PictureScaler scaler_;
};

}  // namespace vantry::platform::media
