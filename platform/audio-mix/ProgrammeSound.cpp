#include "platform/audio-mix/ProgrammeSound.h"

#include <algorithm>
#include <mutex>

#include "platform/audio-mix/SoundDevices.h"
#include "platform/audio-mix/SpeexNoiseSuppressor.h"
#include "platform/audio-mix/StampedFifo.h"
#include "platform/media/MediaRuntime.h"
#include "platform/media/PulseCapture.h"

namespace vantry::platform {
namespace {

using audio::kBlockFrames;
using audio::kSampleRate;
using audio::MixSource;
constexpr int kPieceMs = 10;
constexpr std::size_t kMaxTapBlocks = 100;  // a second
constexpr std::int64_t kBlockUs = std::int64_t(kBlockFrames) * 1'000'000 / kSampleRate;

// Devices are opened one at a time, by every sound of the process: the sound server's client
// library sets up its shared state lazily on the first connection, and two capture threads
// connecting at the same moment meet in that set-up.
std::mutex& deviceOpening() {
    static std::mutex opening;
    return opening;
}

}  // namespace

std::unique_ptr<audio::NoiseSuppressor> speexSuppressor() {
    return std::make_unique<SpeexNoiseSuppressor>();
}

std::string describeSoundSource(MixSource source, const SoundSourceStatus& status) {
    if (status.state != SoundSourceState::missing) return {};
    return std::string(audio::mixSourceTitle(source)) + ": " + status.message;
}

struct ProgrammeSound::Source {
    MixSource which;
    std::string device;                  // under ProgrammeSound::mutex_
    SoundSourceStatus status;            // under ProgrammeSound::mutex_
    bool tried = false;                  // under ProgrammeSound::mutex_: the first attempt is over
    bool noServer = false;               // under ProgrammeSound::mutex_: the last attempt found none
    std::atomic<bool> interrupt{false};  // stop, or another device chosen
    std::mutex fifoMutex;
    StampedFifo fifo{kSampleRate};
    std::thread thread;
};

// ---- Tap

bool ProgrammeSound::Tap::pop(Block& block, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    ready_.wait_for(lock, timeout, [&] { return !blocks_.empty() || ended_; });
    if (blocks_.empty()) return false;
    block = blocks_.front();
    blocks_.pop_front();
    return true;
}

bool ProgrammeSound::Tap::tryPop(Block& block) {
    return pop(block, std::chrono::milliseconds(0));
}

void ProgrammeSound::Tap::push(const Block& block) {
    {
        std::lock_guard lock(mutex_);
        blocks_.push_back(block);
        while (blocks_.size() > kMaxTapBlocks) blocks_.pop_front();
    }
    ready_.notify_all();
}

void ProgrammeSound::Tap::end() {
    {
        std::lock_guard lock(mutex_);
        ended_ = true;
    }
    ready_.notify_all();
}

// ---- ProgrammeSound

std::int64_t ProgrammeSound::nowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

namespace {

std::mutex sharedMutex;
std::shared_ptr<ProgrammeSound>& sharedSound() {
    static std::shared_ptr<ProgrammeSound> sound;
    return sound;
}

}  // namespace

std::shared_ptr<ProgrammeSound> ProgrammeSound::shared() {
    std::lock_guard lock(sharedMutex);
    if (!sharedSound()) sharedSound() = std::make_shared<ProgrammeSound>();
    return sharedSound();
}

std::shared_ptr<ProgrammeSound> ProgrammeSound::sharedIfMade() {
    std::lock_guard lock(sharedMutex);
    return sharedSound();
}

ProgrammeSound::ProgrammeSound(ProgrammeSoundOptions options)
    : mixer_(options.makeSuppressor ? options.makeSuppressor() : nullptr),
      defaultDevices_{options.micSource, options.desktopSource} {
    mixer_.setVoiceFilters(options.voiceFilters);
    const std::array<std::string, 2>& devices = defaultDevices_;
    for (int i = 0; i < 2; ++i) {
        sources_[std::size_t(i)] = std::make_unique<Source>();
        Source& s = *sources_[std::size_t(i)];
        s.which = MixSource(i);
        s.device = devices[std::size_t(i)];
        s.status.device = s.device;
        s.status.state = s.device.empty() ? SoundSourceState::off : SoundSourceState::opening;
        s.tried = s.device.empty();
    }
    retryMs_ = std::max(options.retryMs, 10);
    for (auto& s : sources_) {
        Source* source = s.get();
        source->thread = std::thread([this, source, retryMs = retryMs_] {
            while (!stopping_) {
                captureLoop(*source);
                std::unique_lock lock(mutex_);
                changed_.wait_for(lock, std::chrono::milliseconds(retryMs),
                                  [&] { return stopping_.load() || source->interrupt.load(); });
            }
        });
    }
    mixThread_ = std::thread([this] { mixLoop(); });
}

ProgrammeSound::~ProgrammeSound() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        for (auto& s : sources_) s->interrupt = true;
    }
    changed_.notify_all();
    for (auto& s : sources_) s->thread.join();
    mixThread_.join();
    std::lock_guard lock(mutex_);
    for (auto& weak : taps_)
        if (auto tap = weak.lock()) tap->end();
}

void ProgrammeSound::setState(Source& source, const std::string& device, SoundSourceState state,
                              const std::string& message, bool noServer) {
    std::function<void()> handler;
    {
        std::lock_guard lock(mutex_);
        // A choice made while the device was being opened or read is the source's status now.
        if (source.device != device) return;
        const bool same = source.status.state == state && source.status.message == message;
        if (state == SoundSourceState::live) ++source.status.opened;
        if (source.status.state == SoundSourceState::live && state == SoundSourceState::missing)
            ++source.status.lost;
        source.status.state = state;
        source.status.message = message;
        source.tried = true;
        source.noServer = noServer;
        if (!same) handler = onStatus_;
    }
    changed_.notify_all();
    if (handler) handler();
}

void ProgrammeSound::captureLoop(Source& source) {
    std::string device;
    {
        std::lock_guard lock(mutex_);
        device = source.device;
        source.interrupt = stopping_.load();
    }
    if (device.empty() || stopping_) return;
    std::unique_ptr<media::PulseCapture> capture;
    try {
        std::lock_guard opening(deviceOpening());
        capture = std::make_unique<media::PulseCapture>(device, kPieceMs, source.interrupt);
    } catch (const media::MediaError&) {
        if (source.interrupt) return;
        // Tell a missing device from a missing server, so that the window can say which.
        const bool server = [] {
            std::lock_guard opening(deviceOpening());
            return soundServerAnswers();
        }();
        setState(source, device, SoundSourceState::missing,
                 server ? "no sound from '" + device + "' (tried again every few seconds)"
                        : "no sound server: picture only",
                 !server);
        return;
    }
    setState(source, device, SoundSourceState::live, {}, false);
    // The server moves the capture of a device that goes away to another one rather than end
    // it: a named device is looked for every retryMs while it plays.
    const bool named = device != "default" && device.front() != '@';
    auto lastLook = std::chrono::steady_clock::now();
    bool gone = false;
    media::PulseCapture::Piece piece;
    while (!gone && capture->read(piece)) {
        // Stamped by its arrival: the server's own stamps start up to a tenth of a second off
        // and swing while its clock filter settles, where the arrival is late by the piece's
        // length and the scheduling alone (the fifo smooths the rest).
        const std::int64_t arrivedUs = nowUs() - std::int64_t(piece.samples) * 1'000'000 / kSampleRate;
        {
            std::lock_guard lock(source.fifoMutex);
            source.fifo.write(piece.left, piece.right, piece.samples, arrivedUs);
        }
        if (!named || std::chrono::steady_clock::now() - lastLook < std::chrono::milliseconds(retryMs_))
            continue;
        lastLook = std::chrono::steady_clock::now();
        std::vector<media::PulseSourceInfo> present;
        std::string error;
        gone = !media::listPulseSources(present, error) ||
               std::none_of(present.begin(), present.end(), [&](auto& p) { return p.name == device; });
    }
    {
        std::lock_guard lock(source.fifoMutex);
        source.fifo.clear();
    }
    if (source.interrupt) return;  // stopped, or another device chosen: no fault
    const std::string why = gone ? std::string("no longer offered by the sound server") : capture->error();
    setState(source, device, SoundSourceState::missing,
             "'" + device + "' went away: silence until it returns (" + why + ")", false);
}

void ProgrammeSound::mixLoop() {
    using clock = std::chrono::steady_clock;
    const clock::time_point start = clock::now();
    const std::int64_t startUs = nowUs() - std::int64_t(kLatencyMs) * 1000;
    std::array<std::array<float, kBlockFrames>, 6> in{};  // mic l/r, desktop l/r, wall video l/r
    Block mixed, dry;
    for (std::int64_t n = 0; !stopping_; ++n) {
        const clock::time_point due = start + std::chrono::microseconds((n + 1) * kBlockUs);
        {
            std::unique_lock lock(mutex_);
            changed_.wait_until(lock, due, [&] { return stopping_.load(); });
            if (stopping_) break;
        }
        // Far behind (a machine that stalled): leave the missed blocks out.
        const std::int64_t current =
            std::chrono::duration_cast<std::chrono::microseconds>(clock::now() - start).count() / kBlockUs -
            1;
        if (current > n + 10) n = current;
        const std::int64_t stamp = startUs + n * kBlockUs;
        std::array<audio::StereoBlock, audio::kMixSourceCount> inputs{};
        for (int i = 0; i < 2; ++i) {
            Source& s = *sources_[std::size_t(i)];
            float* l = in[std::size_t(2 * i)].data();
            float* r = in[std::size_t(2 * i + 1)].data();
            std::lock_guard lock(s.fifoMutex);
            if (s.fifo.take(l, r, kBlockFrames, stamp) > 0) inputs[std::size_t(i)] = {l, r};
        }
        std::vector<std::shared_ptr<Tap>> taps;
        std::shared_ptr<audio::SoundFeed> wall;
        {
            std::lock_guard lock(mutex_);
            wall = wallSound_;
            for (auto it = taps_.begin(); it != taps_.end();) {
                if (auto tap = it->lock()) {
                    taps.push_back(std::move(tap));
                    ++it;
                } else {
                    it = taps_.erase(it);
                }
            }
        }
        // The wall video's sound is read on every block, muted or not, so that it keeps in step
        // with the pictures.
        if (wall && wall->read(in[4].data(), in[5].data(), kBlockFrames) > 0)
            inputs[std::size_t(MixSource::wallVideo)] = {in[4].data(), in[5].data()};
        // The mix runs whether or not anyone listens: the meters show it.
        mixer_.process(inputs, mixed.left.data(), mixed.right.data());
        // The chain's own delay (noise suppression, the limiter's look-ahead) is the mix's too.
        const std::int64_t chainUs = std::int64_t(mixer_.latencyFrames()) * 1'000'000 / kSampleRate;
        mixed.stampUs = stamp - chainUs;
        const bool anyDry = std::any_of(taps.begin(), taps.end(), [](auto& t) { return !t->withMic(); });
        if (anyDry) {
            for (int i = 0; i < audio::kMixSourceCount; ++i)
                withoutMic_.setSettings(MixSource(i), mixer_.settings(MixSource(i)));
            withoutMic_.setVoiceFilters(mixer_.voiceFilters());
            inputs[std::size_t(MixSource::mic)] = {};
            withoutMic_.process(inputs, dry.left.data(), dry.right.data());
            dry.stampUs = stamp - std::int64_t(withoutMic_.latencyFrames()) * 1'000'000 / kSampleRate;
        }
        for (auto& tap : taps) tap->push(tap->withMic() ? mixed : dry);
    }
}

std::shared_ptr<ProgrammeSound::Tap> ProgrammeSound::tap(bool withMic) {
    auto tap = std::shared_ptr<Tap>(new Tap(withMic));
    std::lock_guard lock(mutex_);
    taps_.push_back(tap);
    return tap;
}

void ProgrammeSound::setDevice(MixSource which, const std::string& device) {
    if (which == MixSource::wallVideo) return;
    Source& s = *sources_[std::size_t(which)];
    {
        std::lock_guard lock(mutex_);
        if (s.device == device) return;
        s.device = device;
        s.status = SoundSourceStatus{};
        s.status.device = device;
        s.status.state = device.empty() ? SoundSourceState::off : SoundSourceState::opening;
        s.tried = device.empty();
        s.interrupt = true;
    }
    changed_.notify_all();
}

void ProgrammeSound::setWallVideoSound(std::shared_ptr<audio::SoundFeed> feed) {
    std::lock_guard lock(mutex_);
    wallSound_ = std::move(feed);
}

std::shared_ptr<audio::SoundFeed> ProgrammeSound::wallVideoSound() const {
    std::lock_guard lock(mutex_);
    return wallSound_;
}

const std::string& ProgrammeSound::defaultDevice(MixSource which) const {
    static const std::string none;
    if (which == MixSource::wallVideo) return none;
    return defaultDevices_[std::size_t(which)];
}

SoundSourceStatus ProgrammeSound::status(MixSource which) const {
    if (which == MixSource::wallVideo) return {};
    std::lock_guard lock(mutex_);
    return sources_[std::size_t(which)]->status;
}

bool ProgrammeSound::waitUntilTried(std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] {
        return std::all_of(sources_.begin(), sources_.end(), [](auto& s) { return s->tried; });
    });
}

bool ProgrammeSound::serverReachable() const {
    std::lock_guard lock(mutex_);
    return std::none_of(sources_.begin(), sources_.end(), [](auto& s) { return s->noServer; });
}

std::string ProgrammeSound::message() const {
    std::lock_guard lock(mutex_);
    if (std::any_of(sources_.begin(), sources_.end(), [](auto& s) { return s->noServer; }))
        return "No sound server: picture only";
    std::string line;
    for (auto& s : sources_) {
        const std::string part = describeSoundSource(s->which, s->status);
        if (part.empty()) continue;
        if (!line.empty()) line += "; ";
        line += part;
    }
    return line;
}

void ProgrammeSound::setStatusHandler(std::function<void()> handler) {
    std::lock_guard lock(mutex_);
    onStatus_ = std::move(handler);
}

}  // namespace vantry::platform
