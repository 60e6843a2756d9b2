// The presenter snapshot: the one border rule, and the controller publishing a new snapshot for
// every camera picture and every change of the presenter's settings.
#include <QCoreApplication>
#include <QSignalSpy>
#include <functional>
#include <memory>

#include <gtest/gtest.h>

#include "creator/studio-overlay/OruCreatorStudioControllerV1045.h"
#include "creator/studio-overlay/PresenterSnapshot.h"
#include "platform/dispatch/MainThreadDispatcher.h"
#include "tests/support/StudioControllerFakes.h"

using namespace vantry::creator;
using vantry::testing::FakeFeed;
using vantry::testing::FakeRecorder;
using vantry::testing::FeedRecord;
using vantry::testing::fromOtherThread;
using Controller = OruCreatorStudioControllerV1045;
using Mode = OruFacecamBackgroundModeV1045;
using Shape = OruFacecamShapeV1045;

namespace {

const QColor kRed(0xff, 0x45, 0x3a);
const QColor kCyan(0x64, 0xd2, 0xff);
const QColor kDimWhite = QColor::fromRgbF(1, 1, 1, 0.45f);

TEST(PresenterBorder, OneRuleForRecordingMeterAndFreeCutout) {
    const struct {
        const char* name;
        bool recording;
        double mic;
        Mode mode;
        Shape shape;
        QColor color;
        double width;
    } cases[] = {
        {"recording", true, 0.2, Mode::studioBlur, Shape::rounded, kRed, 3},
        {"recording beats the meter", true, 0.7, Mode::fullCamera, Shape::circle, kRed, 3},
        {"meter above 0.35", false, 0.36, Mode::studioBlur, Shape::rounded, kCyan, 2},
        {"meter at 0.35", false, 0.35, Mode::fullCamera, Shape::circle, kDimWhite, 2},
        {"mic excluded", false, 0, Mode::cutoutNoBackground, Shape::circle, kDimWhite, 2},
        {"free cutout, recording", true, 0.7, Mode::cutoutNoBackground, Shape::freeCutout, kRed, 0},
        {"free cutout, quiet", false, 0.1, Mode::cutoutNoBackground, Shape::freeCutout, kDimWhite, 0},
        {"blurred cutout is framed", false, 0.1, Mode::studioBlur, Shape::freeCutout, kDimWhite, 2},
    };
    for (const auto& c : cases) {
        PresenterSnapshot s;
        s.recording = c.recording;
        s.micLevel = c.mic;
        s.backgroundMode = c.mode;
        s.frameShape = c.shape;
        applyBorderRule(s);
        EXPECT_EQ(s.borderColor, c.color)
            << c.name << ": " << s.borderColor.name(QColor::HexArgb).toStdString();
        EXPECT_EQ(s.borderWidth, c.width) << c.name;
        EXPECT_EQ(toQColor(studio::presenterBorder(c.recording, c.mic, isFreeCutout(c.mode, c.shape))),
                  s.borderColor)
            << c.name;
    }
}

// One controller over the fake feed and recorder; main-thread tasks run when the test drains.
class PresenterSnapshotTest : public ::testing::Test {
  public:
    static void SetUpTestSuite() {
        if (!QCoreApplication::instance()) {
            static int argc = 1;
            static char name[] = "presenter_snapshot_tests";
            static char* argv[] = {name, nullptr};
            static QCoreApplication app(argc, argv);
        }
        vantry::platform::setMainPoster({});
    }
    void SetUp() override {
        vantry::platform::drainMainQueue();
        CreatorStudioServices services;
        services.feed = std::make_unique<FakeFeed>(feed);
        services.recorder = recorder;
        services.now = [this] { return now; };
        services.clipsDirectory = [] { return std::filesystem::path("/clips"); };
        services.revealFile = [](const std::filesystem::path&, std::function<void(const std::string&)> done) {
            done({});
        };
        controller = std::make_unique<Controller>(std::move(services));
    }
    void TearDown() override {
        controller.reset();
        vantry::platform::drainMainQueue();
    }
    void confirmRecordingStart() {
        ASSERT_FALSE(recorder->starts.empty());
        auto handler = recorder->starts.back();
        fromOtherThread([&] { handler(std::nullopt); });
        vantry::platform::drainMainQueue();
    }
    const PresenterSnapshot& snapshot() const { return controller->presenterSnapshot(); }

    std::shared_ptr<FeedRecord> feed = std::make_shared<FeedRecord>();
    std::shared_ptr<FakeRecorder> recorder = std::make_shared<FakeRecorder>();
    double now = 1765000000.0;
    std::unique_ptr<Controller> controller;
};

TEST_F(PresenterSnapshotTest, StartsAsTheControllerStarts) {
    EXPECT_FALSE(snapshot().cameraEnabled);
    EXPECT_TRUE(snapshot().picture.isNull());
    EXPECT_EQ(snapshot().offset, controller->offset());
    EXPECT_EQ(snapshot().scale, controller->scale());
    EXPECT_EQ(snapshot().frameShape, Shape::freeCutout);
    EXPECT_EQ(snapshot().backgroundMode, Mode::cutoutNoBackground);
    EXPECT_EQ(snapshot().micLevel, 0.25);
    EXPECT_EQ(snapshot().borderWidth, 0);  // a free cut-out
    EXPECT_EQ(controller->property("borderWidth").toDouble(), 0);
    EXPECT_EQ(controller->property("borderColor").value<QColor>(), kDimWhite);
}

TEST_F(PresenterSnapshotTest, EachPresenterSettingPublishesANewSnapshot) {
    const struct {
        const char* name;
        std::function<void(PresenterSnapshotTest&)> change;
        std::function<bool(const PresenterSnapshot&)> shows;
    } cases[] = {
        {"camera on", [](auto& t) { t.controller->toggleCamera(); },
         [](const auto& s) { return s.cameraEnabled; }},
        {"offset", [](auto& t) { t.controller->setOffset(QSizeF(40, -20)); },
         [](const auto& s) { return s.offset == QSizeF(40, -20); }},
        {"scale", [](auto& t) { t.controller->setScale(1.6); }, [](const auto& s) { return s.scale == 1.6; }},
        {"shape", [](auto& t) { t.controller->setFrameShape(Shape::circle); },
         [](const auto& s) { return s.frameShape == Shape::circle && s.borderWidth == 2; }},
        {"mode", [](auto& t) { t.controller->setBackgroundMode(Mode::fullCamera); },
         [](const auto& s) { return s.backgroundMode == Mode::fullCamera; }},
        {"meter",
         [](auto& t) {
             t.controller->setMicIncluded(false);
             t.controller->meterTick();
         },
         [](const auto& s) { return s.micLevel == 0.0; }},
        {"recording",
         [](auto& t) {
             t.controller->toggleRecording("Demo Game");
             t.confirmRecordingStart();
         },
         [](const auto& s) { return s.recording && s.borderColor == kRed && s.borderWidth == 3; }},
        {"saving", [](auto& t) { t.controller->toggleRecording("Demo Game"); },
         [](const auto& s) { return s.saving; }},
    };
    for (const auto& c : cases) {
        QSignalSpy published(controller.get(), &PresenterSource::presenterSnapshotChanged);
        c.change(*this);
        EXPECT_GE(published.count(), 1) << c.name;
        EXPECT_TRUE(c.shows(snapshot())) << c.name;
    }
}

TEST_F(PresenterSnapshotTest, EveryCameraFrameReachesTheSnapshot) {
    controller->toggleCamera();
    auto onFrame = feed->onFrame;
    fromOtherThread([&] {
        for (int w = 1; w <= 5; ++w) onFrame(QImage(w, 1, QImage::Format_ARGB32_Premultiplied));
    });
    QSignalSpy published(controller.get(), &PresenterSource::presenterSnapshotChanged);
    std::vector<int> widths;
    QObject::connect(controller.get(), &PresenterSource::presenterSnapshotChanged,
                     [&] { widths.push_back(snapshot().picture.width()); });
    vantry::platform::drainMainQueue();
    EXPECT_EQ(published.count(), 5);
    EXPECT_EQ(widths, (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_TRUE(snapshot().cameraEnabled);
}

TEST_F(PresenterSnapshotTest, AListenerOfAPropertyFindsTheSnapshotAlreadyNew) {
    bool seen = false;
    QObject::connect(controller.get(), &Controller::isRecordingChanged,
                     [&] { seen = controller->presenterSnapshot().recording; });
    controller->toggleRecording("Demo Game");
    confirmRecordingStart();
    EXPECT_TRUE(controller->isRecording());
    EXPECT_TRUE(seen);
}

TEST_F(PresenterSnapshotTest, BorderPropertiesAnnounceOnlyABorderChange) {
    controller->setFrameShape(Shape::rounded);
    QSignalSpy border(controller.get(), &PresenterSource::borderChanged);
    controller->setOffset(QSizeF(10, 10));
    controller->setScale(1.3);
    EXPECT_EQ(border.count(), 0);
    controller->toggleRecording("Demo Game");
    confirmRecordingStart();
    EXPECT_EQ(border.count(), 1);
    EXPECT_EQ(controller->property("borderColor").value<QColor>(), kRed);
    EXPECT_EQ(controller->property("borderWidth").toDouble(), 3);
}

}  // namespace
