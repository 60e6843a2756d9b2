// The program feed's pictures against the studio engine's offscreen frames (llvmpipe here).
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "app/program-feed/ProgramFeed.h"
#include "studio/gpu/VantryMetalEngine.h"
#include "tests/support/ImageDifference.h"
#include "tests/support/WallChanges.h"

namespace {

using namespace vantry::app::feed;

using vantry::testing::meanDifference;

class StudioFeed : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { engine_ = vantry::VantryMetalEngine::create().release(); }
    static void TearDownTestSuite() {
        delete engine_;
        engine_ = nullptr;
    }
    void SetUp() override {
        if (!engine_) GTEST_SKIP() << "no OpenGL 3.3 context through EGL";
    }
    static ProgramFeed::RenderStudio renderAt(float time) {
        return [time](int w, int h) { return engine_->renderOffscreenShared(w, h, time); };
    }
    static QImage studioAt(float time, int w, int h) { return engine_->renderOffscreenCGImage(w, h, time); }
    static vantry::VantryMetalEngine* engine_;
};
vantry::VantryMetalEngine* StudioFeed::engine_ = nullptr;

TEST_F(StudioFeed, WithoutPresenterThePictureIsTheOffscreenStudio) {
    ProgramFeed feed(640, 360, 30, renderAt(2.5f));
    const QImage picture = feed.renderPicture();
    ASSERT_FALSE(picture.isNull());
    EXPECT_LT(meanDifference(picture, studioAt(2.5f, 640, 360), picture.rect()), 1.0);
}

TEST_F(StudioFeed, PresenterLandsWhereTheOverlayPutsIt) {
    ProgramFeed feed(1280, 720, 30, renderAt(1.0f));
    ProgramPresenter presenter;
    presenter.visible = true;
    presenter.look.viewportWidth = 640;  // a viewport half the output's size
    presenter.look.viewportHeight = 360;
    presenter.look.offsetX = -100;
    presenter.look.offsetY = 50;
    QImage person(320, 240, QImage::Format_ARGB32_Premultiplied);
    person.fill(QColor(255, 0, 255));
    presenter.picture = person;
    feed.setPresenter(presenter);
    const QImage picture = feed.renderPicture();
    const QImage studio = studioAt(1.0f, 1280, 720);
    ASSERT_FALSE(picture.isNull());
    // Window 352 x 264 centred at (640 - 200, 360 + 100).
    const QRect window(440 - 176, 460 - 132, 352, 264);
    const QRect inside = window.adjusted(40, 40, -40, -40);
    EXPECT_EQ(picture.pixel(inside.center()), qRgb(255, 0, 255));
    EXPECT_GT(meanDifference(picture, studio, inside), 100);
    // Beyond the window and its shadow the studio is untouched.
    EXPECT_LT(meanDifference(picture, studio, QRect(800, 40, 400, 200)), 1.0);
    EXPECT_LT(meanDifference(picture, studio, QRect(0, 0, window.left() - 40, 200)), 1.0);
}

TEST(ComposePresenter, LeavesAFrameAloneWhenThePresenterStandsInTheSet) {
    QImage person(320, 240, QImage::Format_ARGB32_Premultiplied);
    person.fill(QColor(255, 0, 255));
    ProgramPresenter presenter;
    presenter.visible = true;
    presenter.picture = person;
    for (const bool inSet : {false, true}) {
        presenter.inSet = inSet;
        QImage frame(640, 360, QImage::Format_ARGB32_Premultiplied);
        frame.fill(QColor(40, 40, 40));
        const QImage before = frame.copy();
        composePresenter(frame, presenter);
        EXPECT_EQ(frame == before, inSet);
    }
}

// A new wall picture at a still angle, the presenter floating over the studio or standing in it:
// the feed's picture over the partly drawn studio is the one over a full redraw, bit for bit.
TEST(StudioFeedWall, ANewWallPictureGivesThePictureOverAFullRedraw) {
    QImage person(320, 240, QImage::Format_ARGB32_Premultiplied);
    person.fill(Qt::transparent);
    {
        QPainter painter(&person);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(QColor(190, 130, 100));
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(QRectF(110, 10, 100, 110));
        painter.drawRoundedRect(QRectF(70, 110, 180, 130), 40, 40);
    }
    for (const bool inSet : {false, true}) {
        SCOPED_TRACE(inSet ? "standing in the set" : "floating");
        auto kept = vantry::VantryMetalEngine::create();  // keeps its frames
        auto full = vantry::VantryMetalEngine::create();  // draws every frame in full
        ASSERT_TRUE(kept && full);
        for (vantry::VantryMetalEngine* e : {kept.get(), full.get()}) {
            e->setCameraAngle(vantry::BroadcastCameraAngle::screenShoulder);
            e->setInSetPresenter(inSet ? person : QImage());
        }
        ProgramFeed keptFeed(640, 360, 30,
                             [&kept](int w, int h) { return kept->renderOffscreenBGRA(w, h, std::nullopt); });
        ProgramFeed fullFeed(640, 360, 30, [&full](int w, int h) {
            full->loadSet(vantry::BroadcastStudioSet::manhattanLoft);  // drawn in full
            return full->renderOffscreenBGRA(w, h, std::nullopt);
        });
        ProgramPresenter presenter;
        presenter.visible = true;
        presenter.inSet = inSet;
        presenter.look.viewportWidth = 640;
        presenter.look.viewportHeight = 360;
        presenter.look.offsetX = 60;  // over the wall's right part and beyond it
        presenter.look.offsetY = -20;
        presenter.picture = person;
        keptFeed.setPresenter(presenter);
        fullFeed.setPresenter(presenter);
        QImage previous = keptFeed.renderPicture();
        ASSERT_FALSE(previous.isNull());
        for (const auto& change : vantry::testing::wallChanges()) {
            SCOPED_TRACE(change.what);
            vantry::testing::applyToAll(change, {kept.get(), full.get()});
            const auto before = kept->drawCounts();
            const QImage picture = keptFeed.renderPicture();
            const auto after = kept->drawCounts();
            ASSERT_FALSE(picture.isNull());
            EXPECT_TRUE(picture != previous) << "the change does not show";
            EXPECT_TRUE(picture == fullFeed.renderPicture()) << "the picture differs from a full redraw's";
            EXPECT_EQ(after.stagePasses - before.stagePasses, 0);
            EXPECT_EQ(after.wallPasses - before.wallPasses, 1);
            EXPECT_EQ(after.wallPresenterPasses - before.wallPresenterPasses, inSet ? 1 : 0);
            previous = picture;
        }
    }
}

}  // namespace
