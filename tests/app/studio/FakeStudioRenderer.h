// A renderer that records what the view model asks of it, and scripted panels.
#pragma once

#include <QImage>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <vector>

#include "app/studio-app/FilePanels.h"
#include "app/studio-app/StudioRenderer.h"

namespace vantry::testing {

class FakeStudioRenderer : public app::StudioRenderer {
  public:
    std::string slideSourceName() const override { return slideName; }
    void setCameraAngle(BroadcastCameraAngle a) override { angle = a; }
    void moveCameraAngle(BroadcastCameraAngle a, float seconds) override {
        angle = a;
        moves.push_back({a, seconds});
    }
    void setKeyLightGain(float g) override { keyLightGain = g; }
    void setNeonAccentGain(float g) override { neonAccentGain = g; }
    void setLedWallBrightness(float b) override { ledWallBrightness = b; }
    void loadSet(BroadcastStudioSet set) override { loadedSets.push_back(set); }
    bool loadLEDWallImage(const std::filesystem::path& file) override {
        imageLoads.push_back(file);
        if (duringImageLoad) duringImageLoad();
        if (!acceptImages) return false;
        slideName = file.filename().string();
        return true;
    }
    void showBuiltInWall() override {
        slideName = "Corvella Studio Deck";
        ++builtInWalls;
    }
    // From any thread (decks and feeds call from their own).
    void showLEDWallPicture(const QImage& picture, const std::string& name) override {
        std::lock_guard<std::mutex> lock(wallMutex);
        wallPictures.push_back({picture, name});
        wallChanged.notify_all();
    }
    struct WallPicture {
        QImage picture;
        std::string name;
    };
    std::size_t wallPictureCount() {
        std::lock_guard<std::mutex> lock(wallMutex);
        return wallPictures.size();
    }
    // Waits (bounded) until `count` live wall pictures have come; false when they did not.
    bool waitForWallPictures(std::size_t count) {
        std::unique_lock<std::mutex> lock(wallMutex);
        return wallChanged.wait_for(lock, std::chrono::seconds(10),
                                    [&] { return wallPictures.size() >= count; });
    }
    WallPicture lastWallPicture() {
        std::lock_guard<std::mutex> lock(wallMutex);
        return wallPictures.empty() ? WallPicture{} : wallPictures.back();
    }
    void setOnFPSUpdate(FPSCallback callback) override { onFPSUpdate = std::move(callback); }
    void setInSetPresenter(const QImage& picture) override { inSetPictures.push_back(picture); }
    void setInSetPresenterColourMatch(bool on) override { colourMatch = on; }

    std::int64_t exportBroadcastMP4(int width, int height, double durationSec,
                                    const std::filesystem::path& destination,
                                    const ExportProgress& progress) override {
        std::unique_lock<std::mutex> lock(mutex);
        exports.push_back({width, height, durationSec, destination});
        ++running;
        cv.notify_all();
        if (progress) {
            if (reportEveryFrame)
                for (int frame = 0; frame < 45; ++frame) progress(frame, 90);
            progress(45, 90);
        }
        cv.wait(lock, [&] { return !holdExports; });
        --running;
        if (exportThrows) throw std::runtime_error("cannot write there");
        return exportBytes;
    }

    void releaseExports() {
        std::lock_guard<std::mutex> lock(mutex);
        holdExports = false;
        cv.notify_all();
    }
    bool waitUntilRunning(int count) {
        std::unique_lock<std::mutex> lock(mutex);
        return cv.wait_for(lock, std::chrono::seconds(5), [&] { return running >= count; });
    }

    struct ExportCall {
        int width;
        int height;
        double durationSec;
        std::filesystem::path destination;
    };

    std::string slideName = "Corvella Studio Deck";
    BroadcastCameraAngle angle = BroadcastCameraAngle::screenShoulder;  // not the view model's default
    float keyLightGain = -1.f;
    float neonAccentGain = -1.f;
    float ledWallBrightness = -1.f;
    std::vector<BroadcastStudioSet> loadedSets;
    struct Move {
        BroadcastCameraAngle angle;
        float seconds;
    };
    std::vector<Move> moves;
    std::vector<std::filesystem::path> imageLoads;
    bool acceptImages = true;
    std::function<void()> duringImageLoad;  // runs while a picture loads (a seam for orderings)
    FPSCallback onFPSUpdate;
    std::vector<QImage> inSetPictures;  // every picture of the presenter standing in the set
    std::optional<bool> colourMatch;    // the last "Colour Match" setting (none: never set)
    int builtInWalls = 0;               // showBuiltInWall calls

    std::mutex wallMutex;
    std::condition_variable wallChanged;
    std::vector<WallPicture> wallPictures;  // every live wall picture, in order

    std::mutex mutex;
    std::condition_variable cv;
    std::vector<ExportCall> exports;
    int running = 0;
    bool holdExports = false;
    // Reports the progress of every frame up to the middle, not only the middle.
    bool reportEveryFrame = false;
    bool exportThrows = false;
    std::int64_t exportBytes = 0;
};

// Answers each panel with the next scripted answer (nothing = cancelled) and keeps the requests.
class ScriptedPanels : public app::FilePanels {
  public:
    void runOpenPanel(const app::OpenPanelRequest& request, app::PanelAnswer answer) override {
        openRequests.push_back(request);
        answer(next());
    }
    void runSavePanel(const app::SavePanelRequest& request, app::PanelAnswer answer) override {
        saveRequests.push_back(request);
        answer(next());
    }

    std::deque<std::optional<std::filesystem::path>> answers;
    std::vector<app::OpenPanelRequest> openRequests;
    std::vector<app::SavePanelRequest> saveRequests;

  private:
    std::optional<std::filesystem::path> next() {
        if (answers.empty()) return std::nullopt;
        auto a = answers.front();
        answers.pop_front();
        return a;
    }
};

}  // namespace vantry::testing
