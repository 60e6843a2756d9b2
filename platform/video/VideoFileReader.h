// Reads an MP4/H.264 file back with libavformat and libavcodec: stream facts,
// packet time stamps and key-frame flags, the top-level box order, and decoded
// frames as packed BGRA. Used by tests and tools that check written videos.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace vantry::platform {

struct VideoPacketInfo {
    std::int64_t pts = 0;   // in the stream's time base
    double ptsSeconds = 0;  // pts converted to seconds
    bool keyFrame = false;
    std::int64_t sizeBytes = 0;
};

struct VideoFileInfo {
    std::string codecName;    // e.g. "h264"
    std::string pixelFormat;  // e.g. "yuv420p"
    int width = 0;
    int height = 0;
    int videoStreams = 0;
    int audioStreams = 0;
    int otherStreams = 0;
    int timeBaseNum = 0;
    int timeBaseDen = 0;
    int frameRateNum = 0;  // the stream's average frame rate
    int frameRateDen = 0;
    bool hasAvcC = false;                    // SPS/PPS stored in the sample description (global header)
    std::vector<std::string> topLevelBoxes;  // in file order, e.g. ftyp, moov, mdat
    std::int64_t fileSizeBytes = 0;
    std::vector<VideoPacketInfo> packets;  // video packets in presentation order

    bool moovBeforeMdat() const;
    // Bits per second of the media: video packet bytes over the presented duration
    // (frame count / frame rate). 0 without packets.
    double mediaBitRate() const;
    // Bits per second of the whole file over the same duration.
    double fileBitRate() const;
};

struct DecodedVideoFrame {
    std::int64_t index = 0;  // position in presentation order, from 0
    double ptsSeconds = 0;
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bgra;  // packed, width * 4 bytes per row, top row first

    // B, G, R of pixel (x, y), y counted from the top row.
    std::uint8_t b(int x, int y) const { return bgra[(std::size_t(y) * width + x) * 4 + 0]; }
    std::uint8_t g(int x, int y) const { return bgra[(std::size_t(y) * width + x) * 4 + 1]; }
    std::uint8_t r(int x, int y) const { return bgra[(std::size_t(y) * width + x) * 4 + 2]; }
};

// Throws VideoWriterError (from VideoWriter.h) when the file cannot be read.
VideoFileInfo probeVideoFile(const std::filesystem::path& path);

// Decodes every frame and keeps those for which `want(index)` is true.
std::vector<DecodedVideoFrame> decodeVideoFrames(const std::filesystem::path& path,
                                                 const std::function<bool(std::int64_t index)>& want);

}  // namespace vantry::platform
