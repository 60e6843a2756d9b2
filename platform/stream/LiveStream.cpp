// The encoding thread of a live stream: wall-clock frame slots, encoded once (StreamEncoder),
// each packet handed to every destination (StreamDestination: its own connection, queue,
// thread, reconnection and status), and the status of the whole.
#include "platform/stream/LiveStream.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/time.h>
}

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/media/MediaRuntime.h"
#include "platform/media/PictureConverter.h"
#include "platform/stream/StreamDestination.h"
#include "platform/stream/StreamEncoder.h"
#include "platform/stream/StreamSound.h"

namespace vantry::platform {
namespace {

constexpr int kSampleRate = media::kSampleRate;
// After stop(), the last packets and the trailers get this long.
constexpr std::int64_t kStopGraceUs = 2'000'000;

double seconds(std::int64_t micros) {
    return double(micros) / 1e6;
}

// Best first: the state the whole stream shows when its destinations differ.
int rank(LiveStreamState state) {
    switch (state) {
        case LiveStreamState::live:
            return 0;
        case LiveStreamState::stalled:
            return 1;
        case LiveStreamState::reconnecting:
            return 2;
        case LiveStreamState::connecting:
            return 3;
        case LiveStreamState::ended:
            return 4;
        case LiveStreamState::failed:
            return 5;
    }
    return 5;
}

bool done(LiveStreamState state) {
    return state == LiveStreamState::ended || state == LiveStreamState::failed;
}

}  // namespace

struct LiveStream::Impl {
    LiveStreamSettings settings;
    std::vector<LiveStreamTarget> targets;  // `url` first
    StatusCallback onStatus;
    std::vector<std::string> secrets;  // of every address, for messages
    media::LogSecrets registration;    // the same, for FFmpeg's log
    std::unique_ptr<StreamEncoder> encoder;
    std::vector<std::unique_ptr<StreamDestination>> destinations;

    mutable std::mutex mutex;
    std::condition_variable wake;
    LiveStreamStatus counters;          // under mutex: the frame counters and the clock
    bool sending = false;               // under mutex: frame slots are running
    std::string encoderFailure;         // under mutex: why encoding stopped, when it failed
    std::vector<std::uint8_t> offered;  // newest picture handed in, packed BGRA; under mutex
    bool offeredFresh = false;          // under mutex: no slot has taken it yet

    std::atomic<bool> stopping{false};
    std::atomic<bool> keyFrameWanted{false};  // a destination has just connected
    std::int64_t stopDeadlineUs = 0;          // under mutex
    std::mutex stopMutex;
    std::mutex publishMutex;  // one status report at a time, in order
    std::thread thread;

    // The encoding thread's own.
    std::shared_ptr<ProgrammeSound> programme;  // none: the stream carries silence
    std::unique_ptr<StreamSound> sound;
    std::vector<std::uint8_t> picture;                   // the picture being encoded, packed BGRA
    std::unique_ptr<media::PictureConverter> converter;  // black until the first picture arrives
    std::int64_t liveSinceUs = 0;
    std::int64_t lastPublishUs = 0;

    Impl(LiveStreamSettings s, StatusCallback cb, std::vector<LiveStreamTarget> t,
         std::vector<std::string> allSecrets)
        : settings(std::move(s)),
          targets(std::move(t)),
          onStatus(std::move(cb)),
          secrets(std::move(allSecrets)),
          registration(secrets) {}

    ~Impl() { destinations.clear(); }

    LiveStreamStatus compose() const {
        LiveStreamStatus s;
        std::string failure;
        {
            std::lock_guard lock(mutex);
            s = counters;
            failure = encoderFailure;
        }
        for (const auto& d : destinations) s.destinations.push_back(d->status());
        if (s.destinations.empty()) return s;
        const LiveStreamDestinationStatus* shown = &s.destinations.front();
        for (const auto& d : s.destinations)
            if (rank(d.state) < rank(shown->state)) shown = &d;
        s.state = shown->state;
        s.reconnectAttempt = shown->reconnectAttempt;
        s.retryInSeconds = shown->retryInSeconds;
        s.secondsWithoutDelivery = shown->secondsWithoutDelivery;
        s.measuredBitRate = 0;
        s.bytesDelivered = 0;
        s.message.clear();
        for (const auto& d : s.destinations) {
            s.measuredBitRate += d.measuredBitRate;
            s.bytesDelivered += d.bytesDelivered;
            if (d.message.empty()) continue;
            if (!s.message.empty()) s.message += "; ";
            s.message += d.message;
        }
        if (!failure.empty()) {
            s.state = LiveStreamState::failed;
            s.message = failure;
        }
        s.message = redactStreamSecrets(s.message, secrets);
        return s;
    }

    void publish() {
        {
            std::lock_guard lock(publishMutex);
            const LiveStreamStatus copy = compose();
            if (onStatus) onStatus(copy);
        }
        wake.notify_all();
    }

    // ---- frames

    // Takes the newest picture into the YUV frame; false when the slot repeats the last one.
    bool takePicture() {
        {
            std::lock_guard lock(mutex);
            if (!offeredFresh) return false;
            picture.swap(offered);
            offeredFresh = false;
        }
        converter->convertBGRA(picture.data(), std::ptrdiff_t(settings.width) * 4);
        return true;
    }

    bool anyDestination(bool (*test)(const StreamDestination&)) const {
        return std::any_of(destinations.begin(), destinations.end(), [&](auto& d) { return test(*d); });
    }
    bool allDone() const {
        return std::all_of(destinations.begin(), destinations.end(),
                           [](auto& d) { return done(d->status().state); });
    }

    // Encodes frame slots, each packet to every destination, until stop() or until no
    // destination is left (a device that went away); an encoder's failure as a message.
    std::string encodeSlots() {
        const StreamEncoder::Sink sink = [this](const AVPacket* packet, bool video) {
            for (auto& d : destinations) d->push(packet, video);
        };
        const std::int64_t start = av_gettime_relative();
        // The sound's stamps count on the wall clock: sample 0 is this moment on it too.
        if (programme) sound = std::make_unique<StreamSound>(programme, ProgrammeSound::nowUs());
        // The programme sound of a moment arrives a little after its picture: it is encoded that
        // much later, under its own time stamps.
        const std::int64_t soundDelay = sound ? StreamSound::kDelaySamples : 0;
        const std::int64_t fps = settings.fps;
        std::int64_t slot = 0, samplesSent = 0;
        while (true) {
            const std::int64_t due = start + slot * 1'000'000 / fps;
            {
                std::unique_lock lock(mutex);
                wake.wait_for(
                    lock, std::chrono::microseconds(std::max<std::int64_t>(due - av_gettime_relative(), 0)),
                    [&] { return stopping.load(); });
                if (stopping) break;
            }
            if (allDone()) break;
            const std::int64_t now = av_gettime_relative();
            // Late by more than a slot: leave the missed slots out rather than queue up.
            const std::int64_t current = (now - start) * fps / 1'000'000;
            std::int64_t skipped = 0;
            if (current > slot) {
                skipped = current - slot;
                slot = current;
            }
            const bool fresh = takePicture();
            AVFrame* yuv = converter->frame();
            // A fresh connection starts at once, not at the next regular key frame.
            yuv->pict_type = keyFrameWanted.exchange(false) ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
            if (std::string error = encoder->sendVideo(yuv, slot, sink); !error.empty()) return error;
            if (std::string error = encoder->sendAudio(
                    samplesSent, (slot + 1) * kSampleRate / fps - soundDelay, sound.get(), sink);
                !error.empty())
                return error;
            ++slot;
            const std::int64_t after = av_gettime_relative();
            {
                std::lock_guard lock(mutex);
                ++counters.framesSent;
                if (!fresh) ++counters.framesRepeated;
                counters.framesSkipped += skipped;
                counters.elapsedSeconds = seconds(after - liveSinceUs);
            }
            if (after - lastPublishUs >= 1'000'000) {
                lastPublishUs = after;
                publish();
            }
        }
        // Both tracks end together.
        if (std::string error = encoder->sendAudio(samplesSent, slot * kSampleRate / fps, sound.get(), sink);
            !error.empty())
            return error;
        encoder->finish(sink);
        return {};
    }

    void finishDestinations() {
        std::int64_t deadline = 0;
        {
            std::lock_guard lock(mutex);
            sending = false;
            deadline = stopDeadlineUs ? stopDeadlineUs : av_gettime_relative() + kStopGraceUs;
        }
        for (auto& d : destinations) d->interrupt(deadline);
        for (auto& d : destinations) d->finish(deadline);
    }

    void run() {
        // A peer that closes its socket must end a write with an error, not the process.
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe, nullptr);

        if (settings.captureMicrophone && targets.front().kind != "v4l2")
            programme = settings.sound ? settings.sound : std::make_shared<ProgrammeSound>();
        for (auto& d : destinations) d->start();
        // The clock starts as soon as one server has answered: one still connecting (slow, silent
        // or not up yet) joins at the next key frame, which it asks for when it connects.
        while (!stopping) {
            if (anyDestination([](const StreamDestination& d) { return d.everLive(); }) ||
                std::all_of(destinations.begin(), destinations.end(), [](auto& d) { return d->settled(); }))
                break;
            std::unique_lock lock(mutex);
            wake.wait_for(lock, std::chrono::milliseconds(20), [&] { return stopping.load(); });
        }
        if (!stopping && anyDestination([](const StreamDestination& d) { return d.everLive(); })) {
            liveSinceUs = av_gettime_relative();
            {
                std::lock_guard lock(mutex);
                sending = true;
            }
            if (std::string error = encodeSlots(); !error.empty()) {
                std::lock_guard lock(mutex);
                encoderFailure = "Encoding stopped: " + error;
            }
        }
        finishDestinations();
        sound.reset();
        programme.reset();
        publish();
    }
};

LiveStream::LiveStream(LiveStreamSettings settings, StatusCallback onStatus) {
    if (settings.width <= 0 || settings.height <= 0 || settings.width % 2 || settings.height % 2 ||
        settings.width > 7680 || settings.height > 4320)
        throw LiveStreamError("The stream size must be even and at most 7680x4320");
    if (settings.fps < 1 || settings.fps > 120) throw LiveStreamError("The frame rate must be 1 to 120");
    if (!isStreamVideoBitRate(settings.videoBitRate))
        throw LiveStreamError("The video bit rate must be 0.1 to 50 Mbit/s");
    if (settings.audioBitRate < 32'000 || settings.audioBitRate > 512'000)
        throw LiveStreamError("The audio bit rate must be 32 to 512 kbit/s");
    if (!(settings.keyFrameSeconds > 0 && settings.keyFrameSeconds <= 60))
        throw LiveStreamError("The key frame interval must be above 0 and at most 60 s");
    if (settings.moreDestinations.size() + 1 > std::size_t(kMaxStreamDestinations))
        throw LiveStreamError("A stream goes to at most " + std::to_string(kMaxStreamDestinations) +
                              " servers");
    std::vector<LiveStreamDestination> all{{settings.url, settings.streamKey}};
    all.insert(all.end(), settings.moreDestinations.begin(), settings.moreDestinations.end());
    std::vector<LiveStreamTarget> targets;
    std::vector<std::vector<std::string>> secrets;
    std::vector<std::string> allSecrets;
    for (const LiveStreamDestination& d : all) {
        targets.push_back(liveStreamTarget(d.url, d.streamKey));
        if (std::string fault = srtPassphraseFault(d.url); !fault.empty())
            throw LiveStreamAddressError(fault);
        secrets.push_back(liveStreamSecrets(d.url, d.streamKey));
        allSecrets.insert(allSecrets.end(), secrets.back().begin(), secrets.back().end());
        if (all.size() > 1 && targets.back().kind == "v4l2")
            throw LiveStreamAddressError("A virtual camera cannot be one of several stream destinations");
        for (std::size_t i = 0; i + 1 < targets.size(); ++i)
            if (targets[i].address == targets.back().address)
                throw LiveStreamAddressError("The stream goes to " + targets.back().shownAddress +
                                             " twice: give each server once");
    }
    const bool raw = targets.front().kind == "v4l2";
    // FLV wants the H.264 headers in the container header; MPEG-TS repeats them at each key frame
    // itself, taking them from there when the pictures do not carry them.
    const bool globalHeader = std::any_of(targets.begin(), targets.end(),
                                          [](auto& t) { return t.kind == "rtmp" || t.kind == "rtmps"; });
    media::H264Backend backend = media::H264Backend::x264;
    try {
        if (!raw) backend = media::pickH264(settings.encoder);
    } catch (const media::MediaError& e) {
        throw LiveStreamError(e.what());
    }
    impl_ = std::make_unique<Impl>(std::move(settings), std::move(onStatus), targets, allSecrets);
    Impl& s = *impl_;
    s.encoder = std::make_unique<StreamEncoder>(s.settings, raw, backend, globalHeader);
    for (std::size_t i = 0; i < targets.size(); ++i)
        s.destinations.push_back(std::make_unique<StreamDestination>(
            s.settings, targets[i], secrets[i],
            StreamDestination::Formats{s.encoder->videoFormat(), s.encoder->audioFormat()},
            [&s] { s.publish(); }, [&s] { s.keyFrameWanted = true; }));
    s.counters.state = LiveStreamState::connecting;
    s.offered.resize(std::size_t(s.settings.width) * s.settings.height * 4);
    s.picture.resize(s.offered.size());
    try {
        s.converter = std::make_unique<media::PictureConverter>(s.settings.width, s.settings.height);
    } catch (const media::MediaError&) {
        throw LiveStreamError("Out of memory for the stream");
    }
    s.thread = std::thread([&s] { s.run(); });
}

LiveStream::~LiveStream() {
    stop();
}

void LiveStream::offerBGRA(const std::uint8_t* pixels, std::ptrdiff_t stride) {
    Impl& s = *impl_;
    const std::size_t row = std::size_t(s.settings.width) * 4;
    std::lock_guard lock(s.mutex);
    if (s.offeredFresh && s.sending) ++s.counters.framesDropped;
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
    // Connecting and waiting to retry end at once; what is encoded still goes out.
    for (auto& d : s.destinations) d->interrupt(s.stopDeadlineUs);
    if (s.thread.joinable()) s.thread.join();
}

LiveStreamStatus LiveStream::status() const {
    return impl_->compose();
}

const LiveStreamSettings& LiveStream::settings() const {
    return impl_->settings;
}

}  // namespace vantry::platform
