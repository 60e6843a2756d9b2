#include "platform/screen-recorder/RecordingSession.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/time.h>
}

#include <algorithm>
#include <cstdio>

#include "platform/media/AacEncoder.h"
#include "platform/media/H264Encoder.h"
#include "platform/media/MediaRuntime.h"
#include "platform/media/Muxer.h"
#include "platform/media/PictureConverter.h"

namespace vantry::platform::screen_recording {
namespace fs = std::filesystem;
namespace {

using media::errorText;
constexpr int kSampleRate = media::kSampleRate;
constexpr std::int64_t kAudioBitRate = 160'000;
// How long the first try of the sound devices may take.
constexpr auto kSoundOpenLimit = std::chrono::seconds(5);

}  // namespace

RecordingSession::RecordingSession() = default;

RecordingSession::~RecordingSession() {
    if (audioThread.joinable()) {
        stopping = true;
        audioThread.join();
    }
    audioEncoder.reset();
    tap.reset();
    sound.reset();
    if (soundFifo) av_audio_fifo_free(soundFifo);
    videoEncoder.reset();
    source.reset();
    output.reset();
}

void RecordingSession::openAudio(bool mic) {
    if (!options.captureAudio) return;
    sound = options.sound;
    if (!sound) {
        ProgrammeSoundOptions own;
        own.desktopSource = options.monitorSource;  // "game audio"
        own.micSource = mic ? options.microphoneSource : std::string();
        sound = std::make_shared<ProgrammeSound>(own);
    }
    sound->waitUntilTried(kSoundOpenLimit);
    if (!sound->serverReachable()) {
        log("no sound server reachable: this recording has video only (no sound)");
        sound.reset();
        return;
    }
    for (const audio::MixSource which : {audio::MixSource::desktop, audio::MixSource::mic}) {
        const std::string line = describeSoundSource(which, sound->status(which));
        if (!line.empty()) log(line);
    }
    micInMix = mic && sound->status(audio::MixSource::mic).state == SoundSourceState::live;
    soundFifo = av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, 2, kSampleRate);
    if (!soundFifo) {
        sound.reset();
        return;
    }
    // From now on: the blocks wait for the file's time 0.
    tap = sound->tap(mic);
}

std::optional<std::string> RecordingSession::openX11Screen(const std::string& display) {
    std::string error;
    AVFormatContext* screen = screen_recording::openScreen(display, options.fps, &stopping, error);
    if (!screen) return "Cannot capture the screen of display " + display + ": " + error + ".";
    source = std::make_unique<X11ScreenSource>(screen);
    const AVCodecParameters* screenPar = screen->streams[0]->codecpar;
    screenFormat = static_cast<AVPixelFormat>(screenPar->format);
    screenWidth = screenPar->width;
    screenHeight = screenPar->height;
    if ((screenWidth & ~1) <= 0 || (screenHeight & ~1) <= 0)
        return "The screen of display " + display + " has no size.";
    return std::nullopt;
}

std::optional<ScreenRecorderError> RecordingSession::openPortal() {
    const auto failure = [](const std::string& what) {
        return ScreenRecorderError{"Cannot capture the screen through the desktop portal: " + what + ".",
                                   false};
    };
    const fs::path settings =
        options.portalSettingsFile.empty() ? screenCastSettingsFile() : options.portalSettingsFile;
    const std::string token = loadScreenCastRestoreToken(settings);
    PortalOpening opened = openPortalScreen(token, options.portalDialogTimeoutMs, options.fps, stopping);
    if (opened.status == PortalStart::Status::cancelled)
        return ScreenRecorderError{LinuxScreenRecorder::kCancelledText, true};
    // The desktop asks only the first time: its token picks the same source next time.
    if (!opened.restoreToken.empty() && opened.restoreToken != token) {
        try {
            saveScreenCastRestoreToken(settings, opened.restoreToken);
        } catch (const fs::filesystem_error& e) {
            log("cannot keep the screen choice in " + settings.string() + ": " + e.code().message());
        }
    }
    if (opened.status != PortalStart::Status::started) return failure(opened.error);
    std::unique_ptr<PortalScreenSource> screen = std::move(opened.source);
    ScreenPicture first;
    screen->peek(first);
    screenFormat = first.format;
    screenWidth = first.width;
    screenHeight = first.height;
    portalSource = screen.get();
    source = std::move(screen);
    if ((screenWidth & ~1) <= 0 || (screenHeight & ~1) <= 0)
        return failure("the picture from the portal has no size");
    return std::nullopt;
}

CapturePlan RecordingSession::plan(media::H264Backend backend) const {
    // A hardware encoder keeps up with any screen; x264 on a screen too big for this machine
    // is scaled down (or encoded faster) up front, rather than losing most of its frames as
    // repeats.
    if (backend != media::H264Backend::x264)
        return CapturePlan{screenWidth & ~1, screenHeight & ~1, options.preset, {}};
    const unsigned cores = options.encoderCores > 0 ? unsigned(options.encoderCores)
                                                    : std::max(1u, std::thread::hardware_concurrency());
    return planCapture(screenWidth, screenHeight, options.fps, cores, options.preset);
}

std::optional<std::string> RecordingSession::openOutput(const CapturePlan& plan, bool mic) {
    const std::string file = stats.scratchFile.string();
    try {
        output = std::make_unique<media::Muxer>("mp4", file);
        media::H264Settings h264;
        h264.width = plan.width;
        h264.height = plan.height;
        h264.fps = options.fps;
        h264.bitRate = stats.videoBitRate;
        h264.keyFrameInterval = 2 * options.fps;  // a key frame, and so a fragment, every 2 s
        h264.fixedKeyFrames = true;
        h264.closedGop = true;
        h264.allThreads = true;
        h264.preset = plan.preset;
        h264.globalHeader = output->wantsGlobalHeader();
        h264.backend = stats.encoder;
        videoEncoder = std::make_unique<media::H264Encoder>(h264);
        videoStream = output->addStream(videoEncoder->context());
    } catch (const media::MediaError& e) {
        return "Cannot start the recording: " + std::string(e.what()) + ".";
    }

    if (!openConverter(plan.width, plan.height))
        return "Cannot convert the screen's pixel format for the encoder.";

    if (tap) {
        try {
            audioEncoder = std::make_unique<media::AacEncoder>(
                media::AacSettings{kAudioBitRate, output->wantsGlobalHeader()});
            audioStream = output->addStream(audioEncoder->context());
            stats.hasAudio = true;
            stats.microphoneMixed = mic && micInMix;
        } catch (const media::MediaError&) {
            log("the AAC encoder is not available: this recording has video only (no sound)");
            audioEncoder.reset();
            tap.reset();
        }
    }

    int rc = output->openOutput();
    if (rc < 0) return "Cannot create the recording '" + file + "': " + errorText(rc) + ".";
    // Each finished fragment goes to the file at once, not when the write buffer fills.
    output->context()->flags |= AVFMT_FLAG_FLUSH_PACKETS;
    // An empty index up front and a self-contained fragment at every key frame.
    rc = output->writeHeader({{"movflags", "+frag_keyframe+empty_moov+default_base_moof"}});
    if (rc < 0) {
        output.reset();
        std::error_code ignored;
        fs::remove(file, ignored);
        return "Cannot write the recording: " + errorText(rc) + ".";
    }
    return std::nullopt;
}

void RecordingSession::begin() {
    origin = av_gettime();
    if (portalSource) portalSource->setOrigin(origin);
    videoThread = std::thread([this] { videoLoop(); });
    if (audioEncoder) audioThread = std::thread([this] { audioLoop(); });
}

std::string RecordingSession::finish(std::int64_t endMicros) {
    stopping = true;
    if (videoThread.joinable()) videoThread.join();
    if (audioThread.joinable()) audioThread.join();

    bool failed;
    {
        std::lock_guard lock(muxMutex);
        failed = !writeError.empty();
    }
    // The file's video lasts until the stop, even when the last grabs came late.
    if (!failed) repeatLastFrameUntil(indexAt(endMicros));
    encodeVideo(nullptr);
    if (audioEncoder && !failed) {
        // Blocks of the time before the stop that are already mixed still go in.
        ProgrammeSound::Block block;
        while (tap->tryPop(block) && block.stampUs < endMicros) takeBlock(block, true);
        while (av_audio_fifo_size(soundFifo) > 0) encodeAudioFrame(true);
        // Sound the server had not handed over by the stop becomes silence, so both tracks end together.
        const std::int64_t videoSamples = (lastIndex + 1) * kSampleRate / options.fps;
        if (audioPts < videoSamples) encodeSilence(videoSamples - audioPts);
        audioEncoder->flush();
        writePackets(*audioEncoder, audioStream);
    }
    std::string error;
    {
        std::lock_guard lock(muxMutex);
        if (writeError.empty()) {
            const int rc = output->writeTrailer();
            if (rc < 0) noteWriteError("cannot finish the recording: " + errorText(rc));
        }
        const int closeRc = output->closeOutput();
        if (closeRc < 0) noteWriteError("cannot close the recording: " + errorText(closeRc));
        error = writeError;
    }
    const double seconds = double(lastIndex + 1) / options.fps;
    if (audioEncoder && sound) {
        const double heard = double(samplesHeard) / kSampleRate;
        if (heard < seconds * 0.9) {
            char line[160];
            std::snprintf(line, sizeof line, "%.1f s of %.1f s of sound arrived (the rest is silence)", heard,
                          seconds);
            log(line);
        }
        for (const audio::MixSource which : {audio::MixSource::desktop, audio::MixSource::mic}) {
            const SoundSourceStatus status = sound->status(which);
            if (status.lost > 0)
                log(std::string(audio::mixSourceTitle(which)) + " went away " + std::to_string(status.lost) +
                    " time(s) during the recording: silence while it was gone");
        }
    }
    if (stats.framesRepeated > 0)
        log(std::to_string(stats.framesRepeated) + " of " + std::to_string(stats.framesWritten) +
            " frames were grabbed late and repeat the frame before");
    return error;
}

void RecordingSession::noteWriteError(const std::string& what) {
    if (writeError.empty()) writeError = what;
}

template <class Encoder>
void RecordingSession::writePackets(Encoder& encoder, AVStream* stream) {
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

void RecordingSession::encodeVideo(AVFrame* frame) {
    if (videoEncoder->send(frame) < 0) return;
    writePackets(*videoEncoder, videoStream);
}

void RecordingSession::repeatLastFrameUntil(std::int64_t until) {
    if (lastIndex < 0) return;
    for (std::int64_t i = lastIndex + 1; i < until; ++i) {
        picture->pts = i;
        encodeVideo(picture);
        ++stats.framesRepeated;
        ++stats.framesWritten;
    }
    if (until - 1 > lastIndex) lastIndex = until - 1;
}

std::int64_t RecordingSession::indexAt(std::int64_t micros) const {
    return std::max<std::int64_t>(((micros - origin) * options.fps + 500'000) / 1'000'000, 0);
}

void RecordingSession::videoLoop() {
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
        if (!convertPicture(shot)) continue;
        for (std::int64_t i = lastIndex + 1; i <= index; ++i) {
            picture->pts = i;
            encodeVideo(picture);
            ++stats.framesWritten;
        }
        lastIndex = index;
    }
}

void RecordingSession::audioLoop() {
    // The mix comes a little behind the clock: after the stop its blocks up to the stop are
    // still taken (for a second at most), so that the sound lasts as long as the pictures.
    using clock = std::chrono::steady_clock;
    std::optional<clock::time_point> stoppedAt;
    ProgrammeSound::Block block;
    while (true) {
        if (stopping && !stoppedAt) stoppedAt = clock::now();
        if (stoppedAt && clock::now() - *stoppedAt > std::chrono::seconds(1)) break;
        if (!tap->pop(block, std::chrono::milliseconds(100))) continue;
        if (block.stampUs >= stopAt->load()) break;
        takeBlock(block, false);
    }
}

void RecordingSession::takeBlock(const ProgrammeSound::Block& block, bool closing) {
    const float* planes[2] = {block.left.data(), block.right.data()};
    int frames = audio::kBlockFrames;
    int skip = 0;
    if (!placed) {
        // The sound starts where it was captured on the file's clock: silence before it, or the
        // part captured before time 0 dropped.
        const std::int64_t offset = (block.stampUs - origin) * kSampleRate / 1'000'000;
        if (offset <= -frames) return;
        placed = true;
        if (offset < 0) skip = int(-offset);
        if (offset > 0) encodeSilence(std::min<std::int64_t>(offset, std::int64_t(kSampleRate) * 10));
    }
    const float* shifted[2] = {planes[0] + skip, planes[1] + skip};
    av_audio_fifo_write(soundFifo, reinterpret_cast<void**>(const_cast<float**>(shifted)), frames - skip);
    samplesHeard += frames - skip;
    if (closing) return;
    while (av_audio_fifo_size(soundFifo) >= audioEncoder->frameSize()) encodeAudioFrame(false);
}

void RecordingSession::encodeSilence(std::int64_t count) {
    while (count > 0) {
        const int n = int(std::min<std::int64_t>(count, audioEncoder->frameSize()));
        if (audioEncoder->sendSilence(n, audioPts) < 0) return;
        audioPts += n;
        count -= n;
        writePackets(*audioEncoder, audioStream);
    }
}

void RecordingSession::encodeAudioFrame(bool partial) {
    const int size = audioEncoder->frameSize();
    const int n = partial ? std::min(av_audio_fifo_size(soundFifo), size) : size;
    if (n <= 0) return;
    AVFrame* frame = audioEncoder->frame();
    if (!frame) return;
    av_audio_fifo_read(soundFifo, reinterpret_cast<void**>(frame->data), n);
    if (audioEncoder->sendFrame(n, audioPts) < 0) return;
    audioPts += n;
    writePackets(*audioEncoder, audioStream);
}

bool RecordingSession::openConverter(int width, int height) {
    if (!media::PictureConverter::accepts(screenFormat)) return false;
    try {
        converter = std::make_unique<media::PictureConverter>(width, height);
    } catch (const media::MediaError&) {
        return false;
    }
    picture = converter->frame();
    return true;
}

bool RecordingSession::convertPicture(const ScreenPicture& shot) {
    // A window's picture may change its size on the way: it is scaled to the file's.
    return converter->convert(shot.planes, shot.strides, shot.width, shot.height, shot.format);
}

}  // namespace vantry::platform::screen_recording
