#include "platform/screen-recorder/LinuxScreenRecorder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/time.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
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
#include "platform/screen-recorder/CapturePlan.h"
#include "platform/screen-recorder/FragmentTrim.h"
#include "platform/screen-recorder/SafeMove.h"

namespace vantry::platform {
namespace fs = std::filesystem;

namespace {

constexpr int kSampleRate = 48000;
constexpr std::int64_t kAudioBitRate = 160'000;
// A mixed-in source (the microphone) may run ahead of the game audio by this much at most.
constexpr int kMaxMixBacklog = kSampleRate / 2;

std::string avError(int rc) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(rc, text, sizeof text);
    return text;
}

void registerDevices() {
    static std::once_flag once;
    std::call_once(once, [] {
        avdevice_register_all();
        av_log_set_level(AV_LOG_ERROR);
    });
}

int interruptWhenStopping(void* flag) {
    return static_cast<std::atomic<bool>*>(flag)->load() ? 1 : 0;
}

// Opens a capture device; returns nullptr with `error` set on failure.
AVFormatContext* openDevice(const char* formatName, const std::string& url, AVDictionary* options,
                            std::atomic<bool>* stopFlag, std::string& error) {
    registerDevices();
    const AVInputFormat* format = av_find_input_format(formatName);
    if (!format) {
        av_dict_free(&options);
        error = std::string("FFmpeg has no '") + formatName + "' input";
        return nullptr;
    }
    AVFormatContext* context = avformat_alloc_context();
    if (stopFlag) context->interrupt_callback = AVIOInterruptCB{interruptWhenStopping, stopFlag};
    const int rc = avformat_open_input(&context, url.c_str(), format, &options);
    av_dict_free(&options);
    if (rc < 0) {
        error = avError(rc);
        return nullptr;
    }
    return context;
}

struct AudioSource {
    std::string name;
    AVFormatContext* input = nullptr;
    SwrContext* resampler = nullptr;
    AVAudioFifo* fifo = nullptr;
    int channels = 0;
    bool placed = false;
    std::int64_t samplesRead = 0;  // at the output rate
    std::thread thread;

    ~AudioSource() {
        if (fifo) av_audio_fifo_free(fifo);
        swr_free(&resampler);
        avformat_close_input(&input);
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

    AVFormatContext* output = nullptr;
    std::mutex muxMutex;
    std::string writeError;  // first failure to write, under muxMutex; nothing is written after it
    // Told of the first write failure, from the capture thread that met it.
    std::function<void(const std::string&)> onWriteFailure;

    // video
    AVFormatContext* screen = nullptr;
    AVCodecContext* videoEncoder = nullptr;
    AVStream* videoStream = nullptr;
    SwsContext* scaler = nullptr;
    AVFrame* picture = nullptr;
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
    AVCodecContext* audioEncoder = nullptr;
    AVStream* audioStream = nullptr;
    AVFrame* audioFrame = nullptr;
    std::vector<float> mixScratch;
    std::int64_t audioPts = 0;

    ~Session() {
        av_frame_free(&audioFrame);
        avcodec_free_context(&audioEncoder);
        audio.clear();
        av_frame_free(&picture);
        sws_freeContext(scaler);
        avcodec_free_context(&videoEncoder);
        avformat_close_input(&screen);
        if (output) {
            avio_closep(&output->pb);
            avformat_free_context(output);
        }
    }

    void noteWriteError(const std::string& what) {
        if (writeError.empty()) writeError = what;
    }

    void writePackets(AVCodecContext* encoder, AVStream* stream) {
        AVPacket* packet = av_packet_alloc();
        while (avcodec_receive_packet(encoder, packet) == 0) {
            av_packet_rescale_ts(packet, encoder->time_base, stream->time_base);
            packet->stream_index = stream->index;
            std::string failure;
            {
                std::lock_guard lock(muxMutex);
                if (!writeError.empty()) {
                    av_packet_unref(packet);
                    continue;
                }
                const int rc = av_interleaved_write_frame(output, packet);
                if (rc < 0) {
                    noteWriteError("cannot write the recording: " + avError(rc));
                    failure = writeError;
                }
            }
            if (!failure.empty()) {
                // The file cannot grow any more: the capture ends now, not at the requested time.
                stopping = true;
                if (onWriteFailure) onWriteFailure(failure);
            }
        }
        av_packet_free(&packet);
    }

    void encodeVideo(AVFrame* frame) {
        if (avcodec_send_frame(videoEncoder, frame) < 0) return;
        writePackets(videoEncoder, videoStream);
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
        AVPacket* packet = av_packet_alloc();
        const AVRational micro{1, 1'000'000};
        const AVRational base = screen->streams[0]->time_base;
        while (!stopping) {
            const int rc = av_read_frame(screen, packet);
            if (rc == AVERROR(EAGAIN)) continue;
            if (rc < 0) {
                if (!stopping) log("screen capture ended early: " + avError(rc));
                break;
            }
            std::int64_t pts =
                packet->pts == AV_NOPTS_VALUE ? av_gettime() : av_rescale_q(packet->pts, base, micro);
            if (pts >= stopAt->load()) {
                av_packet_unref(packet);
                break;
            }
            const std::int64_t index = indexAt(pts);
            if (index > lastIndex) {
                repeatLastFrameUntil(index);
                // The first picture also stands for the slots before it.
                if (lastIndex < 0) stats.framesRepeated += index;
                if (av_frame_make_writable(picture) >= 0) {
                    const std::uint8_t* src[4] = {};
                    int srcStride[4] = {};
                    av_image_fill_arrays(const_cast<std::uint8_t**>(src), srcStride, packet->data,
                                         screenFormat, screenWidth, screenHeight, 1);
                    sws_scale(scaler, src, srcStride, 0, screenHeight, picture->data, picture->linesize);
                    for (std::int64_t i = lastIndex + 1; i <= index; ++i) {
                        picture->pts = i;
                        encodeVideo(picture);
                        ++stats.framesWritten;
                    }
                    lastIndex = index;
                }
            }
            av_packet_unref(packet);
        }
        av_packet_free(&packet);
    }

    // Resamples one packet of a source into its FIFO; the first source then encodes what it can.
    void audioLoop(AudioSource& source, bool drives) {
        AVPacket* packet = av_packet_alloc();
        while (!stopping) {
            const int rc = av_read_frame(source.input, packet);
            if (rc == AVERROR(EAGAIN)) continue;
            if (rc < 0) {
                if (!stopping) log("sound from '" + source.name + "' ended early: " + avError(rc));
                break;
            }
            const int inSamples = packet->size / (2 * source.channels);
            const int outCapacity = swr_get_out_samples(source.resampler, inSamples);
            std::vector<float> left(std::size_t(std::max(outCapacity, 1))), right(left.size());
            std::uint8_t* out[2] = {reinterpret_cast<std::uint8_t*>(left.data()),
                                    reinterpret_cast<std::uint8_t*>(right.data())};
            const std::uint8_t* in[1] = {packet->data};
            const int got = swr_convert(source.resampler, out, outCapacity, in, inSamples);
            const std::int64_t capturedAt =
                packet->pts == AV_NOPTS_VALUE ? av_gettime()
                                              : av_rescale_q(packet->pts, source.input->streams[0]->time_base,
                                                             AVRational{1, 1'000'000});
            av_packet_unref(packet);
            if (got <= 0) continue;
            std::lock_guard lock(audioMutex);
            source.samplesRead += got;
            av_audio_fifo_write(source.fifo, reinterpret_cast<void**>(out), got);
            if (drives && !source.placed) {
                // The sound starts where it was captured on the file's clock: silence before
                // it, or the part captured before time 0 dropped.
                source.placed = true;
                const std::int64_t offset = (capturedAt - origin) * kSampleRate / 1'000'000;
                if (offset < 0) av_audio_fifo_drain(source.fifo, int(std::min<std::int64_t>(-offset, got)));
                if (offset > 0) encodeSilence(std::min<std::int64_t>(offset, std::int64_t(kSampleRate) * 10));
            }
            if (!drives) {
                const int excess = av_audio_fifo_size(source.fifo) - kMaxMixBacklog;
                if (excess > 0) av_audio_fifo_drain(source.fifo, excess);
                continue;
            }
            while (av_audio_fifo_size(source.fifo) >= audioEncoder->frame_size) encodeAudioFrame(false);
        }
        av_packet_free(&packet);
    }

    // Encodes `count` samples of silence; under audioMutex.
    void encodeSilence(std::int64_t count) {
        while (count > 0) {
            if (av_frame_make_writable(audioFrame) < 0) return;
            const int n = int(std::min<std::int64_t>(count, audioEncoder->frame_size));
            audioFrame->nb_samples = n;
            av_samples_set_silence(audioFrame->data, 0, n, 2, AV_SAMPLE_FMT_FLTP);
            audioFrame->pts = audioPts;
            audioPts += n;
            count -= n;
            if (avcodec_send_frame(audioEncoder, audioFrame) < 0) return;
            writePackets(audioEncoder, audioStream);
        }
    }

    // Takes one encoder frame from the first source, adds the others; under audioMutex.
    void encodeAudioFrame(bool partial) {
        const int n = partial ? std::min(av_audio_fifo_size(audio[0]->fifo), audioEncoder->frame_size)
                              : audioEncoder->frame_size;
        if (n <= 0) return;
        if (av_frame_make_writable(audioFrame) < 0) return;
        audioFrame->nb_samples = n;
        av_audio_fifo_read(audio[0]->fifo, reinterpret_cast<void**>(audioFrame->data), n);
        for (std::size_t s = 1; s < audio.size(); ++s) {
            const int m = std::min(av_audio_fifo_size(audio[s]->fifo), n);
            if (m <= 0) continue;
            mixScratch.assign(std::size_t(m) * 2, 0.0f);
            void* planes[2] = {mixScratch.data(), mixScratch.data() + m};
            av_audio_fifo_read(audio[s]->fifo, planes, m);
            for (int c = 0; c < 2; ++c) {
                float* dst = reinterpret_cast<float*>(audioFrame->data[c]);
                const float* add = static_cast<const float*>(planes[c]);
                for (int i = 0; i < m; ++i) dst[i] = std::clamp(dst[i] + add[i], -1.0f, 1.0f);
            }
        }
        audioFrame->pts = audioPts;
        audioPts += n;
        if (avcodec_send_frame(audioEncoder, audioFrame) < 0) return;
        writePackets(audioEncoder, audioStream);
    }
};

// Hands the outcome to the caller's completion, if it gave one.
void complete(const ScreenRecorder::Completion& handler, const std::optional<std::string>& error) {
    if (!handler) return;
    std::optional<ScreenRecorderError> outcome;
    if (error) outcome = ScreenRecorderError{*error};
    handler(std::move(outcome));
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

    std::optional<std::string> start();
    // Finishes the recording and moves it to outputFile; the error text on failure.
    std::optional<std::string> stopAndSave(const fs::path& outputFile, std::int64_t requestedAt);
    // Stops and finishes the file under its scratch name, its video lasting until endMicros
    // (wall clock); returns the first write error.
    std::string finish(std::int64_t endMicros);
    void openAudio(Session& s, bool mic);
};

void LinuxScreenRecorder::Impl::openAudio(Session& s, bool mic) {
    if (!options.captureAudio) return;
    std::vector<std::string> names{options.monitorSource};
    if (mic) names.push_back(options.microphoneSource);
    for (const auto& name : names) {
        AVDictionary* opts = nullptr;
        av_dict_set(&opts, "sample_rate", std::to_string(kSampleRate).c_str(), 0);
        av_dict_set(&opts, "channels", "2", 0);
        // 50 ms per read: the server's default would hand over seconds at a time.
        av_dict_set(&opts, "fragment_size", std::to_string(kSampleRate / 20 * 4).c_str(), 0);
        std::string error;
        AVFormatContext* input = openDevice("pulse", name, opts, &s.stopping, error);
        if (!input) {
            log("no sound from '" + name + "': " + error);
            continue;
        }
        auto source = std::make_unique<AudioSource>();
        source->name = name;
        source->input = input;
        const AVCodecParameters* par = input->streams[0]->codecpar;
        source->channels = std::max(par->ch_layout.nb_channels, 1);
        AVChannelLayout inLayout{};
        av_channel_layout_default(&inLayout, source->channels);
        AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
        if (par->codec_id != AV_CODEC_ID_PCM_S16LE ||
            swr_alloc_set_opts2(&source->resampler, &stereo, AV_SAMPLE_FMT_FLTP, kSampleRate, &inLayout,
                                AV_SAMPLE_FMT_S16, par->sample_rate, 0, nullptr) < 0 ||
            swr_init(source->resampler) < 0) {
            log("sound from '" + name + "' has a format this recorder cannot read");
            continue;
        }
        source->fifo = av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, 2, kSampleRate);
        s.audio.push_back(std::move(source));
    }
    if (s.audio.empty()) log("no sound server reachable: this recording has video only (no sound)");
}

std::optional<std::string> LinuxScreenRecorder::Impl::start() {
    if (session) return "A screen recording is already running.";
    bool mic;
    fs::path folder;
    {
        std::lock_guard lock(mutex);
        mic = microphone;
        folder = scratchFolder.empty() ? fs::temp_directory_path() : scratchFolder;
    }
    const std::string display = displayName(options);
    if (display.empty()) return "There is no X display to record.";

    auto s = std::make_unique<Session>();
    s->options = options;
    s->log = [this](const std::string& line) { log(line); };
    s->onWriteFailure = [this](const std::string& what) {
        log(what + "; the recording stops now");
        post([this, what] {
            FailureHandler handler;
            {
                std::lock_guard lock(mutex);
                handler = failureHandler;
            }
            if (handler) handler(ScreenRecorderError{what});
        });
    };
    stopRequestedAt = INT64_MAX;
    s->stopAt = &stopRequestedAt;

    AVDictionary* screenOptions = nullptr;
    av_dict_set(&screenOptions, "framerate", std::to_string(options.fps).c_str(), 0);
    av_dict_set(&screenOptions, "draw_mouse", "1", 0);
    std::string error;
    s->screen = openDevice("x11grab", display, screenOptions, &s->stopping, error);
    if (!s->screen) return "Cannot capture the screen of display " + display + ": " + error + ".";
    const AVCodecParameters* screenPar = s->screen->streams[0]->codecpar;
    s->screenFormat = static_cast<AVPixelFormat>(screenPar->format);
    s->screenWidth = screenPar->width;
    s->screenHeight = screenPar->height;
    if ((s->screenWidth & ~1) <= 0 || (s->screenHeight & ~1) <= 0)
        return "The screen of display " + display + " has no size.";
    // A screen too big for this machine's encoder is scaled down (or encoded faster) up front,
    // rather than losing most of its frames as repeats.
    const unsigned cores = options.encoderCores > 0 ? unsigned(options.encoderCores)
                                                    : std::max(1u, std::thread::hardware_concurrency());
    const CapturePlan plan = planCapture(s->screenWidth, s->screenHeight, options.fps, cores, options.preset);
    if (!plan.note.empty()) log(plan.note);
    const int width = plan.width;
    const int height = plan.height;

    openAudio(*s, mic);

    std::error_code ec;
    fs::create_directories(folder, ec);
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    s->stats.scratchFile =
        folder /
        ("CreatorRec_" + std::to_string(std::chrono::duration_cast<std::chrono::seconds>(now).count()) + "_" +
         std::to_string(::getpid()) + ".partial.mp4");
    s->stats.width = width;
    s->stats.height = height;
    s->stats.videoBitRate = bitRateFor(width, height, options.fps);
    const std::string file = s->stats.scratchFile.string();

    int rc = avformat_alloc_output_context2(&s->output, nullptr, "mp4", file.c_str());
    if (rc < 0 || !s->output) return "Cannot create the recording: " + avError(rc) + ".";

    const AVCodec* h264 = avcodec_find_encoder_by_name("libx264");
    if (!h264) return std::string("The libx264 H.264 encoder is not available.");
    s->videoStream = avformat_new_stream(s->output, nullptr);
    s->videoEncoder = avcodec_alloc_context3(h264);
    AVCodecContext* v = s->videoEncoder;
    v->width = width;
    v->height = height;
    v->pix_fmt = AV_PIX_FMT_YUV420P;
    v->time_base = AVRational{1, options.fps};
    v->framerate = AVRational{options.fps, 1};
    v->sample_aspect_ratio = AVRational{1, 1};
    v->bit_rate = s->stats.videoBitRate;
    v->rc_max_rate = s->stats.videoBitRate;
    v->rc_buffer_size = static_cast<int>(s->stats.videoBitRate);
    v->gop_size = 2 * options.fps;  // a key frame, and so a fragment, every 2 s
    v->thread_count = 0;            // as many encoder threads as the machine has cores
    v->color_range = AVCOL_RANGE_MPEG;
    v->colorspace = AVCOL_SPC_BT709;
    v->color_primaries = AVCOL_PRI_BT709;
    v->color_trc = AVCOL_TRC_BT709;
    if (s->output->oformat->flags & AVFMT_GLOBALHEADER) v->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* x264 = nullptr;
    av_dict_set(&x264, "preset", plan.preset.c_str(), 0);
    av_dict_set(&x264, "x264-params", "open-gop=0:scenecut=0", 0);
    rc = avcodec_open2(v, h264, &x264);
    av_dict_free(&x264);
    if (rc < 0) return "Cannot open the H.264 encoder: " + avError(rc) + ".";
    avcodec_parameters_from_context(s->videoStream->codecpar, v);
    s->videoStream->time_base = v->time_base;
    s->videoStream->avg_frame_rate = v->framerate;

    s->scaler = sws_getContext(s->screenWidth, s->screenHeight, s->screenFormat, width, height,
                               AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
    s->picture = av_frame_alloc();
    s->picture->format = AV_PIX_FMT_YUV420P;
    s->picture->width = width;
    s->picture->height = height;
    if (!s->scaler || av_frame_get_buffer(s->picture, 0) < 0)
        return "Cannot convert the screen's pixel format for the encoder.";

    if (!s->audio.empty()) {
        const AVCodec* aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
        s->audioEncoder = aac ? avcodec_alloc_context3(aac) : nullptr;
        AVCodecContext* a = s->audioEncoder;
        if (a) {
            a->sample_fmt = AV_SAMPLE_FMT_FLTP;
            a->sample_rate = kSampleRate;
            a->ch_layout = AV_CHANNEL_LAYOUT_STEREO;
            a->bit_rate = kAudioBitRate;
            a->time_base = AVRational{1, kSampleRate};
            if (s->output->oformat->flags & AVFMT_GLOBALHEADER) a->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        }
        if (!a || avcodec_open2(a, aac, nullptr) < 0) {
            log("the AAC encoder is not available: this recording has video only (no sound)");
            avcodec_free_context(&s->audioEncoder);
            s->audio.clear();
        } else {
            s->audioStream = avformat_new_stream(s->output, nullptr);
            avcodec_parameters_from_context(s->audioStream->codecpar, a);
            s->audioStream->time_base = a->time_base;
            s->audioFrame = av_frame_alloc();
            s->audioFrame->format = AV_SAMPLE_FMT_FLTP;
            s->audioFrame->ch_layout = AV_CHANNEL_LAYOUT_STEREO;
            s->audioFrame->sample_rate = kSampleRate;
            s->audioFrame->nb_samples = a->frame_size;
            av_frame_get_buffer(s->audioFrame, 0);
            s->stats.hasAudio = true;
            s->stats.microphoneMixed =
                mic && std::any_of(s->audio.begin(), s->audio.end(),
                                   [this](const auto& src) { return src->name == options.microphoneSource; });
        }
    }

    rc = avio_open(&s->output->pb, file.c_str(), AVIO_FLAG_WRITE);
    if (rc < 0) return "Cannot create the recording '" + file + "': " + avError(rc) + ".";
    AVDictionary* mux = nullptr;
    // An empty index up front and a self-contained fragment at every key frame.
    av_dict_set(&mux, "movflags", "+frag_keyframe+empty_moov+default_base_moof", 0);
    // Each finished fragment goes to the file at once, not when the write buffer fills.
    s->output->flags |= AVFMT_FLAG_FLUSH_PACKETS;
    rc = avformat_write_header(s->output, &mux);
    av_dict_free(&mux);
    if (rc < 0) {
        s.reset();
        std::error_code ignored;
        fs::remove(file, ignored);
        return "Cannot write the recording: " + avError(rc) + ".";
    }

    {
        std::lock_guard lock(mutex);
        last = s->stats;
    }
    Session* raw = s.get();
    raw->origin = av_gettime();
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
        avcodec_send_frame(s.audioEncoder, nullptr);
        s.writePackets(s.audioEncoder, s.audioStream);
    }
    std::string error;
    {
        std::lock_guard lock(s.muxMutex);
        if (s.writeError.empty()) {
            const int rc = av_write_trailer(s.output);
            if (rc < 0) s.noteWriteError("cannot finish the recording: " + avError(rc));
        }
        const int closeRc = avio_closep(&s.output->pb);
        if (closeRc < 0) s.noteWriteError("cannot close the recording: " + avError(closeRc));
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

bool LinuxScreenRecorder::isAvailable() {
    {
        std::lock_guard lock(impl_->mutex);
        if (impl_->availableOnce) return true;
    }
    const std::string display = displayName(impl_->options);
    if (display.empty()) return false;
    std::string error;
    AVFormatContext* probe = openDevice("x11grab", display, nullptr, nullptr, error);
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
    impl->post([impl, handler = std::move(handler)] { complete(handler, impl->start()); });
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
