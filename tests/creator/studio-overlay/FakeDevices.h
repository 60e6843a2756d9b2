// Fake camera and segmenter for the facecam tests.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>

#include <opencv2/core.hpp>

#include "platform/camera/CameraBackend.h"
#include "platform/segmentation/PersonSegmenter.h"

namespace vantry::testing {

class FakeCamera : public platform::CameraBackend {
  public:
    platform::CameraAuthorization authorization = platform::CameraAuthorization::authorized;
    bool deferAccessAnswer = false;  // keep the request's handler instead of answering
    bool grantAccess = true;
    bool inputAvailable = true;
    bool outputAddable = true;

    std::atomic<int> inputAttempts{0};
    std::atomic<int> outputsAdded{0};
    std::atomic<int> starts{0};
    std::atomic<int> stops{0};
    std::function<void(bool)> pendingAccessHandler;

    platform::CameraAuthorization authorizationStatus() override { return authorization; }
    void requestAccess(std::function<void(bool)> handler) override {
        if (deferAccessAnswer) {
            pendingAccessHandler = std::move(handler);
        } else {
            handler(grantAccess);
        }
    }
    void beginConfiguration() override {}
    bool addCameraInput() override {
        ++inputAttempts;
        return inputAvailable;
    }
    bool addFrameOutput(platform::CameraFrameSink s) override {
        if (!outputAddable) return false;
        ++outputsAdded;
        std::lock_guard lock(mutex);
        sink = std::move(s);
        return true;
    }
    void commitConfiguration() override {}
    void startRunning() override { ++starts; }
    void stopRunning() override { ++stops; }

    // Delivers a BGRA frame through the installed output, as the camera would.
    bool deliver(const cv::Mat& bgra) {
        platform::CameraFrameSink s;
        {
            std::lock_guard lock(mutex);
            s = sink;
        }
        if (!s) return false;
        s(platform::CameraFrameView{bgra.data, bgra.cols, bgra.rows, int(bgra.step[0])});
        return true;
    }

    std::mutex mutex;
    platform::CameraFrameSink sink;
};

// Returns masks made by a function of the frame; counts calls; can hold a call until released.
class FakeSegmenter : public platform::PersonSegmenter {
  public:
    std::function<std::optional<cv::Mat>(const cv::Mat&)> makeMask;
    std::atomic<int> calls{0};

    std::optional<cv::Mat> segment(const cv::Mat& bgra) override {
        ++calls;
        {
            std::unique_lock lock(mutex_);
            entered_ = true;
            changed_.notify_all();
            changed_.wait(lock, [this] { return !holding_; });
        }
        return makeMask ? makeMask(bgra) : std::nullopt;
    }

    void hold() {
        std::lock_guard lock(mutex_);
        holding_ = true;
        entered_ = false;
    }
    void waitUntilEntered() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return entered_; });
    }
    void release() {
        std::lock_guard lock(mutex_);
        holding_ = false;
        changed_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool holding_ = false;
    bool entered_ = false;
};

}  // namespace vantry::testing
