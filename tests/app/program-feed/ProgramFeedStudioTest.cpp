// The program feed's pictures against the studio engine's offscreen frames (llvmpipe here).
#include <gtest/gtest.h>

#include <QImage>
#include <cstdlib>

#include "app/program-feed/ProgramFeed.h"
#include "studio/gpu/VantryMetalEngine.h"
#include "tests/support/ImageDifference.h"

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
        return [time](int w, int h) { return engine_->renderOffscreenBGRA(w, h, time); };
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

}  // namespace
