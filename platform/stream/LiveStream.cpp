// The sending thread of a live stream: wall-clock frame slots, H.264 + AAC
// encoding, the FLV / MPEG-TS / v4l2 muxers, reconnection and the status line.
#include "platform/stream/LiveStream.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/time.h>
#include <libswscale/swscale.h>
}

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>

namespace vantry::platform {
namespace {

constexpr int kSampleRate = 48000;
// One network operation (connect, a write, the closing write) that takes longer than
// this means the peer is gone.
constexpr std::int64_t kConnectLimitUs = 8'000'000;
constexpr std::int64_t kWriteLimitUs = 5'000'000;
// A write that has waited this long while the server has taken nothing for kStallUs means a
// stalled server (a write alone, not a late one: a busy machine is no stalled server).
constexpr std::int64_t kStallUs = 1'500'000;
constexpr std::int64_t kStallWaitUs = 1'000'000;
// After stop(), the last packets and the trailer get this long.
constexpr std::int64_t kStopGraceUs = 2'000'000;
constexpr double kRetryPauses[] = {1, 2, 4, 8, 16, 30};
constexpr double kRateWindowSeconds = 3;

std::string avError(int rc) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(rc, text, sizeof text);
    return text;
}

// FFmpeg prints addresses in some of its messages; every line goes through this
// callback, which blanks the secrets of the addresses of the streams alive in this process.
std::mutex gLogMutex;
std::vector<std::string> gSecrets;
int gLogPrintPrefix = 1;

void redactingLog(void* avcl, int level, const char* fmt, va_list args) {
    if (level > av_log_get_level()) return;
    char line[4096];
    std::lock_guard lock(gLogMutex);
    av_log_format_line2(avcl, level, fmt, args, line, sizeof line, &gLogPrintPrefix);
    std::string text = line;
    text = redactStreamSecrets(std::move(text), gSecrets);
    std::fputs(text.c_str(), stderr);
}

void setUpFfmpeg() {
    static std::once_flag once;
    std::call_once(once, [] {
        av_log_set_callback(redactingLog);
        avdevice_register_all();
        avformat_network_init();
        if (av_log_get_level() > AV_LOG_ERROR) av_log_set_level(AV_LOG_ERROR);
    });
}

// Entered into the log's list for the life of one stream (a secret shared by two streams
// stays listed until both have gone).
class SecretRegistration {
  public:
    explicit SecretRegistration(std::vector<std::string> secrets) : secrets_(std::move(secrets)) {
        std::lock_guard lock(gLogMutex);
        gSecrets.insert(gSecrets.end(), secrets_.begin(), secrets_.end());
    }
    ~SecretRegistration() {
        std::lock_guard lock(gLogMutex);
        for (const auto& secret : secrets_)
            gSecrets.erase(std::find(gSecrets.begin(), gSecrets.end(), secret));
    }
    SecretRegistration(const SecretRegistration&) = delete;
    SecretRegistration& operator=(const SecretRegistration&) = delete;

  private:
    std::vector<std::string> secrets_;
};

// The default PulseAudio source, read on its own thread into a short FIFO that the
// sending thread takes whole audio frames from without waiting.
class Microphone {
  public:
    explicit Microphone(std::atomic<bool>& stopping) : stopping_(stopping) {
        thread_ = std::thread([this] { run(); });
    }
    ~Microphone() {
        thread_.join();
        if (fifo_) av_audio_fifo_free(fifo_);
    }
    // Fills `planes` (two planes of `count` floats) when enough sound is waiting. The
    // FIFO is first filled to a cushion so that the small differences between the
    // capture's and the sending thread's timing do not cut holes into the sound; after
    // running dry it is filled again.
    bool read(float* const planes[2], int count) {
        std::lock_guard lock(mutex_);
        if (!fifo_) return false;
        const int size = av_audio_fifo_size(fifo_);
        if (!primed_) primed_ = size >= kCushion;
        if (primed_ && size < count) primed_ = false;
        if (!primed_) return false;
        return av_audio_fifo_read(fifo_, reinterpret_cast<void**>(const_cast<float**>(planes)), count) ==
               count;
    }

  private:
    static int interrupt(void* flag) { return static_cast<std::atomic<bool>*>(flag)->load() ? 1 : 0; }

    void run() {
        const AVInputFormat* pulse = av_find_input_format("pulse");
        if (!pulse) return;
        AVDictionary* opts = nullptr;
        av_dict_set(&opts, "sample_rate", std::to_string(kSampleRate).c_str(), 0);
        av_dict_set(&opts, "channels", "2", 0);
        av_dict_set(&opts, "fragment_size", std::to_string(kSampleRate / 50 * 4).c_str(), 0);
        AVFormatContext* input = avformat_alloc_context();
        input->interrupt_callback = AVIOInterruptCB{interrupt, &stopping_};
        const int rc = avformat_open_input(&input, "default", pulse, &opts);
        av_dict_free(&opts);
        if (rc < 0) return;  // no server or no source: the stream carries silence
        const AVCodecParameters* par = input->streams[0]->codecpar;
        if (par->codec_id != AV_CODEC_ID_PCM_S16LE || par->ch_layout.nb_channels != 2 ||
            par->sample_rate != kSampleRate) {
            avformat_close_input(&input);
            return;
        }
        {
            std::lock_guard lock(mutex_);
            fifo_ = av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, 2, kSampleRate);
        }
        AVPacket* packet = av_packet_alloc();
        std::vector<float> left, right;
        while (!stopping_) {
            const int got = av_read_frame(input, packet);
            if (got == AVERROR(EAGAIN)) continue;
            if (got < 0) break;
            const int samples = packet->size / 4;
            left.resize(std::size_t(samples));
            right.resize(std::size_t(samples));
            const auto* pcm = reinterpret_cast<const std::int16_t*>(packet->data);
            for (int i = 0; i < samples; ++i) {
                left[std::size_t(i)] = float(pcm[2 * i]) / 32768.0f;
                right[std::size_t(i)] = float(pcm[2 * i + 1]) / 32768.0f;
            }
            av_packet_unref(packet);
            float* planes[2] = {left.data(), right.data()};
            std::lock_guard lock(mutex_);
            av_audio_fifo_write(fifo_, reinterpret_cast<void**>(planes), samples);
            // The sound card's clock and the wall clock part slowly: keep the delay bounded.
            const int excess = av_audio_fifo_size(fifo_) - kMaxBacklog;
            if (excess > 0) av_audio_fifo_drain(fifo_, excess);
        }
        av_packet_free(&packet);
        avformat_close_input(&input);
    }

    static constexpr int kCushion = kSampleRate / 10;
    static constexpr int kMaxBacklog = kSampleRate * 4 / 10;

    std::atomic<bool>& stopping_;
    std::mutex mutex_;
    AVAudioFifo* fifo_ = nullptr;
    bool primed_ = false;
    std::thread thread_;
};

// One connection: the muxer with its output and the encoders feeding it.
struct Connection {
    AVFormatContext* muxer = nullptr;
    AVCodecContext* video = nullptr;
    AVCodecContext* audio = nullptr;
    AVStream* videoStream = nullptr;
    AVStream* audioStream = nullptr;
    AVFrame* audioFrame = nullptr;
    AVPacket* packet = nullptr;
    std::vector<std::uint8_t> raw;  // v4l2: one packed yuv420p picture
    bool headerWritten = false;
    std::int64_t rawBytes = 0;  // bytes handed to a muxer without its own output (v4l2)

    ~Connection() {
        if (muxer && muxer->pb && !(muxer->oformat->flags & AVFMT_NOFILE)) avio_closep(&muxer->pb);
        avformat_free_context(muxer);
        avcodec_free_context(&video);
        avcodec_free_context(&audio);
        av_frame_free(&audioFrame);
        av_packet_free(&packet);
    }
    std::int64_t bytesOut() const {
        if (muxer && muxer->pb) return std::max<std::int64_t>(avio_tell(muxer->pb), 0);
        return rawBytes;
    }
};

double seconds(std::int64_t micros) {
    return double(micros) / 1e6;
}

}  // namespace

struct LiveStream::Impl {
    LiveStreamSettings settings;
    LiveStreamTarget target;
    StatusCallback onStatus;
    std::vector<std::string> secrets;  // of the address, for messages
    SecretRegistration registration;   // the same, for FFmpeg's log

    mutable std::mutex mutex;
    std::condition_variable wake;
    LiveStreamStatus status;            // under mutex
    std::vector<std::uint8_t> offered;  // newest picture handed in, packed BGRA; under mutex
    bool offeredFresh = false;          // under mutex: no slot has taken it yet

    std::atomic<bool> stopping{false};
    std::atomic<std::int64_t> stopDeadlineUs{0};
    std::atomic<bool> connectingNow{false};
    std::atomic<std::int64_t> ioStartedUs{0};
    std::atomic<std::int64_t> ioLimitUs{kWriteLimitUs};
    std::atomic<bool> ioTimedOut{false};
    std::atomic<bool> ioIsWrite{false};
    std::mutex stopMutex;
    std::thread thread;

    // The sending thread's own.
    std::unique_ptr<Connection> connection;
    std::unique_ptr<Microphone> microphone;
    std::vector<std::uint8_t> picture;  // the picture being encoded, packed BGRA
    AVFrame* yuv = nullptr;
    SwsContext* scaler = nullptr;
    std::int64_t liveSinceUs = 0;
    std::int64_t bytesBefore = 0;     // delivered over earlier connections
    std::int64_t bytesDelivered = 0;  // in all: written out by a completed write
    std::int64_t lastDeliveryUs = 0;  // when bytesDelivered last grew (or the start)
    bool stalled = false;             // the server stopped taking data mid-write
    std::deque<std::pair<std::int64_t, std::int64_t>> rateSamples;  // (time, total bytes)
    std::int64_t lastPublishUs = 0;

    Impl(LiveStreamSettings s, StatusCallback cb)
        : settings(std::move(s)),
          onStatus(std::move(cb)),
          secrets(liveStreamSecrets(settings.url, settings.streamKey)),
          registration(secrets),
          lastDeliveryUs(av_gettime_relative()) {}

    ~Impl() {
        av_frame_free(&yuv);
        sws_freeContext(scaler);
    }

    std::string redact(const std::string& text) const { return redactStreamSecrets(text, secrets); }

    static int interrupt(void* opaque) {
        auto* self = static_cast<Impl*>(opaque);
        const std::int64_t now = av_gettime_relative();
        if (self->stopping) {
            if (self->connectingNow || now > self->stopDeadlineUs) return 1;
        }
        const std::int64_t started = self->ioStartedUs;
        if (started != 0 && now - started > self->ioLimitUs) {
            self->ioTimedOut = true;
            return 1;
        }
        // Only the sending thread waits in a write, and it calls this while it waits.
        if (started != 0 && self->ioIsWrite && now - started >= kStallWaitUs) self->whileWriteWaits(now);
        return 0;
    }

    // A write waits on the server: once it has taken nothing for a while the stream is
    // stalled, and the status says so (each second) until the write ends either way.
    void whileWriteWaits(std::int64_t now) {
        if (!connection || now - lastDeliveryUs < kStallUs) return;
        const bool entering = !stalled;
        if (!entering && now - lastPublishUs < 1'000'000) return;
        stalled = true;
        noteBytes(now);
        update([&](LiveStreamStatus& s) {
            if (s.state == LiveStreamState::live) s.state = LiveStreamState::stalled;
            s.measuredBitRate = measuredRate();
            s.secondsWithoutDelivery = seconds(now - lastDeliveryUs);
            s.elapsedSeconds = seconds(now - liveSinceUs);
        });
    }

    // Runs one blocking FFmpeg operation under the watchdog.
    template <class F>
    int guarded(std::int64_t limitUs, F&& operation, bool write = false) {
        ioLimitUs = limitUs;
        ioTimedOut = false;
        ioIsWrite = write;
        ioStartedUs = av_gettime_relative();
        const int rc = operation();
        ioStartedUs = 0;
        ioIsWrite = false;
        return rc;
    }

    std::string ioError(int rc) const {
        if (ioTimedOut) return "no answer for " + std::to_string(int(ioLimitUs / 1'000'000)) + " s";
        return avError(rc);
    }

    // ---- status

    void publish() {
        LiveStreamStatus copy;
        {
            std::lock_guard lock(mutex);
            copy = status;
        }
        lastPublishUs = av_gettime_relative();
        if (onStatus) onStatus(copy);
    }

    template <class F>
    void update(F&& change) {
        {
            std::lock_guard lock(mutex);
            change(status);
            status.message = redact(status.message);
        }
        publish();
    }

    // ---- connection

    std::string openEncoders(Connection& c) {
        const bool raw = target.kind == "v4l2";
        const AVRational frameTime{1, settings.fps};
        c.videoStream = avformat_new_stream(c.muxer, nullptr);
        if (!c.videoStream) return "out of memory";
        c.videoStream->time_base = frameTime;
        if (raw) {
            AVCodecParameters* par = c.videoStream->codecpar;
            par->codec_type = AVMEDIA_TYPE_VIDEO;
            par->codec_id = AV_CODEC_ID_RAWVIDEO;
            par->format = AV_PIX_FMT_YUV420P;
            par->width = settings.width;
            par->height = settings.height;
            c.raw.resize(std::size_t(
                av_image_get_buffer_size(AV_PIX_FMT_YUV420P, settings.width, settings.height, 1)));
            return {};
        }
        const bool globalHeader = c.muxer->oformat->flags & AVFMT_GLOBALHEADER;

        const AVCodec* h264 = avcodec_find_encoder_by_name("libx264");
        if (!h264) return "FFmpeg has no libx264 encoder";
        c.video = avcodec_alloc_context3(h264);
        c.video->width = settings.width;
        c.video->height = settings.height;
        c.video->pix_fmt = AV_PIX_FMT_YUV420P;
        c.video->time_base = frameTime;
        c.video->framerate = AVRational{settings.fps, 1};
        c.video->bit_rate = settings.videoBitRate;
        c.video->rc_max_rate = settings.videoBitRate;
        c.video->rc_buffer_size = int(std::min<std::int64_t>(settings.videoBitRate, INT32_MAX));
        c.video->gop_size = std::max(1, int(std::lround(settings.keyFrameSeconds * settings.fps)));
        c.video->keyint_min = c.video->gop_size;
        c.video->max_b_frames = 0;
        if (globalHeader) c.video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        AVDictionary* opts = nullptr;
        av_dict_set(&opts, "preset", "veryfast", 0);
        av_dict_set(&opts, "tune", "zerolatency", 0);
        av_dict_set(&opts, "x264-params", "scenecut=0:nal-hrd=cbr", 0);
        int rc = avcodec_open2(c.video, h264, &opts);
        av_dict_free(&opts);
        if (rc < 0) return "the H.264 encoder did not start: " + avError(rc);
        avcodec_parameters_from_context(c.videoStream->codecpar, c.video);

        const AVCodec* aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
        if (!aac) return "FFmpeg has no AAC encoder";
        c.audio = avcodec_alloc_context3(aac);
        c.audio->sample_fmt = AV_SAMPLE_FMT_FLTP;
        c.audio->sample_rate = kSampleRate;
        av_channel_layout_default(&c.audio->ch_layout, 2);
        c.audio->bit_rate = settings.audioBitRate;
        c.audio->time_base = AVRational{1, kSampleRate};
        if (globalHeader) c.audio->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        rc = avcodec_open2(c.audio, aac, nullptr);
        if (rc < 0) return "the AAC encoder did not start: " + avError(rc);
        c.audioStream = avformat_new_stream(c.muxer, nullptr);
        if (!c.audioStream) return "out of memory";
        c.audioStream->time_base = c.audio->time_base;
        avcodec_parameters_from_context(c.audioStream->codecpar, c.audio);
        c.audioFrame = av_frame_alloc();
        c.audioFrame->format = AV_SAMPLE_FMT_FLTP;
        c.audioFrame->sample_rate = kSampleRate;
        c.audioFrame->nb_samples = c.audio->frame_size;
        av_channel_layout_default(&c.audioFrame->ch_layout, 2);
        if (av_frame_get_buffer(c.audioFrame, 0) < 0) return "out of memory";
        return {};
    }

    // Opens a fresh connection (new headers, a key frame first); the reason on failure.
    std::string connect() {
        auto c = std::make_unique<Connection>();
        c->packet = av_packet_alloc();
        const char* format = target.kind == "srt" ? "mpegts" : target.kind == "v4l2" ? "video4linux2" : "flv";
        int rc = avformat_alloc_output_context2(&c->muxer, nullptr, format, target.address.c_str());
        if (rc < 0 || !c->muxer) return "FFmpeg has no " + std::string(format) + " output";
        c->muxer->interrupt_callback = AVIOInterruptCB{interrupt, this};
        if (std::string error = openEncoders(*c); !error.empty()) return error;

        connectingNow = true;
        if (!(c->muxer->oformat->flags & AVFMT_NOFILE)) {
            AVDictionary* opts = nullptr;
            if (target.kind == "srt") {
                if (!target.srtStreamId.empty())
                    av_dict_set(&opts, "streamid", target.srtStreamId.c_str(), 0);
                av_dict_set(&opts, "connect_timeout", "4000", 0);
                // Closing waits (briefly) for the server to take what is still queued.
                av_dict_set(&opts, "linger", "1", 0);
            } else {
                av_dict_set(&opts, "tcp_nodelay", "1", 0);
                // What the system queues unsent is what the server has not taken: keep it to
                // about half a second, so that the rate and a stall show the server's side.
                const std::int64_t halfSecond = (settings.videoBitRate + settings.audioBitRate) / 16;
                av_dict_set_int(&opts, "send_buffer_size", std::max<std::int64_t>(halfSecond, 64 * 1024), 0);
            }
            rc = guarded(kConnectLimitUs, [&] {
                return avio_open2(&c->muxer->pb, target.address.c_str(), AVIO_FLAG_WRITE,
                                  &c->muxer->interrupt_callback, &opts);
            });
            av_dict_free(&opts);
            if (rc < 0) {
                connectingNow = false;
                return ioError(rc);
            }
        }
        // Each packet goes out whole as it is written: a completed write is a delivered one.
        c->muxer->flush_packets = 1;
        AVDictionary* muxOpts = nullptr;
        if (target.kind != "srt" && target.kind != "v4l2")
            av_dict_set(&muxOpts, "flvflags", "no_duration_filesize", 0);
        rc = guarded(kConnectLimitUs, [&] { return avformat_write_header(c->muxer, &muxOpts); });
        av_dict_free(&muxOpts);
        connectingNow = false;
        if (rc < 0) {
            const std::string error = ioError(rc);
            // Closing flushes what the header left in the buffer: under the watchdog too.
            guarded(kWriteLimitUs, [&] {
                c.reset();
                return 0;
            });
            return error;
        }
        c->headerWritten = true;
        connection = std::move(c);
        return {};
    }

    // Closes the connection; with `orderly`, sends what the encoders hold and the trailer.
    void disconnect(bool orderly) {
        if (!connection) return;
        Connection& c = *connection;
        if (orderly && c.headerWritten) {
            if (c.video) {
                avcodec_send_frame(c.video, nullptr);
                drain(c.video, c.videoStream);
            }
            if (c.audio) {
                avcodec_send_frame(c.audio, nullptr);
                drain(c.audio, c.audioStream);
            }
            if (guarded(
                    kWriteLimitUs, [&] { return av_write_trailer(c.muxer); }, true) >= 0)
                bytesDelivered = bytesBefore + c.bytesOut();
        }
        bytesBefore = bytesDelivered;
        // Closing flushes the output buffer, which may wait on a dead peer too.
        guarded(kWriteLimitUs, [&] {
            connection.reset();
            return 0;
        });
    }

    // Writes every packet the encoder has ready; the reason when the output failed.
    std::string drain(AVCodecContext* encoder, AVStream* stream) {
        Connection& c = *connection;
        while (avcodec_receive_packet(encoder, c.packet) == 0) {
            av_packet_rescale_ts(c.packet, encoder->time_base, stream->time_base);
            c.packet->stream_index = stream->index;
            const int rc = guarded(
                kWriteLimitUs, [&] { return av_interleaved_write_frame(c.muxer, c.packet); }, true);
            if (rc < 0) return ioError(rc);
        }
        if (c.muxer->pb && c.muxer->pb->error < 0) return ioError(c.muxer->pb->error);
        return {};
    }

    // ---- frames

    std::string sendVideo(std::int64_t slot) {
        Connection& c = *connection;
        yuv->pts = slot;
        if (!c.video) {
            av_image_copy_to_buffer(c.raw.data(), int(c.raw.size()), yuv->data, yuv->linesize,
                                    AV_PIX_FMT_YUV420P, settings.width, settings.height, 1);
            av_packet_unref(c.packet);
            if (av_new_packet(c.packet, int(c.raw.size())) < 0) return "out of memory";
            std::copy(c.raw.begin(), c.raw.end(), c.packet->data);
            c.packet->pts = c.packet->dts = slot;
            c.packet->duration = 1;
            c.packet->stream_index = c.videoStream->index;
            av_packet_rescale_ts(c.packet, AVRational{1, settings.fps}, c.videoStream->time_base);
            const int rc = guarded(
                kWriteLimitUs, [&] { return av_write_frame(c.muxer, c.packet); }, true);
            if (rc < 0) return ioError(rc);
            c.rawBytes += std::int64_t(c.raw.size());
            return {};
        }
        const int rc = avcodec_send_frame(c.video, yuv);
        if (rc < 0) return "the H.264 encoder failed: " + avError(rc);
        return drain(c.video, c.videoStream);
    }

    // Sound up to `untilSample`, whole encoder frames, microphone or silence.
    std::string sendAudio(std::int64_t& samplesSent, std::int64_t untilSample) {
        Connection& c = *connection;
        if (!c.audio) return {};
        const int n = c.audio->frame_size;
        while (samplesSent < untilSample) {
            if (av_frame_make_writable(c.audioFrame) < 0) return "out of memory";
            float* planes[2] = {reinterpret_cast<float*>(c.audioFrame->data[0]),
                                reinterpret_cast<float*>(c.audioFrame->data[1])};
            if (!microphone || !microphone->read(planes, n))
                av_samples_set_silence(c.audioFrame->data, 0, n, 2, AV_SAMPLE_FMT_FLTP);
            c.audioFrame->pts = samplesSent;
            samplesSent += n;
            const int rc = avcodec_send_frame(c.audio, c.audioFrame);
            if (rc < 0) return "the AAC encoder failed: " + avError(rc);
            if (std::string error = drain(c.audio, c.audioStream); !error.empty()) return error;
        }
        return {};
    }

    // Takes the newest picture into the YUV frame; false when the slot repeats the last one.
    bool takePicture() {
        {
            std::lock_guard lock(mutex);
            if (!offeredFresh) return false;
            picture.swap(offered);
            offeredFresh = false;
        }
        if (av_frame_make_writable(yuv) < 0) return true;
        const std::uint8_t* src[1] = {picture.data()};
        const int srcStride[1] = {settings.width * 4};
        sws_scale(scaler, src, srcStride, 0, settings.height, yuv->data, yuv->linesize);
        return true;
    }

    // Takes in what the completed writes delivered (all of it, when no write waits).
    void noteBytes(std::int64_t now) {
        if (connection && ioStartedUs == 0) {
            const std::int64_t total = bytesBefore + connection->bytesOut();
            if (total > bytesDelivered) {
                bytesDelivered = total;
                lastDeliveryUs = now;
            }
        }
        rateSamples.emplace_back(now, bytesDelivered);
        while (rateSamples.size() > 2 && seconds(now - rateSamples.front().first) > kRateWindowSeconds)
            rateSamples.pop_front();
    }

    double measuredRate() const {
        if (rateSamples.size() < 2) return 0;
        const auto& [t0, b0] = rateSamples.front();
        const auto& [t1, b1] = rateSamples.back();
        return t1 > t0 ? double(b1 - b0) * 8 / seconds(t1 - t0) : 0;
    }

    // Sends frame slots on the open connection until stop() or a failed write (its reason).
    std::string streamSlots() {
        const std::int64_t start = av_gettime_relative();
        const std::int64_t fps = settings.fps;
        std::int64_t slot = 0, samplesSent = 0;
        rateSamples.clear();
        noteBytes(start);
        while (true) {
            const std::int64_t due = start + slot * 1'000'000 / fps;
            {
                std::unique_lock lock(mutex);
                wake.wait_for(
                    lock, std::chrono::microseconds(std::max<std::int64_t>(due - av_gettime_relative(), 0)),
                    [&] { return stopping.load(); });
                if (stopping) return {};
            }
            const std::int64_t now = av_gettime_relative();
            // Late by more than a slot: leave the missed slots out rather than queue up.
            const std::int64_t current = (now - start) * fps / 1'000'000;
            std::int64_t skipped = 0;
            if (current > slot) {
                skipped = current - slot;
                slot = current;
            }
            const bool fresh = takePicture();
            if (std::string error = sendVideo(slot); !error.empty()) return error;
            if (std::string error = sendAudio(samplesSent, (slot + 1) * kSampleRate / fps); !error.empty())
                return error;
            ++slot;
            const std::int64_t after = av_gettime_relative();
            noteBytes(after);
            const bool resumed = stalled && after == lastDeliveryUs;
            if (resumed) stalled = false;
            {
                std::lock_guard lock(mutex);
                ++status.framesSent;
                if (!fresh) ++status.framesRepeated;
                status.framesSkipped += skipped;
                status.elapsedSeconds = seconds(after - liveSinceUs);
                status.measuredBitRate = measuredRate();
                status.bytesDelivered = bytesDelivered;
                status.secondsWithoutDelivery = seconds(after - lastDeliveryUs);
                if (resumed) status.state = LiveStreamState::live;
            }
            if (resumed || after - lastPublishUs >= 1'000'000) publish();
        }
    }

    // Waits `pauseSeconds` (telling the time left each second); false when stopped.
    bool waitToRetry(double pauseSeconds) {
        const std::int64_t until = av_gettime_relative() + std::int64_t(pauseSeconds * 1e6);
        while (true) {
            const std::int64_t left = until - av_gettime_relative();
            if (left <= 0) return !stopping;
            {
                std::lock_guard lock(mutex);
                status.retryInSeconds = std::ceil(seconds(left));
                if (liveSinceUs) status.elapsedSeconds = seconds(av_gettime_relative() - liveSinceUs);
                status.secondsWithoutDelivery = seconds(av_gettime_relative() - lastDeliveryUs);
            }
            publish();
            std::unique_lock lock(mutex);
            if (wake.wait_for(lock, std::chrono::microseconds(std::min<std::int64_t>(left, 1'000'000)),
                              [&] { return stopping.load(); }))
                return false;
        }
    }

    void setLive() {
        stalled = false;
        update([&](LiveStreamStatus& s) {
            s.state = LiveStreamState::live;
            s.reconnectAttempt = 0;
            s.retryInSeconds = 0;
            s.message.clear();
        });
    }

    void run() {
        // A peer that closes its socket must end a write with an error, not the process.
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe, nullptr);

        if (settings.captureMicrophone && target.kind != "v4l2")
            microphone = std::make_unique<Microphone>(stopping);
        const std::string shown = target.shownAddress;
        std::string error = connect();
        if (!error.empty()) {
            const bool stopped = stopping;
            update([&](LiveStreamStatus& s) {
                s.state = stopped ? LiveStreamState::ended : LiveStreamState::failed;
                if (!stopped) s.message = "Could not connect to " + shown + ": " + error;
            });
            microphone.reset();
            return;
        }
        liveSinceUs = av_gettime_relative();
        setLive();
        while (!stopping) {
            error = streamSlots();
            if (stopping) break;
            disconnect(false);
            if (target.kind == "v4l2") {
                update([&](LiveStreamStatus& s) {
                    s.state = LiveStreamState::ended;
                    s.message = "The virtual camera " + shown + " stopped taking pictures: " + error;
                });
                microphone.reset();
                return;
            }
            std::string message = "Connection to " + shown + " lost: " + error;
            for (int attempt = 1; !stopping; ++attempt) {
                const double pause =
                    kRetryPauses[std::min<std::size_t>(attempt - 1, std::size(kRetryPauses) - 1)];
                update([&](LiveStreamStatus& s) {
                    s.state = LiveStreamState::reconnecting;
                    s.reconnectAttempt = attempt;
                    s.retryInSeconds = pause;
                    s.measuredBitRate = 0;
                    s.bytesDelivered = bytesDelivered;
                    s.secondsWithoutDelivery = seconds(av_gettime_relative() - lastDeliveryUs);
                    s.message = message;
                });
                if (!waitToRetry(pause)) break;
                error = connect();
                if (error.empty()) {
                    setLive();
                    break;
                }
                message = "Could not reconnect to " + shown + ": " + error;
            }
        }
        disconnect(true);
        microphone.reset();
        update([&](LiveStreamStatus& s) {
            s.state = LiveStreamState::ended;
            s.retryInSeconds = 0;
            s.bytesDelivered = bytesDelivered;
            s.secondsWithoutDelivery = seconds(av_gettime_relative() - lastDeliveryUs);
            s.message.clear();
        });
    }
};

LiveStream::LiveStream(LiveStreamSettings settings, StatusCallback onStatus) {
    {
        if (settings.width <= 0 || settings.height <= 0 || settings.width % 2 || settings.height % 2 ||
            settings.width > 7680 || settings.height > 4320)
            throw LiveStreamError("The stream size must be even and at most 7680x4320");
        if (settings.fps < 1 || settings.fps > 120) throw LiveStreamError("The frame rate must be 1 to 120");
        if (settings.videoBitRate < 100'000 || settings.videoBitRate > 100'000'000)
            throw LiveStreamError("The video bit rate must be 0.1 to 100 Mbit/s");
        if (settings.audioBitRate < 32'000 || settings.audioBitRate > 512'000)
            throw LiveStreamError("The audio bit rate must be 32 to 512 kbit/s");
        if (!(settings.keyFrameSeconds > 0 && settings.keyFrameSeconds <= 60))
            throw LiveStreamError("The key frame interval must be above 0 and at most 60 s");
        const LiveStreamTarget target = liveStreamTarget(settings.url, settings.streamKey);
        setUpFfmpeg();
        impl_ = std::make_unique<Impl>(std::move(settings), std::move(onStatus));
        impl_->target = target;
    }
    Impl& s = *impl_;
    s.status.state = LiveStreamState::connecting;
    s.offered.resize(std::size_t(s.settings.width) * s.settings.height * 4);
    s.picture.resize(s.offered.size());
    s.yuv = av_frame_alloc();
    s.yuv->format = AV_PIX_FMT_YUV420P;
    s.yuv->width = s.settings.width;
    s.yuv->height = s.settings.height;
    s.scaler = sws_getContext(s.settings.width, s.settings.height, AV_PIX_FMT_BGRA, s.settings.width,
                              s.settings.height, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!s.scaler || av_frame_get_buffer(s.yuv, 0) < 0) throw LiveStreamError("Out of memory for the stream");
    // Black until the first picture arrives.
    const std::ptrdiff_t lines[4] = {s.yuv->linesize[0], s.yuv->linesize[1], s.yuv->linesize[2], 0};
    av_image_fill_black(s.yuv->data, lines, AV_PIX_FMT_YUV420P, AVCOL_RANGE_MPEG, s.settings.width,
                        s.settings.height);
    s.thread = std::thread([&s] { s.run(); });
}

LiveStream::~LiveStream() {
    stop();
}

void LiveStream::offerBGRA(const std::uint8_t* pixels, std::ptrdiff_t stride) {
    Impl& s = *impl_;
    const std::size_t row = std::size_t(s.settings.width) * 4;
    std::lock_guard lock(s.mutex);
    if (s.offeredFresh && s.status.state == LiveStreamState::live) ++s.status.framesDropped;
    for (int y = 0; y < s.settings.height; ++y)
        std::copy_n(pixels + stride * y, row, s.offered.data() + row * std::size_t(y));
    s.offeredFresh = true;
}

void LiveStream::stop() {
    Impl& s = *impl_;
    std::lock_guard stopLock(s.stopMutex);
    {
        std::lock_guard lock(s.mutex);
        if (!s.stopping) s.stopDeadlineUs = av_gettime_relative() + kStopGraceUs;
        s.stopping = true;
    }
    s.wake.notify_all();
    if (s.thread.joinable()) s.thread.join();
}

LiveStreamStatus LiveStream::status() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->status;
}

const LiveStreamSettings& LiveStream::settings() const {
    return impl_->settings;
}

}  // namespace vantry::platform
