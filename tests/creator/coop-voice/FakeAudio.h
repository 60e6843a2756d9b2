// An audio backend without hardware: the test feeds the input tap and reads what the player queued.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "platform/audio-output/AudioGraph.h"

namespace vantry::fakes {

struct FakeAudioState {
    bool hasOutput = true;
    std::optional<platform::PcmFormat> input = platform::PcmFormat{48000, 1};
    int starts = 0, stops = 0, plays = 0, playerStops = 0, tapInstalls = 0, tapRemovals = 0;
    std::uint32_t tapBufferSize = 0;
    platform::PcmFormat connectedFormat;
    platform::InputTapBlock tap;
    std::vector<std::shared_ptr<const platform::PcmBuffer>> queued;

    // Delivers one mono block to the tap, if one is installed.
    void capture(const std::vector<float>& samples, double rate) {
        if (!tap) return;
        const float* channels[1] = {samples.data()};
        tap(platform::CapturedAudio{channels, 1, static_cast<std::uint32_t>(samples.size()), rate});
    }
};

class FakePlayerNode : public platform::AudioPlayerNode {
  public:
    explicit FakePlayerNode(std::shared_ptr<FakeAudioState> s) : s_(std::move(s)) {}
    void stop() override { ++s_->playerStops; }
    void scheduleLooping(std::shared_ptr<const platform::PcmBuffer>) override {}
    void setVolume(float) override {}
    void play() override { ++s_->plays; }
    void scheduleBuffer(std::shared_ptr<const platform::PcmBuffer> buffer) override {
        s_->queued.push_back(std::move(buffer));
    }

  private:
    std::shared_ptr<FakeAudioState> s_;
};

class FakeAudioEngine : public platform::AudioEngine {
  public:
    explicit FakeAudioEngine(std::shared_ptr<FakeAudioState> s) : s_(std::move(s)) {}
    void attach(const std::shared_ptr<platform::AudioPlayerNode>&) override {}
    void connectToMainMixer(const std::shared_ptr<platform::AudioPlayerNode>&,
                            const platform::PcmFormat& f) override {
        s_->connectedFormat = f;
    }
    void start() override {
        if (!s_->hasOutput) throw platform::AudioError("no output");
        ++s_->starts;
    }
    void stop() override { ++s_->stops; }
    std::optional<platform::PcmFormat> inputFormat() override { return s_->input; }
    void installInputTap(std::uint32_t frames, const platform::PcmFormat&,
                         platform::InputTapBlock block) override {
        ++s_->tapInstalls;
        s_->tapBufferSize = frames;
        s_->tap = std::move(block);
    }
    void removeInputTap() override {
        ++s_->tapRemovals;
        s_->tap = nullptr;
    }

  private:
    std::shared_ptr<FakeAudioState> s_;
};

class FakeAudioBackend : public platform::AudioBackend {
  public:
    explicit FakeAudioBackend(std::shared_ptr<FakeAudioState> s = std::make_shared<FakeAudioState>())
        : state(std::move(s)) {}
    std::optional<platform::PcmFormat> standardFormat(double rate, int channels) override {
        return platform::makeStandardPcmFormat(rate, channels);
    }
    std::shared_ptr<platform::PcmBuffer> makeBuffer(const platform::PcmFormat& f, std::uint64_t n) override {
        return platform::makePcmBuffer(f, n);
    }
    std::shared_ptr<platform::AudioEngine> makeEngine() override {
        return std::make_shared<FakeAudioEngine>(state);
    }
    std::shared_ptr<platform::AudioPlayerNode> makePlayerNode() override {
        return std::make_shared<FakePlayerNode>(state);
    }
    std::shared_ptr<FakeAudioState> state;
};

}  // namespace vantry::fakes
