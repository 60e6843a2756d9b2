// Saving the window's picture as a shot and recalling it: cut or camera move, another set, the
// wall image (reloaded only when it differs; a missing one reported while the rest applies),
// Vision Cutout and the presenter's mode and place.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "app/shots/ShotStore.h"
#include "app/studio-app/VantryViewModel.h"
#include "platform/dispatch/MainThreadDispatcher.h"
#include "tests/app/studio/FakeStudioRenderer.h"

namespace vantry::app {
namespace {

using testing::FakeStudioRenderer;

class ShotRecallTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(config_.isValid());
        ::setenv("XDG_CONFIG_HOME", config_.path().toUtf8().constData(), 1);
        wall_ = std::filesystem::path(config_.path().toStdString()) / "wall.png";
        std::ofstream(wall_) << "picture";
        vm = std::make_unique<VantryViewModel>(renderer);
    }
    void TearDown() override {
        vm.reset();
        platform::drainMainQueue();
    }

    QTemporaryDir config_;
    std::filesystem::path wall_;
    std::shared_ptr<FakeStudioRenderer> renderer = std::make_shared<FakeStudioRenderer>();
    std::unique_ptr<VantryViewModel> vm;
};

TEST_F(ShotRecallTest, AShotSwitchesByCutOrMoveAndBringsBackThePicture) {
    ASSERT_TRUE(vm->mountSlide(wall_));
    const struct {
        const char* what;
        BroadcastStudioSet set;
        const char* transition;
        bool moves;  // the camera glides instead of cutting
    } cases[] = {
        {"move in the same set", BroadcastStudioSet::manhattanLoft, "move", true},
        {"cut in the same set", BroadcastStudioSet::manhattanLoft, "cut", false},
        {"move to another set", BroadcastStudioSet::allCases()[2], "move", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // The shot's picture.
        vm->selectSet(c.set);
        vm->setCameraAngle(BroadcastCameraAngle::wideDesk);
        vm->setKeyGain(2.0f);
        vm->setShowVisionPresenter(true);
        vm->choosePresenterInSet(true, false);
        vm->scalePresenterInSet(0.18);
        const studio::PresenterPlace place = vm->presenterPlace();
        ASSERT_TRUE(vm->shots().saveCurrent("Desk"));
        ASSERT_TRUE(vm->shots().setTransition(0, c.transition, 2.5));
        EXPECT_EQ(shots::loadShots(shots::defaultShotsFile()).shots.size(), 1u);

        // Another picture: the loft, a tight angle, other gains, the presenter floating.
        vm->selectSet(BroadcastStudioSet::manhattanLoft);
        vm->setCameraAngle(BroadcastCameraAngle::tightHost);
        vm->setKeyGain(0.6f);
        vm->choosePresenterInSet(false, false);
        vm->setShowVisionPresenter(false);
        vm->scalePresenterInSet(-0.18);
        vm->sync();
        renderer->moves.clear();
        renderer->loadedSets.clear();

        QString error;
        ASSERT_TRUE(vm->shots().recall(0, &error));
        EXPECT_TRUE(error.isEmpty()) << error.toStdString();
        EXPECT_EQ(renderer->angle, BroadcastCameraAngle::wideDesk);
        EXPECT_EQ(vm->cameraAngle(), BroadcastCameraAngle::wideDesk);
        ASSERT_EQ(renderer->moves.size(), c.moves ? 1u : 0u);
        if (c.moves) {
            EXPECT_EQ(renderer->moves[0].seconds, 2.5f);
        }
        EXPECT_EQ(renderer->loadedSets.size(), c.set == BroadcastStudioSet::manhattanLoft ? 0u : 1u);
        EXPECT_EQ(vm->selectedSet(), c.set);
        EXPECT_FLOAT_EQ(renderer->keyLightGain, 2.0f);
        EXPECT_TRUE(vm->showVisionPresenter());
        EXPECT_TRUE(vm->presenterInSet());
        EXPECT_EQ(vm->presenterPlace(), place);
        EXPECT_EQ(vm->statusBannerText(), QStringLiteral("Recalled shot 1 \u201cDesk\u201d"));
        ASSERT_TRUE(vm->shots().removeShot(0));
    }
    // The wall already shows the shot's picture: it is never loaded again.
    EXPECT_EQ(renderer->imageLoads.size(), 1u);
}

TEST_F(ShotRecallTest, AMissingWallImageIsReportedAndTheRestApplies) {
    ASSERT_TRUE(vm->mountSlide(wall_));
    ASSERT_TRUE(vm->shots().saveCurrent("Gone"));
    const auto other = wall_.parent_path() / "other.png";
    std::ofstream(other) << "picture";
    ASSERT_TRUE(vm->mountSlide(other));
    std::filesystem::remove(wall_);
    vm->setNeonGain(2.2f);
    vm->setCameraAngle(BroadcastCameraAngle::sweepingCrane);
    vm->sync();

    EXPECT_TRUE(vm->shots().recallShot(0));
    EXPECT_NE(vm->statusBannerText().indexOf("wall.png is missing"), -1)
        << vm->statusBannerText().toStdString();
    EXPECT_EQ(renderer->imageLoads.size(), 2u);
    EXPECT_EQ(vm->slideName(), "other.png");
    EXPECT_FLOAT_EQ(renderer->neonAccentGain, 1.25f);
    EXPECT_EQ(renderer->angle, BroadcastCameraAngle::wideDesk);
}

TEST_F(ShotRecallTest, AShotSavedWithTheWallsOwnPictureBringsItBack) {
    ASSERT_TRUE(vm->shots().saveCurrent("Deck"));
    ASSERT_TRUE(vm->mountSlide(wall_));
    ASSERT_TRUE(vm->shots().recallShot(0));
    EXPECT_EQ(vm->slideName(), "Corvella Studio Deck");
    EXPECT_EQ(renderer->slideName, "Corvella Studio Deck");
    // Saved again, the shot keeps the wall's own picture, not the image shown before.
    ASSERT_TRUE(vm->shots().saveCurrent("Deck again"));
    ASSERT_TRUE(vm->mountSlide(wall_));
    ASSERT_TRUE(vm->shots().recallShot(1));
    EXPECT_EQ(vm->slideName(), "Corvella Studio Deck");
}

TEST_F(ShotRecallTest, ADamagedShotsFileIsReportedInTheStatusText) {
    vm.reset();
    std::filesystem::create_directories(shots::defaultShotsFile().parent_path());
    std::ofstream(shots::defaultShotsFile()) << "{\"version\": 1, \"shots\": [{\"name\": true}]}";
    vm = std::make_unique<VantryViewModel>(renderer);
    EXPECT_EQ(vm->shots().count(), 0);
    EXPECT_TRUE(vm->statusBannerText().startsWith("The shots file was damaged"))
        << vm->statusBannerText().toStdString();
    EXPECT_FALSE(std::filesystem::exists(shots::defaultShotsFile()));
}

}  // namespace
}  // namespace vantry::app
