// The programme sound every output carries: "Mic/Aux" (the default input or a chosen source) and
// "Desktop Audio" (the monitor of the default output or a chosen one) captured through the
// media layer's PulseAudio input, each on its own thread, mixed by audio::ProgrammeMixer in blocks
// of audio::kBlockFrames on a mixing thread of their own, and handed to every output's tap.
// Each block's stamp allows for the delay the mixer's chain adds (ProgrammeMixer::latencyFrames).
// "Wall Video" is pulled from the feed setWallVideoSound() names (the wall's video sound), one
// block per block mixed, muted or not, so that it keeps pace with the mixing clock.
//
// One clock: each block is stamped with the wall-clock time (microseconds, as av_gettime and the
// screen capture's pictures count) at which its sound was captured, so an output places it
// beside the pictures of that moment. The blocks come kLatencyMs behind the clock, which gives
// the captures' pieces time to arrive even on a machine busy encoding.
//
// A device that goes away (a USB microphone pulled) leaves silence in its place, shows as
// `missing` with a message, and is looked for again every retryMs until it returns. Without a
// sound server the mix is silence and message() says so.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "common/audio/ProgrammeMixer.h"
#include "common/audio/SoundFeed.h"

namespace vantry::platform {

// SpeexDSP's preprocessor as the microphone's noise suppression (SpeexNoiseSuppressor.h).
std::unique_ptr<audio::NoiseSuppressor> speexSuppressor();

struct ProgrammeSoundOptions {
    std::string micSource = "default";                // a sound-server source name; empty: none
    std::string desktopSource = "@DEFAULT_MONITOR@";  // empty: no desktop audio
    bool voiceFilters = true;
    int retryMs = 2000;  // how often a missing device is looked for again
    // The voice filters' noise suppression: SpeexDSP's preprocessor unless replaced; none leaves
    // it out.
    std::function<std::unique_ptr<audio::NoiseSuppressor>()> makeSuppressor = speexSuppressor;
};

enum class SoundSourceState {
    off,      // no device chosen
    opening,  // the first attempt is under way
    live,     // sound comes in
    missing,  // the device is not there (or the server is not): silence, tried again
};

struct SoundSourceStatus {
    SoundSourceState state = SoundSourceState::off;
    std::string device;
    std::string message;  // why it is missing, for the window
    int opened = 0;       // how many times the device was opened (1 + the returns)
    int lost = 0;         // how many times it went away after opening
};

// "Mic/Aux: no sound from 'X' (retrying)"-style line for a status, empty while live or off.
std::string describeSoundSource(audio::MixSource source, const SoundSourceStatus& status);

class ProgrammeSound {
  public:
    static constexpr int kLatencyMs = 150;

    struct Block {
        std::array<float, audio::kBlockFrames> left{};
        std::array<float, audio::kBlockFrames> right{};
        std::int64_t stampUs = 0;  // wall clock of its first frame
    };

    // One output's share of the blocks, in order; up to a second of them waits for the reader,
    // older ones make way.
    class Tap {
      public:
        // The next block, waiting up to `timeout`; false when none came (or the sound ended).
        bool pop(Block& block, std::chrono::milliseconds timeout);
        bool tryPop(Block& block);
        bool withMic() const { return withMic_; }

      private:
        friend class ProgrammeSound;
        explicit Tap(bool withMic) : withMic_(withMic) {}
        void push(const Block& block);
        void end();

        const bool withMic_;
        std::mutex mutex_;
        std::condition_variable ready_;
        std::deque<Block> blocks_;
        bool ended_ = false;
    };

    // Starts the capture and mixing threads.
    explicit ProgrammeSound(ProgrammeSoundOptions options = {});
    ~ProgrammeSound();
    ProgrammeSound(const ProgrammeSound&) = delete;
    ProgrammeSound& operator=(const ProgrammeSound&) = delete;

    // Gains, mutes, delays, the voice filters and the levels (any thread).
    audio::ProgrammeMixer& mixer() { return mixer_; }

    // A new tap, fed from the next block on. withMic false: the mix without "Mic/Aux" (a
    // recording made with the microphone left out).
    std::shared_ptr<Tap> tap(bool withMic = true);

    // Another device for "Mic/Aux" or "Desktop Audio" (empty: none); reopened at once.
    void setDevice(audio::MixSource source, const std::string& device);
    // The device the source was made with (the options' micSource or desktopSource; empty:
    // none), which stands for "no device chosen".
    const std::string& defaultDevice(audio::MixSource source) const;
    SoundSourceStatus status(audio::MixSource source) const;
    // What "Wall Video" plays from the next block on (the video on the wall); null: silence.
    void setWallVideoSound(std::shared_ptr<audio::SoundFeed> feed);
    std::shared_ptr<audio::SoundFeed> wallVideoSound() const;
    // Waits until every chosen device has had its first try (at most `limit`); then
    // serverReachable() and status() tell how it went.
    bool waitUntilTried(std::chrono::milliseconds limit) const;
    // False when the last attempts found no sound server at all.
    bool serverReachable() const;
    // What the window shows about the sound: empty while every chosen device is live.
    std::string message() const;
    // Told (from a capture thread) whenever a source's state changes; must not call back in.
    void setStatusHandler(std::function<void()> handler);

    // The clock of the stamps: wall-clock microseconds.
    static std::int64_t nowUs();

    // The studio's one mix (default options), made on first use: the window's outputs, its
    // screen recording and its meters all take this one.
    static std::shared_ptr<ProgrammeSound> shared();
    // The same once something has made it; none before (nothing is captured on its account).
    static std::shared_ptr<ProgrammeSound> sharedIfMade();

  private:
    struct Source;
    void captureLoop(Source& source);
    void mixLoop();
    // What the capture of `device` found; dropped when the source has another device by now.
    void setState(Source& source, const std::string& device, SoundSourceState state,
                  const std::string& message, bool noServer);

    audio::ProgrammeMixer mixer_;
    audio::ProgrammeMixer withoutMic_;                 // the same settings with "Mic/Aux" left out
    std::array<std::unique_ptr<Source>, 2> sources_;   // mic, desktop
    const std::array<std::string, 2> defaultDevices_;  // mic, desktop
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::weak_ptr<Tap>> taps_;
    std::shared_ptr<audio::SoundFeed> wallSound_;
    std::function<void()> onStatus_;
    int retryMs_ = 2000;
    std::atomic<bool> stopping_{false};
    std::thread mixThread_;
};

}  // namespace vantry::platform
