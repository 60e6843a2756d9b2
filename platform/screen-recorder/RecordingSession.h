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
}  // namespace vantry::platform::media

#include "platform/audio-mix/ProgrammeSound.h"

namespace vantry::platform::screen_recording {

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

    // audio: the programme mix, through a tap of its own
    std::shared_ptr<ProgrammeSound> sound;
    std::shared_ptr<ProgrammeSound::Tap> tap;
    bool micInMix = false;
    AVAudioFifo* soundFifo = nullptr;  // mixed sound the encoder has not yet taken
    bool placed = false;               // the first block is in place on the file's clock
    std::int64_t samplesHeard = 0;     // of the mix, for the closing report
    std::unique_ptr<media::AacEncoder> audioEncoder;
    AVStream* audioStream = nullptr;
    std::int64_t audioPts = 0;
    std::thread audioThread;

    RecordingSession();
    ~RecordingSession();

    // The steps of opening, in this order; each the error text on failure.
    std::optional<std::string> openX11Screen(const std::string& display);
    std::optional<ScreenRecorderError> openPortal();
    // What size and preset the screen is encoded at on this machine.
    CapturePlan plan(media::H264Backend backend) const;
    // The programme mix (the options' or one of its own); without a sound server logged and
    // left out.
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
    // Takes the mix's blocks until the stop, placing the first by its stamp, and encodes them.
    void audioLoop();
    // One block into the FIFO (the first placed on the file's clock), then what the encoder can take.
    void takeBlock(const ProgrammeSound::Block& block, bool closing);
    // Encodes `count` samples of silence.
    void encodeSilence(std::int64_t count);
    // Takes one encoder frame (or what is left, partial) from the FIFO.
    void encodeAudioFrame(bool partial);

    // The colour conversion of the screen's pictures into the encoder's (YUV 4:2:0, BT.709, at
    // the file's size): any size and RGB layout the screen hands over, changes included.
    bool openConverter(int width, int height);
    bool convertPicture(const ScreenPicture& shot);
};

}  // namespace vantry::platform::screen_recording
