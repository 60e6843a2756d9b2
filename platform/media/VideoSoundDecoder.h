// The sound of a video file, for playing beside its pictures: the file's best audio stream
// decoded and resampled (libswresample) to 48 kHz planar stereo float, read out in pieces of
// any size. The file loops: at its end the sound goes on from the start without a gap. A file
// without sound, or one whose sound cannot be decoded, reads as silence. One thread at a time.
#pragma once

#include <filesystem>
#include <vector>

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct SwrContext;

namespace vantry::platform::media {

class VideoSoundDecoder {
  public:
    static constexpr int kRate = 48000;

    // Never throws: a file that cannot be opened, or has no audio stream, has no sound.
    explicit VideoSoundDecoder(const std::filesystem::path& file);
    ~VideoSoundDecoder();
    VideoSoundDecoder(const VideoSoundDecoder&) = delete;
    VideoSoundDecoder& operator=(const VideoSoundDecoder&) = delete;

    bool hasSound() const { return codec_ != nullptr; }
    // Fills `frames` samples per channel with the sound that follows the last read, looped at
    // the file's end; silence where there is none. Returns how many frames are real sound.
    int read(float* left, float* right, int frames);
    // Back to the start of the sound.
    void restart();

  private:
    bool decodeMore();  // appends to the held samples; false at the end of the file
    bool rewindFile();
    void release();

    AVFormatContext* format_ = nullptr;
    AVCodecContext* codec_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    SwrContext* resampler_ = nullptr;
    int stream_ = -1;
    bool draining_ = false;
    std::vector<float> left_, right_;  // decoded, not yet read
    std::size_t head_ = 0;
};

}  // namespace vantry::platform::media
