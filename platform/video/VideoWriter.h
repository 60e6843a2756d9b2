// H.264 / MP4 writer over the media layer (MP4 muxer; libx264, NVENC or VA-API; the picture
// converter: BT.709, limited range, tagged so).
//
// Writes one video track, yuv420p, constant frame rate, SPS/PPS in the avcC box,
// index (moov) in front of the media data, no audio. Frames arrive as 8-bit BGRA
// (premultiplied ARGB32 in memory, rows top to bottom); frame n is presented at
// n / fps. Every failure is thrown as VideoWriterError with a readable message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "platform/media/EncoderChoice.h"

namespace vantry::platform {

class VideoWriterError : public std::runtime_error {
  public:
    enum class Kind {
        Settings,  // a setting out of range
        Encoder,   // the H.264 encoder or its stream could not be set up or failed
        File,      // the file could not be created, written or closed
        Usage,     // calls out of order (frame numbers, append after finish)
    };
    explicit VideoWriterError(const std::string& message, Kind kind = Kind::File)
        : std::runtime_error(message), kind_(kind) {}
    Kind kind() const { return kind_; }

  private:
    Kind kind_;
};

struct VideoWriterSettings {
    int width = 1920;
    int height = 1080;
    int fps = 30;
    // Target average bit rate in bits per second; the encoder is held to it
    // with a VBV cap so that short files do not overshoot.
    std::int64_t averageBitRate = 16'000'000;
    // Longest distance between key frames in frames (none: the encoder's default).
    std::optional<int> maxKeyFrameInterval;
    // x264 preset; the default keeps up with real-time rendering at 1080p.
    std::string preset = kDefaultPreset;
    // Which H.264 encoder: automatic takes a hardware one where it works (the preset is
    // x264's alone). An explicit hardware choice this machine cannot serve is an Encoder error.
    media::H264Choice encoder = media::H264Choice::automatic;

    static constexpr const char* kDefaultPreset = "veryfast";
};

// The writer's own frame memory, BGRA, rows top to bottom. `stride` is at least
// width * 4 and a multiple of 64; the memory stays valid until finish() or
// destruction, and keeps the last frame's pixels until they are overwritten.
// A QImage may wrap it directly (Format_ARGB32_Premultiplied).
struct VideoFrameMemory {
    std::uint8_t* data = nullptr;
    int width = 0;
    int height = 0;
    std::ptrdiff_t stride = 0;
};

class VideoWriter {
  public:
    // Opens `path` for writing (an existing file is overwritten) and prepares the
    // encoder. Width and height must be even and positive, fps positive, bit rate
    // positive. Throws VideoWriterError.
    VideoWriter(const std::filesystem::path& path, const VideoWriterSettings& settings);
    ~VideoWriter();  // finishes quietly when finish() was not called

    VideoWriter(const VideoWriter&) = delete;
    VideoWriter& operator=(const VideoWriter&) = delete;

    const VideoWriterSettings& settings() const;
    const std::filesystem::path& path() const;

    // Encodes one BGRA frame presented at frameIndex / fps. frameIndex must be
    // greater than the previous one (gaps are allowed: a skipped frame keeps its
    // number missing). `stride` is the bytes per row of `pixels`.
    void appendBGRA(const std::uint8_t* pixels, std::ptrdiff_t stride, std::int64_t frameIndex);

    // Draw-in-place path: fill frameMemory(), then appendFrameMemory(n).
    VideoFrameMemory frameMemory();
    void appendFrameMemory(std::int64_t frameIndex);

    // Flushes the encoder and writes the index. After finish() no more frames
    // may be appended; a second call does nothing. Throws VideoWriterError.
    void finish();

    bool finished() const;
    // The encoder in use.
    media::H264Backend encoderBackend() const;
    std::int64_t framesWritten() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vantry::platform
