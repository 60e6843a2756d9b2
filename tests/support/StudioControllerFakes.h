// Fake feed, fake screen recorder and a settable clock for the creator studio controller.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "creator/studio-overlay/OruCreatorStudioControllerV1045.h"

namespace vantry::testing {

// Runs f on a thread of its own and waits for it: results arrive off the main thread.
template <typename F>
void fromOtherThread(F&& f) {
    std::thread t(std::forward<F>(f));
    t.join();
}

struct FeedRecord {
    std::mutex mutex;
    std::vector<std::pair<creator::OruFacecamBackgroundModeV1045, bool>> settings;
    std::vector<bool> refineEdges;
    std::vector<creator::CreatorStudioFeed::Completion> starts;
    creator::CreatorStudioFeed::FrameCallback onFrame;
    int stops = 0;
    bool destroyed = false;
};

class FakeFeed : public creator::CreatorStudioFeed {
  public:
    explicit FakeFeed(std::shared_ptr<FeedRecord> record) : record_(std::move(record)) {}
    ~FakeFeed() override {
        std::lock_guard lock(record_->mutex);
        record_->destroyed = true;
    }
    void updateSettings(creator::OruFacecamBackgroundModeV1045 bgMode, bool mirrored) override {
        std::lock_guard lock(record_->mutex);
        record_->settings.emplace_back(bgMode, mirrored);
    }
    void setRefineEdges(bool refine) override {
        std::lock_guard lock(record_->mutex);
        record_->refineEdges.push_back(refine);
    }
    void start(Completion completion) override {
        std::lock_guard lock(record_->mutex);
        record_->starts.push_back(std::move(completion));
    }
    void stop() override {
        std::lock_guard lock(record_->mutex);
        ++record_->stops;
    }
    void setOnFrameReady(FrameCallback callback) override {
        std::lock_guard lock(record_->mutex);
        record_->onFrame = std::move(callback);
    }

  private:
    std::shared_ptr<FeedRecord> record_;
};

// Keeps every start and stop with its completion, for the test to answer; with answerStops,
// each stop is answered "saved" at once from a thread of its own (the recorder's thread).
class FakeRecorder : public platform::ScreenRecorder {
  public:
    ~FakeRecorder() override {
        for (auto& t : answering)
            if (t.joinable()) t.join();
    }

    bool available = true;
    std::optional<bool> microphone;
    std::optional<bool> camera;
    std::filesystem::path scratchFolder;
    std::vector<Completion> starts;
    std::vector<std::pair<std::filesystem::path, Completion>> stops;
    bool sound = true;
    FailureHandler failure;
    bool answerStops = false;
    std::vector<std::thread> answering;
    // When set, called with each stop's completion (to answer it some other way).
    std::function<void(const Completion&)> answerStop;

    bool isAvailable() override { return available; }
    void setMicrophoneEnabled(bool enabled) override { microphone = enabled; }
    void setCameraEnabled(bool enabled) override { camera = enabled; }
    void setScratchFolder(const std::filesystem::path& folder) override { scratchFolder = folder; }
    void setFailureHandler(FailureHandler handler) override { failure = std::move(handler); }
    bool lastRecordingHasSound() const override { return sound; }
    void startRecording(Completion handler) override { starts.push_back(std::move(handler)); }
    void stopRecording(const std::filesystem::path& outputFile, Completion handler) override {
        stops.emplace_back(outputFile, handler);
        if (answerStops) answering.emplace_back([handler] { handler(std::nullopt); });
        if (answerStop) answerStop(handler);
    }
};

}  // namespace vantry::testing
