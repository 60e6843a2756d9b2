// A video file's wall pictures by time, for a renderer that asks for the wall at times of its
// own (an export's frame n at n / 30 s) rather than as they come: the file loops, and the
// picture at time t is the last one presented at or before t. Pictures are kLivePictureWidth x
// kLivePictureHeight, premultiplied ARGB32, the video's shape kept. One thread at a time.
#pragma once

#include <QImage>
#include <filesystem>
#include <memory>
#include <string>

namespace vantry::platform::media {
class VideoFileDecoder;
}

namespace vantry::platform::wall {

class VideoWallFrames {
  public:
    // Null with `error` set ("cannot play 'clip.mp4': it is a named pipe") when the file is no
    // regular file or has no pictures.
    static std::unique_ptr<VideoWallFrames> open(const std::filesystem::path& file, std::string& error);
    ~VideoWallFrames();
    VideoWallFrames(const VideoWallFrames&) = delete;
    VideoWallFrames& operator=(const VideoWallFrames&) = delete;

    // The file's name, as the wall calls it.
    std::string name() const;
    // The picture at `seconds` from the start, the video looped (negative times count as 0).
    // Where the file stops decoding, the last picture it gave.
    QImage pictureAt(double seconds);

  private:
    VideoWallFrames(std::filesystem::path file, std::unique_ptr<media::VideoFileDecoder> decoder);
    bool restart();
    void takePending();
    void decodeNext();

    std::filesystem::path file_;
    std::unique_ptr<media::VideoFileDecoder> decoder_;
    double period_;
    QImage shown_;
    double shownAt_ = -1;   // the time of shown_; -1: none yet
    bool pending_ = false;  // the decoder holds the next picture, not yet converted
    double pendingAt_ = 0;  // its time
    double first_ = 0;      // the presentation time of the pass's first picture
    double length_ = 0;     // one pass, once the end was reached; 0 before
};

}  // namespace vantry::platform::wall
