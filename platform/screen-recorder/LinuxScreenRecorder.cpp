#include "platform/screen-recorder/LinuxScreenRecorder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/imgutils.h>
#include <libavutil/time.h>
}

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/files/SafeOutput.h"
#include "platform/media/AacEncoder.h"
#include "platform/media/H264Encoder.h"
#include "platform/media/MediaRuntime.h"
#include "platform/media/Muxer.h"
#include "platform/media/PictureConverter.h"
#include "platform/media/PulseCapture.h"
#include "platform/screen-recorder/CapturePlan.h"
#include "platform/screen-recorder/FragmentTrim.h"
#include "platform/screen-recorder/PipeWireCapture.h"
#include "platform/screen-recorder/PortalScreenCast.h"
#include "platform/screen-recorder/SafeMove.h"

namespace vantry::platform {
namespace fs = std::filesystem;

namespace {

using media::errorText;
constexpr int kSampleRate = media::kSampleRate;
constexpr std::int64_t kAudioBitRate = 160'000;
// A mixed-in source (the microphone) may run ahead of the game audio by this much at most.
constexpr int kMaxMixBacklog = kSampleRate / 2;
// 50 ms per read: the server's default would hand over seconds at a time.
constexpr int kSoundPieceMs = 50;

int interruptWhenStopping(void* flag) {
    return static_cast<std::atomic<bool>*>(flag)->load() ? 1 : 0;
}

// Opens the X screen of `display`; returns nullptr with `error` set on failure.
AVFormatContext* openScreen(const std::string& display, int fps, std::atomic<bool>* stopFlag,
                            std::string& error) {
    media::initMedia();
    const AVInputFormat* format = av_find_input_format("x11grab");
    if (!format) {
        error = "FFmpeg has no 'x11grab' input";
        return nullptr;
    }
    AVDictionary* options = nullptr;
    if (fps > 0) {
        av_dict_set_int(&options, "framerate", fps, 0);
        av_dict_set(&options, "draw_mouse", "1", 0);
    }
    AVFormatContext* context = avformat_alloc_context();
    if (stopFlag) context->interrupt_callback = AVIOInterruptCB{interruptWhenStopping, stopFlag};
    const int rc = avformat_open_input(&context, display.c_str(), format, &options);
    av_dict_free(&options);
    if (rc < 0) {
        error = errorText(rc);
        return nullptr;
    }
    return context;
}

// One picture of the screen, valid until the source's next call.
struct ScreenPicture {
    std::uint8_t* planes[4] = {};
    int strides[4] = {};
    int width = 0;
    int height = 0;
    AVPixelFormat format = AV_PIX_FMT_NONE;
    std::int64_t capturedAtUs = 0;  // wall clock
};

// Where the pictures come from.
class ScreenSource {
  public:
    virtual ~ScreenSource() = default;
    // Waits for the next picture; false at the end (`error` set unless the recording stops).
    virtual bool next(ScreenPicture& picture, std::string& error) = 0;
};

// x11grab: pictures at the grab's own rate, stamped with the grab's time.
class X11ScreenSource : public ScreenSource {
  public:
    explicit X11ScreenSource(AVFormatContext* screen) : screen_(screen), packet_(av_packet_alloc()) {}
    ~X11ScreenSource() override {
        av_packet_free(&packet_);
        avformat_close_input(&screen_);
    }
    bool next(ScreenPicture& picture, std::string& error) override {
        av_packet_unref(packet_);
        int rc;
        do rc = av_read_frame(screen_, packet_);
        while (rc == AVERROR(EAGAIN));
        if (rc < 0) {
            error = errorText(rc);
            return false;
        }
        const AVCodecParameters* par = screen_->streams[0]->codecpar;
        picture.width = par->width;
        picture.height = par->height;
        picture.format = static_cast<AVPixelFormat>(par->format);
        av_image_fill_arrays(picture.planes, picture.strides, packet_->data, picture.format, picture.width,
                             picture.height, 1);
        picture.capturedAtUs =
            packet_->pts == AV_NOPTS_VALUE
                ? av_gettime()
                : av_rescale_q(packet_->pts, screen_->streams[0]->time_base, AVRational{1, 1'000'000});
        return true;
    }

  private:
    AVFormatContext* screen_;
    AVPacket* packet_;
};

AVPixelFormat avFormatOf(PixelLayout layout) {
    switch (layout) {
        case PixelLayout::bgrx:
            return AV_PIX_FMT_BGR0;
        case PixelLayout::bgra:
            return AV_PIX_FMT_BGRA;
        case PixelLayout::rgbx:
            return AV_PIX_FMT_RGB0;
        case PixelLayout::rgba:
            return AV_PIX_FMT_RGBA;
        case PixelLayout::xrgb:
            return AV_PIX_FMT_0RGB;
        case PixelLayout::xbgr:
            return AV_PIX_FMT_0BGR;
        case PixelLayout::argb:
            return AV_PIX_FMT_ARGB;
        case PixelLayout::abgr:
            return AV_PIX_FMT_ABGR;
        case PixelLayout::rgb:
            return AV_PIX_FMT_RGB24;
        case PixelLayout::bgr:
            return AV_PIX_FMT_BGR24;
    }
    return AV_PIX_FMT_NONE;
}

// The portal's PipeWire stream: a compositor sends a picture only when the screen changes, so
// the newest one is taken at every frame slot of the file's clock.
class PortalScreenSource : public ScreenSource {
  public:
    PortalScreenSource(std::unique_ptr<PortalScreenCast> portal, std::unique_ptr<PipeWireCapture> capture,
                       int fps, const std::atomic<bool>& stopping)
        : portal_(std::move(portal)), capture_(std::move(capture)), fps_(fps), stopping_(stopping) {}
    // Stream first: the portal session's end would otherwise cut it off under the reader.
    ~PortalScreenSource() override {
        capture_.reset();
        portal_.reset();
    }

    // The size and layout of the newest picture.
    bool peek(ScreenPicture& picture) {
        if (!capture_->copyNewest(newest_)) return false;
        describe(picture);
        return true;
    }
    // The file's time 0: slot k is at origin + k / fps.
    void setOrigin(std::int64_t origin) { origin_ = origin; }

    bool next(ScreenPicture& picture, std::string& error) override {
        if (slot_ < 0) slot_ = std::max<std::int64_t>((av_gettime() - origin_) * fps_ / 1'000'000 + 1, 0);
        const std::int64_t due = origin_ + slot_ * 1'000'000 / fps_;
        for (std::int64_t now = av_gettime(); now < due && !stopping_; now = av_gettime())
            av_usleep(unsigned(std::min<std::int64_t>(due - now, 20'000)));
        if (stopping_) return false;
        const std::string failure = capture_->error();
        if (!failure.empty()) {
            error = failure;
            return false;
        }
        capture_->copyNewest(newest_);
        describe(picture);
        picture.capturedAtUs = due;
        ++slot_;
        return true;
    }

  private:
    void describe(ScreenPicture& picture) const {
        picture.planes[0] = const_cast<std::uint8_t*>(newest_.pixels.data());
        picture.strides[0] = newest_.stride;
        picture.width = newest_.width;
        picture.height = newest_.height;
        picture.format = avFormatOf(newest_.layout);
    }

    std::unique_ptr<PortalScreenCast> portal_;
    std::unique_ptr<PipeWireCapture> capture_;
    int fps_;
    const std::atomic<bool>& stopping_;
    CapturedPicture newest_;
    std::int64_t origin_ = 0;
    std::int64_t slot_ = -1;
};

// One sound source: its capture, and what it has captured and the encoder has not yet taken.
struct AudioSource {
    std::string name;
    std::unique_ptr<media::PulseCapture> capture;
    AVAudioFifo* fifo = nullptr;
    bool placed = false;
    std::int64_t samplesRead = 0;  // at the output rate
    std::thread thread;

    ~AudioSource() {
        if (fifo) av_audio_fifo_free(fifo);
    }
};

// One recording: its inputs, encoders, output file and capture threads.
struct Session {
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

    ~Session() {
        audioEncoder.reset();
        audio.clear();
        videoEncoder.reset();
        source.reset();
        output.reset();
    }

    void noteWriteError(const std::string& what) {
        if (writeError.empty()) writeError = what;
    }

    template <class Encoder>
    void writePackets(Encoder& encoder, AVStream* stream) {
        AVPacket* packet = av_packet_alloc();
        std::string failure;
        media::drainPackets(encoder, packet, [&](AVPacket* p) {
            std::lock_guard lock(muxMutex);
            if (!writeError.empty()) {
                av_packet_unref(p);
                return 0;
            }
            const int rc = output->write(p, encoder.context(), stream);
            if (rc < 0) {
                noteWriteError("cannot write the recording: " + errorText(rc));
                failure = writeError;
            }
            return 0;
        });
        av_packet_free(&packet);
        if (!failure.empty()) {
            // The file cannot grow any more: the capture ends now, not at the requested time.
            stopping = true;
            if (onWriteFailure) onWriteFailure(failure);
        }
    }

    void encodeVideo(AVFrame* frame) {
        if (videoEncoder->send(frame) < 0) return;
        writePackets(*videoEncoder, videoStream);
    }

    // Repeats the last picture up to (not including) index `until`.
    void repeatLastFrameUntil(std::int64_t until) {
        if (lastIndex < 0) return;
        for (std::int64_t i = lastIndex + 1; i < until; ++i) {
            picture->pts = i;
            encodeVideo(picture);
            ++stats.framesRepeated;
            ++stats.framesWritten;
        }
        if (until - 1 > lastIndex) lastIndex = until - 1;
    }

    // The frame slot nearest to a wall-clock time.
    std::int64_t indexAt(std::int64_t micros) const {
        return std::max<std::int64_t>(((micros - origin) * options.fps + 500'000) / 1'000'000, 0);
    }

    void videoLoop() {
        ScreenPicture shot;
        std::string error;
        while (!stopping) {
            if (!source->next(shot, error)) {
                if (!stopping) log("screen capture ended early: " + error);
                break;
            }
            if (shot.capturedAtUs >= stopAt->load()) break;
            const std::int64_t index = indexAt(shot.capturedAtUs);
            if (index <= lastIndex) continue;
            repeatLastFrameUntil(index);
            // The first picture also stands for the slots before it.
            if (lastIndex < 0) stats.framesRepeated += index;
            // A window's picture may change its size on the way: it is scaled to the file's.
            if (!converter->convert(shot.planes, shot.strides, shot.width, shot.height, shot.format))
                continue;
            for (std::int64_t i = lastIndex + 1; i <= index; ++i) {
                picture->pts = i;
                encodeVideo(picture);
                ++stats.framesWritten;
            }
            lastIndex = index;
        }
    }

    // Takes one piece of a source into its FIFO; the first source then encodes what it can.
    void audioLoop(AudioSource& source, bool drives) {
        media::PulseCapture::Piece piece;
        while (source.capture->read(piece)) {
            std::lock_guard lock(audioMutex);
            source.samplesRead += piece.samples;
            const float* planes[2] = {piece.left, piece.right};
            av_audio_fifo_write(source.fifo, reinterpret_cast<void**>(const_cast<float**>(planes)),
                                piece.samples);
            if (drives && !source.placed) {
                // The sound starts where it was captured on the file's clock: silence before
                // it, or the part captured before time 0 dropped.
                source.placed = true;
                const std::int64_t offset = (piece.capturedAtUs - origin) * kSampleRate / 1'000'000;
                if (offset < 0)
                    av_audio_fifo_drain(source.fifo, int(std::min<std::int64_t>(-offset, piece.samples)));
                if (offset > 0) encodeSilence(std::min<std::int64_t>(offset, std::int64_t(kSampleRate) * 10));
            }
            if (!drives) {
                const int excess = av_audio_fifo_size(source.fifo) - kMaxMixBacklog;
                if (excess > 0) av_audio_fifo_drain(source.fifo, excess);
                continue;
            }
            while (av_audio_fifo_size(source.fifo) >= audioEncoder->frameSize()) encodeAudioFrame(false);
        }
        if (!source.capture->error().empty())
            log("sound from '" + source.name + "' ended early: " + source.capture->error());
    }

    // Encodes `count` samples of silence; under audioMutex.
    void encodeSilence(std::int64_t count) {
        while (count > 0) {
            const int n = int(std::min<std::int64_t>(count, audioEncoder->frameSize()));
            if (audioEncoder->sendSilence(n, audioPts) < 0) return;
            audioPts += n;
            count -= n;
            writePackets(*audioEncoder, audioStream);
        }
    }

    // Takes one encoder frame from the first source, adds the others; under audioMutex.
    void encodeAudioFrame(bool partial) {
        const int size = audioEncoder->frameSize();
        const int n = partial ? std::min(av_audio_fifo_size(audio[0]->fifo), size) : size;
        if (n <= 0) return;
        AVFrame* frame = audioEncoder->frame();
        if (!frame) return;
        av_audio_fifo_read(audio[0]->fifo, reinterpret_cast<void**>(frame->data), n);
        for (std::size_t s = 1; s < audio.size(); ++s) {
            const int m = std::min(av_audio_fifo_size(audio[s]->fifo), n);
            if (m <= 0) continue;
            mixScratch.assign(std::size_t(m) * 2, 0.0f);
            void* planes[2] = {mixScratch.data(), mixScratch.data() + m};
            av_audio_fifo_read(audio[s]->fifo, planes, m);
            for (int c = 0; c < 2; ++c) {
                float* dst = reinterpret_cast<float*>(frame->data[c]);
                const float* add = static_cast<const float*>(planes[c]);
                for (int i = 0; i < m; ++i) dst[i] = std::clamp(dst[i] + add[i], -1.0f, 1.0f);
            }
        }
        if (audioEncoder->sendFrame(n, audioPts) < 0) return;
        audioPts += n;
        writePackets(*audioEncoder, audioStream);
    }
};

// Hands the outcome to the caller's completion, if it gave one.
void complete(const ScreenRecorder::Completion& handler, std::optional<ScreenRecorderError> error) {
    if (handler) handler(std::move(error));
}

void complete(const ScreenRecorder::Completion& handler, const std::optional<std::string>& error) {
    std::optional<ScreenRecorderError> outcome;
    if (error) outcome = ScreenRecorderError{*error, false};
    complete(handler, std::move(outcome));
}

}  // namespace

struct LinuxScreenRecorder::Impl {
    LinuxScreenRecorderOptions options;
    std::mutex mutex;  // guards the settings below and `last`
    bool microphone = false;
    fs::path scratchFolder;
    ScreenRecordingStats last;
    bool availableOnce = false;

    // The recorder's own thread: starts and stops run here, in order.
    std::mutex queueMutex;
    std::condition_variable queueChanged;
    std::deque<std::function<void()>> queue;
    bool quitting = false;
    std::thread worker;

    std::unique_ptr<Session> session;  // worker thread only
    FailureHandler failureHandler;     // under mutex
    std::atomic<std::int64_t> stopRequestedAt{INT64_MAX};

    void log(const std::string& line) const {
        if (options.log) {
            options.log(line);
        } else {
            std::fprintf(stderr, "screen recorder: %s\n", line.c_str());
        }
    }

    void post(std::function<void()> task) {
        std::lock_guard lock(queueMutex);
        queue.push_back(std::move(task));
        queueChanged.notify_one();
    }

    void run() {
        for (;;) {
            std::function<void()> task;
            {
                std::unique_lock lock(queueMutex);
                queueChanged.wait(lock, [this] { return quitting || !queue.empty(); });
                if (queue.empty()) return;
                task = std::move(queue.front());
                queue.pop_front();
            }
            task();
        }
    }

    std::optional<ScreenRecorderError> start();
    // Finishes the recording and moves it to outputFile; the error text on failure.
    std::optional<std::string> stopAndSave(const fs::path& outputFile, std::int64_t requestedAt);
    // Stops and finishes the file under its scratch name, its video lasting until endMicros
    // (wall clock); returns the first write error.
    std::string finish(std::int64_t endMicros);
    // The steps of start(): each the error text on failure.
    std::optional<std::string> openScreen(Session& s, const std::string& display);
    std::optional<ScreenRecorderError> openPortal(Session& s);
    void openAudio(Session& s, bool mic);
    std::optional<std::string> openOutput(Session& s, const CapturePlan& plan, bool mic);
    // What size and preset the screen is encoded at on this machine.
    CapturePlan plan(const Session& s, media::H264Backend backend) const;
};

void LinuxScreenRecorder::Impl::openAudio(Session& s, bool mic) {
    if (!options.captureAudio) return;
    std::vector<std::string> names{options.monitorSource};
    if (mic) names.push_back(options.microphoneSource);
    for (const auto& name : names) {
        auto source = std::make_unique<AudioSource>();
        source->name = name;
        try {
            source->capture = std::make_unique<media::PulseCapture>(name, kSoundPieceMs, s.stopping);
        } catch (const media::MediaError& e) {
            log(e.what());
            continue;
        }
        source->fifo = av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, 2, kSampleRate);
        if (source->fifo) s.audio.push_back(std::move(source));
    }
    if (s.audio.empty()) log("no sound server reachable: this recording has video only (no sound)");
}

std::optional<std::string> LinuxScreenRecorder::Impl::openScreen(Session& s, const std::string& display) {
    std::string error;
    AVFormatContext* screen = vantry::platform::openScreen(display, options.fps, &s.stopping, error);
    if (!screen) return "Cannot capture the screen of display " + display + ": " + error + ".";
    s.source = std::make_unique<X11ScreenSource>(screen);
    const AVCodecParameters* screenPar = screen->streams[0]->codecpar;
    s.screenFormat = static_cast<AVPixelFormat>(screenPar->format);
    s.screenWidth = screenPar->width;
    s.screenHeight = screenPar->height;
    if ((s.screenWidth & ~1) <= 0 || (s.screenHeight & ~1) <= 0)
        return "The screen of display " + display + " has no size.";
    return std::nullopt;
}

std::optional<ScreenRecorderError> LinuxScreenRecorder::Impl::openPortal(Session& s) {
    const auto failure = [](const std::string& what) {
        return ScreenRecorderError{"Cannot capture the screen through the desktop portal: " + what + ".",
                                   false};
    };
    auto portal = std::make_unique<PortalScreenCast>();
    const fs::path settings =
        options.portalSettingsFile.empty() ? screenCastSettingsFile() : options.portalSettingsFile;
    const std::string token = loadScreenCastRestoreToken(settings);
    const PortalStart started = portal->start(token, options.portalDialogTimeoutMs);
    if (started.status == PortalStart::Status::cancelled) return ScreenRecorderError{kCancelledText, true};
    if (started.status != PortalStart::Status::started) return failure(started.error);
    // The desktop asks only the first time: its token picks the same source next time.
    if (!started.restoreToken.empty() && started.restoreToken != token) {
        try {
            saveScreenCastRestoreToken(settings, started.restoreToken);
        } catch (const fs::filesystem_error& e) {
            log("cannot keep the screen choice in " + settings.string() + ": " + e.code().message());
        }
    }
    std::unique_ptr<PipeWireCapture> capture;
    try {
        capture = std::make_unique<PipeWireCapture>(started.pipeWireFd, started.streams.front().nodeId);
    } catch (const std::runtime_error& e) {
        return failure(e.what());
    }
    std::string error;
    if (!capture->waitForFirstPicture(10'000, error)) return failure(error);
    auto source =
        std::make_unique<PortalScreenSource>(std::move(portal), std::move(capture), options.fps, s.stopping);
    ScreenPicture first;
    source->peek(first);
    s.screenFormat = first.format;
    s.screenWidth = first.width;
    s.screenHeight = first.height;
    s.portalSource = source.get();
    s.source = std::move(source);
    if ((s.screenWidth & ~1) <= 0 || (s.screenHeight & ~1) <= 0)
        return failure("the picture from the portal has no size");
    return std::nullopt;
}

CapturePlan LinuxScreenRecorder::Impl::plan(const Session& s, media::H264Backend backend) const {
    // A hardware encoder keeps up with any screen; x264 on a screen too big for this machine
    // is scaled down (or encoded faster) up front, rather than losing most of its frames as
    // repeats.
    if (backend != media::H264Backend::x264)
        return CapturePlan{s.screenWidth & ~1, s.screenHeight & ~1, options.preset, {}};
    const unsigned cores = options.encoderCores > 0 ? unsigned(options.encoderCores)
                                                    : std::max(1u, std::thread::hardware_concurrency());
    return planCapture(s.screenWidth, s.screenHeight, options.fps, cores, options.preset);
}

std::optional<std::string> LinuxScreenRecorder::Impl::openOutput(Session& s, const CapturePlan& plan,
                                                                 bool mic) {
    const std::string file = s.stats.scratchFile.string();
    try {
        s.output = std::make_unique<media::Muxer>("mp4", file);
        media::H264Settings h264;
        h264.width = plan.width;
        h264.height = plan.height;
        h264.fps = options.fps;
        h264.bitRate = s.stats.videoBitRate;
        h264.keyFrameInterval = 2 * options.fps;  // a key frame, and so a fragment, every 2 s
        h264.fixedKeyFrames = true;
        h264.closedGop = true;
        h264.allThreads = true;
        h264.preset = plan.preset;
        h264.globalHeader = s.output->wantsGlobalHeader();
        h264.backend = s.stats.encoder;
        s.videoEncoder = std::make_unique<media::H264Encoder>(h264);
        s.videoStream = s.output->addStream(s.videoEncoder->context());
    } catch (const media::MediaError& e) {
        return "Cannot start the recording: " + std::string(e.what()) + ".";
    }

    const char* const cannotConvert = "Cannot convert the screen's pixel format for the encoder.";
    if (!media::PictureConverter::accepts(s.screenFormat)) return cannotConvert;
    try {
        s.converter = std::make_unique<media::PictureConverter>(plan.width, plan.height);
    } catch (const media::MediaError&) {
        return cannotConvert;
    }
    s.picture = s.converter->frame();

    if (!s.audio.empty()) {
        try {
            s.audioEncoder = std::make_unique<media::AacEncoder>(
                media::AacSettings{kAudioBitRate, s.output->wantsGlobalHeader()});
            s.audioStream = s.output->addStream(s.audioEncoder->context());
            s.stats.hasAudio = true;
            s.stats.microphoneMixed =
                mic && std::any_of(s.audio.begin(), s.audio.end(),
                                   [this](const auto& src) { return src->name == options.microphoneSource; });
        } catch (const media::MediaError&) {
            log("the AAC encoder is not available: this recording has video only (no sound)");
            s.audioEncoder.reset();
            s.audio.clear();
        }
    }

    int rc = s.output->openOutput();
    if (rc < 0) return "Cannot create the recording '" + file + "': " + errorText(rc) + ".";
    // Each finished fragment goes to the file at once, not when the write buffer fills.
    s.output->context()->flags |= AVFMT_FLAG_FLUSH_PACKETS;
    // An empty index up front and a self-contained fragment at every key frame.
    rc = s.output->writeHeader({{"movflags", "+frag_keyframe+empty_moov+default_base_moof"}});
    if (rc < 0) {
        s.output.reset();
        std::error_code ignored;
        fs::remove(file, ignored);
        return "Cannot write the recording: " + errorText(rc) + ".";
    }
    return std::nullopt;
}

std::optional<ScreenRecorderError> LinuxScreenRecorder::Impl::start() {
    const auto failed = [](std::string what) {
        return std::optional<ScreenRecorderError>(ScreenRecorderError{std::move(what), false});
    };
    if (session) return failed("A screen recording is already running.");
    bool mic;
    fs::path folder;
    {
        std::lock_guard lock(mutex);
        mic = microphone;
        folder = scratchFolder.empty() ? fs::temp_directory_path() : scratchFolder;
    }
    std::string why;
    const CapturePath path = capturePath(options, &why);
    const std::string display = displayName(options);
    if (path == CapturePath::none) {
        const bool wayland =
            isWaylandSession(std::getenv("XDG_SESSION_TYPE"), std::getenv("WAYLAND_DISPLAY"));
        if (options.source == CaptureSourceChoice::portal ||
            (options.source == CaptureSourceChoice::automatic && options.display.empty() && wayland))
            return failed("Cannot capture the screen through the desktop portal: " + why + ".");
        return failed("There is no X display to record.");
    }

    auto s = std::make_unique<Session>();
    s->options = options;
    s->stats.path = path;
    s->log = [this](const std::string& line) { log(line); };
    s->onWriteFailure = [this](const std::string& what) {
        log(what + "; the recording stops now");
        post([this, what] {
            FailureHandler handler;
            {
                std::lock_guard lock(mutex);
                handler = failureHandler;
            }
            if (handler) handler(ScreenRecorderError{what, false});
        });
    };
    stopRequestedAt = INT64_MAX;
    s->stopAt = &stopRequestedAt;

    try {
        s->stats.encoder = media::pickH264(options.encoder);
    } catch (const media::MediaError& e) {
        return failed(std::string(e.what()) + ".");
    }
    if (path == CapturePath::portal) {
        if (auto error = openPortal(*s)) return error;
    } else if (auto error = openScreen(*s, display)) {
        return failed(*error);
    }
    const CapturePlan capture = plan(*s, s->stats.encoder);
    if (!capture.note.empty()) log(capture.note);
    openAudio(*s, mic);

    std::error_code ec;
    fs::create_directories(folder, ec);
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    s->stats.scratchFile =
        folder /
        ("CreatorRec_" + std::to_string(std::chrono::duration_cast<std::chrono::seconds>(now).count()) + "_" +
         std::to_string(::getpid()) + ".partial.mp4");
    s->stats.width = capture.width;
    s->stats.height = capture.height;
    s->stats.videoBitRate = bitRateFor(capture.width, capture.height, options.fps);
    if (auto error = openOutput(*s, capture, mic)) return failed(*error);

    {
        std::lock_guard lock(mutex);
        last = s->stats;
    }
    Session* raw = s.get();
    raw->origin = av_gettime();
    if (raw->portalSource) raw->portalSource->setOrigin(raw->origin);
    raw->videoThread = std::thread([raw] { raw->videoLoop(); });
    for (std::size_t i = 0; i < raw->audio.size(); ++i) {
        AudioSource* src = raw->audio[i].get();
        src->thread = std::thread([raw, src, i] { raw->audioLoop(*src, i == 0); });
    }
    session = std::move(s);
    return std::nullopt;
}

std::string LinuxScreenRecorder::Impl::finish(std::int64_t endMicros) {
    Session& s = *session;
    s.stopping = true;
    if (s.videoThread.joinable()) s.videoThread.join();
    for (auto& src : s.audio)
        if (src->thread.joinable()) src->thread.join();

    bool failed;
    {
        std::lock_guard lock(s.muxMutex);
        failed = !s.writeError.empty();
    }
    // The file's video lasts until the stop, even when the last grabs came late.
    if (!failed) s.repeatLastFrameUntil(s.indexAt(endMicros));
    s.encodeVideo(nullptr);
    if (s.audioEncoder && !failed) {
        std::lock_guard lock(s.audioMutex);
        while (av_audio_fifo_size(s.audio[0]->fifo) > 0) s.encodeAudioFrame(true);
        // Sound the server had not handed over by the stop becomes silence, so both tracks end together.
        const std::int64_t videoSamples = (s.lastIndex + 1) * kSampleRate / s.options.fps;
        if (s.audioPts < videoSamples) s.encodeSilence(videoSamples - s.audioPts);
        s.audioEncoder->flush();
        s.writePackets(*s.audioEncoder, s.audioStream);
    }
    std::string error;
    {
        std::lock_guard lock(s.muxMutex);
        if (s.writeError.empty()) {
            const int rc = s.output->writeTrailer();
            if (rc < 0) s.noteWriteError("cannot finish the recording: " + errorText(rc));
        }
        const int closeRc = s.output->closeOutput();
        if (closeRc < 0) s.noteWriteError("cannot close the recording: " + errorText(closeRc));
        error = s.writeError;
    }
    const double seconds = double(s.lastIndex + 1) / s.options.fps;
    for (auto& src : s.audio) {
        const double heard = double(src->samplesRead) / kSampleRate;
        if (heard < seconds * 0.9) {
            char line[160];
            std::snprintf(line, sizeof line,
                          "%.1f s of %.1f s of sound arrived from '%s' (the rest is silence)", heard, seconds,
                          src->name.c_str());
            log(line);
        }
    }
    if (s.stats.framesRepeated > 0)
        log(std::to_string(s.stats.framesRepeated) + " of " + std::to_string(s.stats.framesWritten) +
            " frames were grabbed late and repeat the frame before");
    {
        std::lock_guard lock(mutex);
        last = s.stats;
    }
    session.reset();
    return error;
}

LinuxScreenRecorder::LinuxScreenRecorder(LinuxScreenRecorderOptions options)
    : impl_(std::make_shared<Impl>()) {
    if (options.fps <= 0) options.fps = 30;
    impl_->options = std::move(options);
    impl_->worker = std::thread([impl = impl_.get()] { impl->run(); });
}

LinuxScreenRecorder::~LinuxScreenRecorder() {
    Impl* impl = impl_.get();
    impl->post([impl] {
        if (!impl->session) return;
        const fs::path scratch = impl->session->stats.scratchFile;
        if (!impl->finish(av_gettime()).empty()) {
            try {
                trimToCompleteFragments(scratch);  // a failed write may have cut a fragment
            } catch (const fs::filesystem_error&) {
            }
        }
        impl->log("the recording was not stopped; it is kept at " + scratch.string());
    });
    {
        std::lock_guard lock(impl->queueMutex);
        impl->quitting = true;
        impl->queueChanged.notify_one();
    }
    impl->worker.join();
}

std::string LinuxScreenRecorder::displayName(const LinuxScreenRecorderOptions& options) {
    if (!options.display.empty()) return options.display;
    const char* env = std::getenv("DISPLAY");
    return env ? env : "";
}

std::int64_t LinuxScreenRecorder::bitRateFor(int width, int height, int fps) {
    const double bits = double(width) * double(height) * double(fps) * 0.1;
    return static_cast<std::int64_t>(std::clamp(bits, 1'000'000.0, 16'000'000.0));
}

CapturePath LinuxScreenRecorder::capturePath(const LinuxScreenRecorderOptions& options, std::string* why) {
    CaptureSessionFacts facts;
    facts.xDisplay = !displayName(options).empty();
    facts.waylandSession = isWaylandSession(std::getenv("XDG_SESSION_TYPE"), std::getenv("WAYLAND_DISPLAY"));
    // An X display named by the caller is what it wants recorded.
    CaptureSourceChoice choice = options.source;
    if (choice == CaptureSourceChoice::automatic && !options.display.empty())
        choice = CaptureSourceChoice::x11;
    std::string portalWhy;
    const bool askPortal = choice == CaptureSourceChoice::portal ||
                           (choice == CaptureSourceChoice::automatic && facts.waylandSession);
    if (askPortal) facts.portalAnswers = PortalScreenCast::version(&portalWhy) > 0;
    const CapturePath path = chooseCapturePath(choice, facts);
    if (why && path == CapturePath::none) {
        if (!portalWhy.empty())
            *why = portalWhy;
        else
            *why = facts.xDisplay ? "the X display cannot be used here" : "DISPLAY is not set";
    }
    return path;
}

bool LinuxScreenRecorder::isAvailable() {
    {
        std::lock_guard lock(impl_->mutex);
        if (impl_->availableOnce) return true;
    }
    const CapturePath path = capturePath(impl_->options);
    if (path == CapturePath::none) return false;
    if (path == CapturePath::portal) {
        std::lock_guard lock(impl_->mutex);
        impl_->availableOnce = true;
        return true;
    }
    const std::string display = displayName(impl_->options);
    std::string error;
    AVFormatContext* probe = openScreen(display, 0, nullptr, error);
    if (!probe) return false;
    avformat_close_input(&probe);
    std::lock_guard lock(impl_->mutex);
    impl_->availableOnce = true;
    return true;
}

void LinuxScreenRecorder::setMicrophoneEnabled(bool enabled) {
    std::lock_guard lock(impl_->mutex);
    impl_->microphone = enabled;
}

// The camera is part of the recorded screen (the facecam overlay); there is no separate track.
void LinuxScreenRecorder::setCameraEnabled(bool) {}

void LinuxScreenRecorder::setScratchFolder(const fs::path& folder) {
    std::lock_guard lock(impl_->mutex);
    impl_->scratchFolder = folder;
}

void LinuxScreenRecorder::setFailureHandler(FailureHandler handler) {
    std::lock_guard lock(impl_->mutex);
    impl_->failureHandler = std::move(handler);
}

void LinuxScreenRecorder::startRecording(Completion handler) {
    Impl* impl = impl_.get();
    impl->post([impl, handler = std::move(handler)] {
        std::optional<ScreenRecorderError> outcome = impl->start();
        complete(handler, std::move(outcome));
    });
}

std::optional<std::string> LinuxScreenRecorder::Impl::stopAndSave(const fs::path& outputFile,
                                                                  std::int64_t requestedAt) {
    if (!session) return "No screen recording is running.";
    const fs::path scratch = session->stats.scratchFile;
    const std::string writeError = finish(requestedAt);
    if (!writeError.empty()) {
        // What reached the disk may end inside a fragment: only whole fragments play.
        std::string kept;
        try {
            const FragmentedMp4Extent extent = trimToCompleteFragments(scratch);
            kept =
                extent.fragments > 0
                    ? "what was recorded up to its last complete fragment is kept in " + scratch.string()
                    : "no complete fragment was written; the unplayable start is kept in " + scratch.string();
        } catch (const fs::filesystem_error& e) {
            kept = "the partial recording " + scratch.string() + " could not be cut back to its last " +
                   "complete fragment (" + e.code().message() + ")";
        }
        log(writeError + "; " + kept);
        return "The recording stopped early (" + writeError + "); " + kept + ".";
    }
    try {
        if (outputFile.has_parent_path()) fs::create_directories(outputFile.parent_path());
        moveFileIntoPlace(scratch, outputFile);
    } catch (const fs::filesystem_error& e) {
        const std::string why = describeOutputError(e);
        log("cannot move the recording to " + outputFile.string() + ": " + why + "; it is kept at " +
            scratch.string());
        return "The recording could not be saved as " + outputFile.filename().string() + " (" + why +
               "); it is kept at " + scratch.string() + ".";
    }
    std::lock_guard lock(mutex);
    last.scratchFile = outputFile;
    return std::nullopt;
}

void LinuxScreenRecorder::stopRecording(const fs::path& outputFile, Completion handler) {
    Impl* impl = impl_.get();
    const std::int64_t requestedAt = av_gettime();
    impl->stopRequestedAt = requestedAt;
    impl->post([impl, outputFile, requestedAt, handler = std::move(handler)] {
        complete(handler, impl->stopAndSave(outputFile, requestedAt));
    });
}

bool LinuxScreenRecorder::lastRecordingHasSound() const {
    return lastStats().hasAudio;
}

ScreenRecordingStats LinuxScreenRecorder::lastStats() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->last;
}

}  // namespace vantry::platform
