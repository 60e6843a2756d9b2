// Screen and window sharing on an X display of the test's own (the wall must see exactly the
// windows this test puts there).
#include <gtest/gtest.h>

#include <xcb/xcb.h>
#include <QGuiApplication>
#include <QPainter>
#include <QProcess>
#include <QRasterWindow>
#include <algorithm>
#include <cstdlib>
#include <mutex>

#include "platform/wall-feed/WallFeed.h"
#include "tests/support/EventPump.h"
#include "tests/support/Wait.h"

using namespace vantry::platform::wall;

namespace {

const QColor kWindowColour(32, 192, 64);  // what the shared window helper paints

class OwnWindow : public QRasterWindow {
  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(QRect(0, 0, width(), height()), Qt::red);
    }
};

// What a feed handed on: the newest picture, how many, and the end.
struct FeedLog {
    std::mutex mutex;
    QImage newest;
    int pictures = 0;
    std::string ended;
    int endings = 0;

    FeedCallbacks callbacks() {
        FeedCallbacks c;
        c.picture = [this](const QImage& picture) {
            std::lock_guard lock(mutex);
            newest = picture.copy();
            ++pictures;
        };
        c.ended = [this](const std::string& message) {
            std::lock_guard lock(mutex);
            ended = message;
            ++endings;
        };
        return c;
    }
    QColor centre() {
        std::lock_guard lock(mutex);
        return newest.isNull() ? QColor() : newest.pixelColor(newest.width() / 2, newest.height() / 2);
    }
};

bool near(const QColor& a, const QColor& b) {
    return std::abs(a.red() - b.red()) <= 6 && std::abs(a.green() - b.green()) <= 6 &&
           std::abs(a.blue() - b.blue()) <= 6;
}

class ScreenShareTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "platform_wall_feed_tests";
        static char* argv[] = {name, nullptr};
        if (!QGuiApplication::instance()) new QGuiApplication(argc, argv);
    }
    void SetUp() override { ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "runs on an X display of its own"; }

    // Starts the helper's window titled `title` and waits until the display lists it.
    unsigned long startForeignWindow(QProcess& process, const std::string& title) {
        process.start(QStringLiteral(VANTRY_SHARED_WINDOW), {QString::fromStdString(title)});
        EXPECT_TRUE(process.waitForStarted(10'000));
        unsigned long id = 0;
        vantry::testing::pumpUntil(
            [&] {
                for (const auto& w : listShareableWindows({}))
                    if (w.title == title) id = w.id;
                return id != 0;
            },
            20'000);
        return id;
    }
};

}  // namespace

// The list holds another program's titled window but never this process's own.
TEST_F(ScreenShareTest, ListsOtherWindowsButNotItsOwn) {
    OwnWindow own;
    own.setTitle(QStringLiteral("Wall test own window"));
    own.resize(320, 240);
    own.show();
    ASSERT_TRUE(vantry::testing::pumpUntil([&] { return own.isExposed(); }, 20'000));
    QProcess foreign;
    ASSERT_NE(startForeignWindow(foreign, "Wall test foreign window"), 0u);
    const auto windows = listShareableWindows({});
    for (const auto& w : windows) EXPECT_NE(w.title, "Wall test own window");
    EXPECT_FALSE(screenShareUsesPortal());
    foreign.kill();
    foreign.waitForFinished(10'000);
}

// A shared window is filmed into live pictures; once it closes, the feed ends by itself with
// the reason, once, and stops cleanly.
TEST_F(ScreenShareTest, SharedWindowThatClosesEndsTheShare) {
    QProcess foreign;
    const unsigned long id = startForeignWindow(foreign, "Wall test shared window");
    ASSERT_NE(id, 0u);
    FeedLog log;
    ScreenShareTarget target;
    target.kind = ScreenShareTarget::Kind::window;
    target.windowId = id;
    std::string error;
    auto feed = openScreenWallFeed(target, log.callbacks(), error);
    ASSERT_TRUE(feed) << error;
    EXPECT_EQ(feed->name(), "Wall test shared window");
    ASSERT_TRUE(vantry::testing::waitUntil([&] { return near(log.centre(), kWindowColour); }, 20));
    {
        std::lock_guard lock(log.mutex);
        EXPECT_EQ(log.newest.size(), QSize(kLivePictureWidth, kLivePictureHeight));
        EXPECT_EQ(log.newest.format(), QImage::Format_ARGB32_Premultiplied);
        // 480x360 fitted into 1280x720: 960 wide, bars either side.
        EXPECT_EQ(log.newest.pixelColor(100, 360), QColor(Qt::black));
        EXPECT_TRUE(near(log.newest.pixelColor(170, 360), kWindowColour));
    }
    foreign.kill();
    foreign.waitForFinished(10'000);
    ASSERT_TRUE(vantry::testing::waitUntil(
        [&] {
            std::lock_guard lock(log.mutex);
            return log.endings > 0;
        },
        20));
    feed.reset();
    EXPECT_EQ(log.ended, "The shared window closed.");
    EXPECT_EQ(log.endings, 1);
    // A window that is gone cannot be shared again.
    EXPECT_FALSE(openScreenWallFeed(target, FeedLog().callbacks(), error));
    EXPECT_EQ(error, "The window to share is gone.");
}

// A shared window resized meanwhile, smaller or larger, is filmed on at its new shape.
TEST_F(ScreenShareTest, SharedWindowThatIsResizedIsFilmedAtItsNewShape) {
    QProcess foreign;
    const unsigned long id = startForeignWindow(foreign, "Wall test resized window");
    ASSERT_NE(id, 0u);
    FeedLog log;
    ScreenShareTarget target;
    target.kind = ScreenShareTarget::Kind::window;
    target.windowId = id;
    std::string error;
    auto feed = openScreenWallFeed(target, log.callbacks(), error);
    ASSERT_TRUE(feed) << error;
    const auto at = [&](int x, int y) {
        std::lock_guard lock(log.mutex);
        return log.newest.isNull() ? QColor() : log.newest.pixelColor(x, y);
    };
    // 4:3 fills the wall from top to bottom.
    ASSERT_TRUE(vantry::testing::waitUntil([&] { return near(at(640, 60), kWindowColour); }, 20));
    // 640x180, wider than the wall: bars above and below.
    xcb_connection_t* x = xcb_connect(nullptr, nullptr);
    ASSERT_EQ(xcb_connection_has_error(x), 0);
    const std::uint32_t size[] = {640, 180};
    xcb_configure_window(x, xcb_window_t(id), XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, size);
    xcb_flush(x);
    EXPECT_TRUE(vantry::testing::waitUntil(
        [&] { return at(640, 60) == QColor(Qt::black) && near(at(640, 360), kWindowColour); }, 20));
    // 900x900, larger every way (which x11grab does not notice itself): square, bars either side.
    const std::uint32_t larger[] = {900, 900};
    xcb_configure_window(x, xcb_window_t(id), XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, larger);
    xcb_flush(x);
    EXPECT_TRUE(vantry::testing::waitUntil(
        [&] { return at(200, 360) == QColor(Qt::black) && near(at(640, 60), kWindowColour); }, 20));
    xcb_disconnect(x);
    {
        std::lock_guard lock(log.mutex);
        EXPECT_EQ(log.endings, 0) << log.ended;
    }
    feed.reset();
    foreign.kill();
    foreign.waitForFinished(10'000);
}

// The whole screen: the helper's window shows up in the fitted picture of the screen.
TEST_F(ScreenShareTest, SharesTheWholeScreen) {
    QProcess foreign;
    ASSERT_NE(startForeignWindow(foreign, "Wall test screen window"), 0u);
    FeedLog log;
    std::string error;
    auto feed = openScreenWallFeed(ScreenShareTarget{}, log.callbacks(), error);
    ASSERT_TRUE(feed) << error;
    EXPECT_EQ(feed->name(), "Screen");
    // The window at (100,100)-(580,460) of the 1920x1080 screen: (340,280) on the screen is
    // (227,187) on the wall.
    ASSERT_TRUE(vantry::testing::waitUntil(
        [&] {
            std::lock_guard lock(log.mutex);
            return !log.newest.isNull() && near(log.newest.pixelColor(227, 187), kWindowColour);
        },
        20));
    feed.reset();
    EXPECT_EQ(log.endings, 0);
    foreign.kill();
    foreign.waitForFinished(10'000);
}
