// One screen recording while it runs: its screen source and sound sources, the capture threads
// that read them, the H.264 and AAC encoders and the fragmented MP4 they write. Internal to the
// Linux screen recorder (LinuxScreenRecorder.h), whose own thread opens, begins and finishes it.
#pragma once

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/frame.h>
}

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/media/EncoderChoice.h"
#include "platform/screen-recorder/CapturePlan.h"
#include "platform/screen-recorder/LinuxScreenRecorder.h"
#include "platform/screen-recorder/ScreenSource.h"

namespace vantry::platform::media {
class AacEncoder;
class H264Encoder;
class Muxer;
class PictureConverter;
class PulseCapture;
}  // namespace vantry::platform::media

namespace vantry::platform::screen_recording {

// One sound source: its capture, and what it has captured and the encoder has not yet taken.
struct AudioSource {
    std::string name;
    std::unique_ptr<media::PulseCapture> capture;
    AVAudioFifo* fifo = nullptr;
    bool placed = false;
    std::int64_t samplesRead = 0;  // at the output rate
    std::thread thread;

    ~AudioSource();
};

// One recording: its inputs, encoders, output file and capture threads.
struct RecordingSession {
    LinuxScreenRecorderOptions options;
    std::function<void(const std::string&)> log;
    std::atomic<bool> stopping{false};
    // Wall-clock microseconds of the stop request: frames grabbed after it are not written.
    const std::atomic<std::int64_t>* stopAt = nullptr;
    ScreenRecordingStats stats;  // the video thread's until it is joined

    std::unique_ptr<media::Muxer> output;
    std::mutex muxMutex;
    std::string writeError;  // first failure to write, under muxMutex; nothing is written after it
    // Told of the first write failure, from the capture thread that met it.
    std::function<void(const std::string&)> onWriteFailure;

    // video
    std::unique_ptr<ScreenSource> source;
    PortalScreenSource* portalSource = nullptr;  // `source` when it is the portal's
    std::unique_ptr<media::H264Encoder> videoEncoder;
    AVStream* videoStream = nullptr;
    std::unique_ptr<media::PictureConverter> converter;
    AVFrame* picture = nullptr;  // the converter's
    AVPixelFormat screenFormat = AV_PIX_FMT_NONE;
    int screenWidth = 0;
    int screenHeight = 0;
    // Wall-clock microseconds of the file's time 0, shared by the picture and the sound.
    std::int64_t origin = 0;
    std::int64_t lastIndex = -1;
    std::thread videoThread;

    // audio
    std::vector<std::unique_ptr<AudioSource>> audio;  // [0] drives the encoder; the rest mix in
    std::mutex audioMutex;
    std::unique_ptr<media::AacEncoder> audioEncoder;
    AVStream* audioStream = nullptr;
    std::vector<float> mixScratch;
    std::int64_t audioPts = 0;

    RecordingSession();
    ~RecordingSession();

    // The steps of opening, in this order; each the error text on failure.
    std::optional<std::string> openX11Screen(const std::string& display);
    std::optional<ScreenRecorderError> openPortal();
    // What size and preset the screen is encoded at on this machine.
    CapturePlan plan(media::H264Backend backend) const;
    // Sound that cannot be opened is logged and left out.
    void openAudio(bool mic);
    // Encoders and the file (stats.scratchFile, stats.videoBitRate set).
    std::optional<std::string> openOutput(const CapturePlan& plan, bool mic);
    // Sets the file's time 0 now and starts the capture threads.
    void begin();
    // Stops the capture threads and finishes the file, its video lasting until endMicros (wall
    // clock); the first write error, empty when none.
    std::string finish(std::int64_t endMicros);

  private:
    void noteWriteError(const std::string& what);
    template <class Encoder>
    void writePackets(Encoder& encoder, AVStream* stream);
    void encodeVideo(AVFrame* frame);
    // Repeats the last picture up to (not including) index `until`.
    void repeatLastFrameUntil(std::int64_t until);
    // The frame slot nearest to a wall-clock time.
    std::int64_t indexAt(std::int64_t micros) const;
    void videoLoop();
    // Takes one piece of a source into its FIFO; the first source then encodes what it can.
    void audioLoop(AudioSource& source, bool drives);
    // Encodes `count` samples of silence; under audioMutex.
    void encodeSilence(std::int64_t count);
    // Takes one encoder frame from the first source, adds the others; under audioMutex.
    void encodeAudioFrame(bool partial);

    // The colour conversion of the screen's pictures into the encoder's (YUV 4:2:0, BT.709, at
    // the file's size): any size and RGB layout the screen hands over, changes included.
    bool openConverter(int width, int height);
    bool convertPicture(const ScreenPicture& shot);
};

}  // namespace vantry::platform::screen_recording
