#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMetaMethod>
#include <QSignalSpy>
#include <cmath>
#include <limits>
#include <memory>

#include <gtest/gtest.h>

#include "creator/studio-overlay/CreatorStudioMath.h"
#include "creator/studio-overlay/OruCreatorStudioControllerV1045.h"
#include "platform/dispatch/MainThreadDispatcher.h"
#include "tests/support/StudioControllerFakes.h"

// Readable failure messages for Qt strings.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

using namespace vantry::creator;
using vantry::platform::ScreenRecorder;
using vantry::platform::ScreenRecorderError;
using vantry::testing::FakeFeed;
using vantry::testing::FakeRecorder;
using vantry::testing::FeedRecord;
using vantry::testing::fromOtherThread;
using Controller = OruCreatorStudioControllerV1045;
using Mode = OruFacecamBackgroundModeV1045;
using Shape = OruFacecamShapeV1045;
namespace studio = vantry::creator::studio;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(StudioMath, ClampScale) {
    const struct {
        double in, out;
    } cases[] = {{0.2, 0.55}, {3, 2.2}, {kNaN, 0.55}, {1.0, 1.0}, {0.55, 0.55}, {2.2, 2.2}, {-1e300, 0.55}};
    for (const auto& c : cases) EXPECT_EQ(studio::clampScale(c.in), c.out) << c.in;
}

TEST(StudioMath, ClampOffset) {
    const struct {
        studio::SizeD offset, area, out;
    } cases[] = {
        {{500, -500}, {800, 600}, {352, -252}},   {{100, -100}, {50, 50}, {40, -40}},
        {{-100, 100}, {50, 50}, {-40, 40}},       {{10, -20}, {800, 600}, {10, -20}},
        {{kNaN, kNaN}, {800, 600}, {-352, -252}},
    };
    for (const auto& c : cases) {
        const auto r = studio::clampOffset(c.offset, c.area);
        EXPECT_DOUBLE_EQ(r.width, c.out.width) << c.offset.width;
        EXPECT_DOUBLE_EQ(r.height, c.out.height) << c.offset.height;
    }
}

TEST(StudioMath, FormattedRecordingTime) {
    const struct {
        std::int64_t ticks;
        const char* text;
    } cases[] = {{0, "00:00"},     {7, "00:01"},      {240, "01:00"},
                 {14399, "59:59"}, {24000, "100:00"}, {3, "00:00"}};
    for (const auto& c : cases) EXPECT_EQ(studio::formattedRecordingTime(c.ticks), c.text) << c.ticks;
}

TEST(StudioMath, RecordingFileNameReplacesSpacesAndTruncatesTheTime) {
    EXPECT_EQ(studio::recordingFileName("Demo Game", 1765000000.7), "Demo_Game_CreatorRec_1765000000.mp4");
    EXPECT_EQ(studio::recordingFileName(" a  b ", 12.999), "_a__b__CreatorRec_12.mp4");
    EXPECT_EQ(studio::recordingFileName("../../etc/x", 1), ".._.._etc_x_CreatorRec_1.mp4");
}

TEST(StudioMath, MeterStaysInItsRangeAndIsExactlyZeroWithoutTheMicrophone) {
    for (int i = 0; i < 2000; ++i) {
        const double t = 1765000000.0 + i * 0.25 + i * 1e-3;
        EXPECT_EQ(studio::meterLevel(t, false), 0.0);
        const double level = studio::meterLevel(t, true);
        EXPECT_GE(level, 0.18);
        EXPECT_LE(level, 0.73);
    }
}

// One controller over fakes; main-thread tasks run when the test drains the queue.
class StudioControllerTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (!QCoreApplication::instance()) {
            static int argc = 1;
            static char name[] = "studio_controller_tests";
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
        services.revealFile = [this](const std::filesystem::path& p,
                                     std::function<void(const std::string&)> done) {
            revealed.push_back(p);
            done(revealFailure);
        };
        controller = std::make_unique<Controller>(std::move(services));
    }

    void TearDown() override {
        controller.reset();
        vantry::platform::drainMainQueue();
    }

    static std::size_t drain() { return vantry::platform::drainMainQueue(); }

    // One timer firing a quarter of a second later.
    void tick() {
        now += 0.25;
        controller->meterTick();
    }

    void startRecording(bool ok = true) {
        controller->toggleRecording("Demo Game");
        ASSERT_EQ(recorder->starts.size(), 1u);
        auto handler = recorder->starts.back();
        fromOtherThread([&] { handler(ok ? std::nullopt : std::optional(ScreenRecorderError{"busy"})); });
        drain();
    }

    std::shared_ptr<FeedRecord> feed = std::make_shared<FeedRecord>();
    std::shared_ptr<FakeRecorder> recorder = std::make_shared<FakeRecorder>();
    std::vector<std::filesystem::path> revealed;
    std::string revealFailure;  // what the file manager answers; empty: it showed the file
    double now = 1765000000.7;
    std::unique_ptr<Controller> controller;
};

// Records every notify signal of the controller.
struct SignalLog {
    explicit SignalLog(const QObject& object) {
        const QMetaObject* meta = object.metaObject();
        for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
            const QMetaMethod m = meta->method(i);
            if (m.methodType() == QMetaMethod::Signal)
                spies.push_back(std::make_unique<QSignalSpy>(&object, m));
        }
    }
    std::vector<QString> fired() const {
        std::vector<QString> names;
        for (const auto& s : spies)
            if (!s->isEmpty()) names.push_back(QString::fromLatin1(s->signal()));
        return names;
    }
    std::vector<std::unique_ptr<QSignalSpy>> spies;
};

TEST_F(StudioControllerTest, StartsWithTheDocumentedValues) {
    const Controller& c = *controller;
    EXPECT_FALSE(c.isToolbarExpanded());
    EXPECT_FALSE(c.isCameraEnabled());
    EXPECT_EQ(c.backgroundMode(), Mode::cutoutNoBackground);
    EXPECT_EQ(c.frameShape(), Shape::freeCutout);
    EXPECT_TRUE(c.isMirrored());
    EXPECT_TRUE(c.refineEdges());
    EXPECT_TRUE(c.isMicIncluded());
    EXPECT_FALSE(c.isRecording());
    EXPECT_EQ(c.recordingElapsedSeconds(), 0);
    EXPECT_EQ(c.micActivityLevel(), 0.25);
    EXPECT_EQ(c.statusMessage(), "Creator Cam Ready");
    EXPECT_FALSE(c.hasCameraFrame());
    EXPECT_FALSE(c.isUsingLiveHardwareCamera());
    EXPECT_EQ(c.offset(), QSizeF(-16, -96));
    EXPECT_EQ(c.scale(), 1.0);
    EXPECT_FALSE(c.isMeterTimerRunning());
    EXPECT_EQ(c.property("backgroundMode").toString(), "BG Occlusion");
    EXPECT_EQ(c.property("frameShape").toString(), "Cutout");
    EXPECT_EQ(c.property("formattedRecordingTime").toString(), "00:00");
}

TEST_F(StudioControllerTest, BackgroundModeAndMirroringReachTheFeedButTheShapeDoesNot) {
    controller->setBackgroundMode(Mode::studioBlur);
    controller->setMirrored(false);
    controller->setFrameShape(Shape::circle);
    controller->setProperty("backgroundMode", "Full Cam");
    controller->setProperty("backgroundMode", "green");  // unknown: ignored
    const std::vector<std::pair<Mode, bool>> expected{
        {Mode::studioBlur, true}, {Mode::studioBlur, false}, {Mode::fullCamera, false}};
    EXPECT_EQ(feed->settings, expected);
    EXPECT_EQ(controller->frameShapeRawValue(), "Circle");
}

TEST_F(StudioControllerTest, StandingInTheSetCutsThePresenterOutWhateverTheBackgroundMode) {
    QSignalSpy changed(controller.get(), &Controller::standsInSetChanged);
    controller->setBackgroundMode(Mode::fullCamera);
    controller->setProperty("standsInSet", true);
    controller->setStandsInSet(true);  // unchanged: nothing sent
    controller->setBackgroundMode(Mode::studioBlur);
    controller->setMirrored(false);
    controller->setStandsInSet(false);
    const std::vector<std::pair<Mode, bool>> expected{{Mode::fullCamera, true},
                                                      {Mode::cutoutNoBackground, true},
                                                      {Mode::cutoutNoBackground, true},
                                                      {Mode::cutoutNoBackground, false},
                                                      {Mode::studioBlur, false}};
    EXPECT_EQ(feed->settings, expected);
    EXPECT_EQ(changed.count(), 2);
    EXPECT_EQ(controller->backgroundModeRawValue(), "BG Blur");  // the mode itself is kept
}

TEST_F(StudioControllerTest, RefineEdgesReachesTheFeedOncePerChange) {
    QSignalSpy changed(controller.get(), &Controller::refineEdgesChanged);
    controller->setProperty("refineEdges", false);
    controller->setRefineEdges(false);  // unchanged: nothing sent
    controller->setRefineEdges(true);
    EXPECT_EQ(feed->refineEdges, (std::vector<bool>{false, true}));
    EXPECT_EQ(changed.count(), 2);
    EXPECT_TRUE(feed->settings.empty());  // mode and mirroring are left alone
}

TEST_F(StudioControllerTest, CameraOnPassesSettingsStartsTheFeedAndTheMeter) {
    controller->toggleCamera();
    EXPECT_TRUE(controller->isCameraEnabled());
    ASSERT_EQ(feed->settings.size(), 1u);
    EXPECT_EQ(feed->settings[0], std::make_pair(Mode(Mode::cutoutNoBackground), true));
    ASSERT_EQ(feed->starts.size(), 1u);
    EXPECT_TRUE(controller->isMeterTimerRunning());

    const struct {
        bool ok;
        const char* message;
    } outcomes[] = {{true, "Live Camera Active"},
                    {false, "Camera permission denied — using Studio Preview"},
                    {false, "No front camera detected — using Studio Preview"}};
    for (const auto& o : outcomes) {
        auto completion = feed->starts[0];
        const QString before = controller->statusMessage();
        fromOtherThread([&] { completion(o.ok, o.message); });
        EXPECT_EQ(controller->statusMessage(), before) << "applied before the main thread ran it";
        drain();
        EXPECT_EQ(controller->isUsingLiveHardwareCamera(), o.ok);
        EXPECT_EQ(controller->statusMessage(), QString::fromUtf8(o.message));
        EXPECT_TRUE(controller->isMeterTimerRunning()) << "the meter runs even on the placeholder";
    }
}

TEST_F(StudioControllerTest, CameraOffStopsTheFeedAndTimerButKeepsMessageAndPicture) {
    controller->toggleCamera();
    auto onFrame = feed->onFrame;
    fromOtherThread([&] { onFrame(QImage(4, 4, QImage::Format_ARGB32_Premultiplied)); });
    auto completion = feed->starts[0];
    fromOtherThread([&] { completion(true, "Live Camera Active"); });
    drain();
    ASSERT_TRUE(controller->hasCameraFrame());

    SignalLog log(*controller);
    controller->toggleCamera();
    EXPECT_EQ(feed->stops, 1);
    EXPECT_FALSE(controller->isUsingLiveHardwareCamera());
    EXPECT_FALSE(controller->isMeterTimerRunning());
    EXPECT_TRUE(controller->hasCameraFrame());
    EXPECT_EQ(controller->statusMessage(), "Live Camera Active");
    const std::vector<QString> expected{"isCameraEnabledChanged()", "isUsingLiveHardwareCameraChanged()"};
    EXPECT_EQ(log.fired(), expected);
}

TEST_F(StudioControllerTest, LateCameraCompletionAfterASecondToggleStillApplies) {
    controller->toggleCamera();
    controller->toggleCamera();
    auto completion = feed->starts[0];
    fromOtherThread([&] { completion(true, "Live Camera Active"); });
    drain();
    EXPECT_FALSE(controller->isCameraEnabled());
    EXPECT_TRUE(controller->isUsingLiveHardwareCamera());
    EXPECT_EQ(controller->statusMessage(), "Live Camera Active");
}

TEST_F(StudioControllerTest, MeterTicksFollowTheMicrophoneSwitch) {
    controller->toggleCamera();
    for (int i = 0; i < 40; ++i) {
        now += 0.25;
        controller->setMicIncluded(i % 2 == 0);
        controller->meterTick();
        if (i % 2 == 0) {
            EXPECT_EQ(controller->micActivityLevel(), studio::meterLevel(now, true));
        } else {
            EXPECT_EQ(controller->micActivityLevel(), 0.0);
        }
    }
    EXPECT_EQ(controller->recordingElapsedSeconds(), 0) << "ticks count only while recording";
}

TEST_F(StudioControllerTest, UnavailableRecorderChangesOnlyTheStatus) {
    recorder->available = false;
    SignalLog log(*controller);
    controller->toggleRecording("Demo Game");
    EXPECT_EQ(controller->statusMessage(),
              "Screen Recorder ready (enable Screen Recording in System Settings)");
    EXPECT_EQ(log.fired(), std::vector<QString>{"statusMessageChanged()"});
    EXPECT_TRUE(recorder->starts.empty());
    EXPECT_FALSE(recorder->microphone.has_value());
}

TEST_F(StudioControllerTest, SuccessfulStartSetsSwitchesStateAndMessage) {
    const struct {
        bool mic;
        const char* message;
    } cases[] = {{true, "REC (Game + Mic + Cam)"}, {false, "REC (Game Audio)"}};
    for (const auto& c : cases) {
        SetUp();
        controller->setMicIncluded(c.mic);
        startRecording();
        EXPECT_EQ(recorder->microphone, c.mic);
        EXPECT_EQ(recorder->camera, false);
        EXPECT_EQ(recorder->scratchFolder, "/clips");
        EXPECT_TRUE(controller->isRecording());
        EXPECT_EQ(controller->statusMessage(), QString::fromUtf8(c.message));
        EXPECT_TRUE(controller->isMeterTimerRunning());
        tick();
        tick();
        EXPECT_EQ(controller->recordingElapsedSeconds(), 2);
        recorder = std::make_shared<FakeRecorder>();
    }
}

TEST_F(StudioControllerTest, FailedStartOnlyReportsTheError) {
    startRecording(false);
    EXPECT_EQ(controller->statusMessage(), "Rec error: busy");
    EXPECT_FALSE(controller->isRecording());
    EXPECT_FALSE(controller->isMeterTimerRunning());
}

TEST_F(StudioControllerTest, AStartCancelledInTheDesktopsDialogIsAStatusNotAnError) {
    controller->toggleRecording("Demo Game");
    ASSERT_EQ(recorder->starts.size(), 1u);
    auto handler = recorder->starts.back();
    fromOtherThread([&] { handler(ScreenRecorderError{"Recording not started: cancelled.", true}); });
    drain();
    EXPECT_EQ(controller->statusMessage(), "Recording not started: cancelled.");
    EXPECT_FALSE(controller->isRecording());
    EXPECT_FALSE(controller->isMeterTimerRunning());
}

TEST_F(StudioControllerTest, StopSavesUnderTheTitleAndTimeAndRevealsTheFile) {
    startRecording();
    for (int i = 0; i < 9; ++i) tick();
    controller->toggleRecording("Demo Game");
    ASSERT_EQ(recorder->stops.size(), 1u);
    EXPECT_EQ(recorder->stops[0].first, "/clips/Demo_Game_CreatorRec_1765000002.mp4");
    EXPECT_TRUE(controller->isRecording()) << "until the recorder has written the file";
    EXPECT_TRUE(controller->isSaving());
    controller->toggleRecording("Demo Game");
    controller->toggleRecording("Demo Game");
    EXPECT_EQ(recorder->stops.size(), 1u) << "presses while saving neither stop again nor start";
    EXPECT_TRUE(recorder->starts.size() == 1u);
    auto handler = recorder->stops[0].second;
    fromOtherThread([&] { handler(std::nullopt); });
    drain();
    EXPECT_FALSE(controller->isRecording());
    EXPECT_FALSE(controller->isSaving());
    EXPECT_EQ(controller->recordingElapsedSeconds(), 9) << "the count stays until the next start";
    EXPECT_EQ(controller->formattedRecordingTime(), "00:02");
    EXPECT_EQ(controller->statusMessage(), "Saved Demo_Game_CreatorRec_1765000002.mp4");
    EXPECT_EQ(controller->savedFilePath(), "/clips/Demo_Game_CreatorRec_1765000002.mp4");
    EXPECT_EQ(revealed, std::vector<std::filesystem::path>{"/clips/Demo_Game_CreatorRec_1765000002.mp4"});
    EXPECT_FALSE(controller->isMeterTimerRunning());
}

TEST_F(StudioControllerTest, TheClockFollowsTheRecordingsRealDurationWhenTicksComeLate) {
    startRecording();
    now += 47.9;  // a starved timer: one firing after almost 48 s
    controller->meterTick();
    EXPECT_EQ(controller->formattedRecordingTime(), "00:47");
    now -= 30;  // the system clock set back
    controller->meterTick();
    EXPECT_EQ(controller->formattedRecordingTime(), "00:47");
}

TEST_F(StudioControllerTest, TheStatusSaysWhatTheUserCannotOtherwiseSee) {
    recorder->sound = false;
    startRecording();
    EXPECT_EQ(controller->statusMessage(), "REC (Game + Mic + Cam) · video only: no sound server reachable");
    auto failure = recorder->failure;
    ASSERT_TRUE(failure);
    fromOtherThread([&] { failure(ScreenRecorderError{"No space left on device"}); });
    drain();
    EXPECT_EQ(controller->statusMessage(), "Rec error: No space left on device");
    revealFailure = "no program opens folders";
    controller->toggleRecording("T");
    auto saved = recorder->stops[0].second;
    fromOtherThread([&] { saved(std::nullopt); });
    drain();
    drain();  // the file manager's answer
    EXPECT_EQ(controller->statusMessage(), "Show in Folder: no file manager answered (/clips)");
}

TEST_F(StudioControllerTest, FailedSaveGivesASaveNoteAndRevealsNothing) {
    startRecording();
    controller->toggleRecording("X");
    auto handler = recorder->stops[0].second;
    fromOtherThread([&] { handler(ScreenRecorderError{"disk full"}); });
    drain();
    EXPECT_EQ(controller->statusMessage(), "Save note: disk full");
    EXPECT_FALSE(controller->isRecording());
    EXPECT_TRUE(revealed.empty());
}

TEST_F(StudioControllerTest, AFailingRecordingStopsAtOnceWithASaveNote) {
    startRecording();
    ASSERT_TRUE(recorder->failure);
    auto failure = recorder->failure;
    fromOtherThread([&] { failure(ScreenRecorderError{"cannot write the recording"}); });
    drain();
    ASSERT_EQ(recorder->stops.size(), 1u) << "the controller stops without waiting for the user";
    auto handler = recorder->stops[0].second;
    fromOtherThread([&] { handler(ScreenRecorderError{"kept at /clips/x.partial.mp4"}); });
    drain();
    EXPECT_FALSE(controller->isRecording());
    EXPECT_EQ(controller->statusMessage(), "Save note: kept at /clips/x.partial.mp4");
    EXPECT_TRUE(revealed.empty());
}

TEST_F(StudioControllerTest, CameraOffDuringARecordingKeepsTheTimerAndTheCount) {
    controller->toggleCamera();
    startRecording();
    tick();
    controller->toggleCamera();
    EXPECT_TRUE(controller->isMeterTimerRunning());
    tick();
    EXPECT_EQ(controller->recordingElapsedSeconds(), 2);
    // Camera back on before the save: the save leaves the timer running.
    controller->toggleCamera();
    controller->toggleRecording("T");
    auto handler = recorder->stops[0].second;
    fromOtherThread([&] { handler(std::nullopt); });
    drain();
    EXPECT_TRUE(controller->isMeterTimerRunning());
}

TEST_F(StudioControllerTest, NothingReachesADestroyedControllerAndItsFeedIsNotStopped) {
    controller->toggleCamera();
    startRecording();
    controller->toggleRecording("T");
    auto cameraDone = feed->starts[0];
    auto onFrame = feed->onFrame;
    auto saved = recorder->stops[0].second;
    controller.reset();
    EXPECT_TRUE(feed->destroyed);
    EXPECT_EQ(feed->stops, 0);
    fromOtherThread([&] {
        cameraDone(true, "Live Camera Active");
        onFrame(QImage(2, 2, QImage::Format_ARGB32_Premultiplied));
        saved(std::nullopt);
    });
    EXPECT_EQ(drain(), 3u);
    EXPECT_TRUE(revealed.empty());
}

TEST_F(StudioControllerTest, FramesFromTheCameraQueueReachTheMainThreadInOrder) {
    auto onFrame = feed->onFrame;
    fromOtherThread([&] {
        for (int w = 1; w <= 5; ++w) onFrame(QImage(w, 1, QImage::Format_ARGB32_Premultiplied));
    });
    EXPECT_FALSE(controller->hasCameraFrame());
    QSignalSpy spy(controller.get(), &Controller::latestCameraFrameChanged);
    drain();
    EXPECT_EQ(spy.count(), 5);
    EXPECT_EQ(controller->latestCameraFrame().width(), 5);
}

TEST_F(StudioControllerTest, TheMeterTimerFiresOnTheEventLoop) {
    controller->toggleCamera();
    controller->setMicIncluded(false);
    QElapsedTimer clock;
    clock.start();
    while (controller->micActivityLevel() != 0.0 && clock.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    EXPECT_EQ(controller->micActivityLevel(), 0.0);
}

// The recording belongs to a CreatorRecorder shared by the overlays that come and go over it.
class StudioRecordingTest : public StudioControllerTest {
  protected:
    using Kind = RecordingOutcome::Kind;

    std::shared_ptr<CreatorRecorder> makeOwner() {
        return std::make_shared<CreatorRecorder>(CreatorRecorder::Services{
            recorder, [this] { return now; }, [] { return std::filesystem::path("/clips"); }});
    }
    std::unique_ptr<Controller> overlayOver(std::shared_ptr<CreatorRecorder> owner) {
        CreatorStudioServices services;
        services.feed = std::make_unique<FakeFeed>(std::make_shared<FeedRecord>());
        services.recording = std::move(owner);
        services.now = [this] { return now; };
        services.clipsDirectory = [] { return std::filesystem::path("/clips"); };
        services.revealFile = [](const std::filesystem::path&, std::function<void(const std::string&)>) {};
        return std::make_unique<Controller>(std::move(services));
    }
    // Answers the recorder's last start or stop from the recorder's side, then runs the
    // main-thread tasks.
    template <typename Handler>
    void answer(Handler handler, std::optional<ScreenRecorderError> error = std::nullopt) {
        fromOtherThread([&] { handler(error); });
        drain();
    }
};

TEST_F(StudioRecordingTest, ARecordingOutlivesItsOverlayAndTheNextOverlayShowsAndStopsIt) {
    auto owner = makeOwner();
    auto first = overlayOver(owner);
    first->toggleRecording("Demo Game");
    ASSERT_EQ(recorder->starts.size(), 1u);
    answer(recorder->starts[0]);
    ASSERT_TRUE(first->isRecording());
    first.reset();
    EXPECT_TRUE(recorder->stops.empty());
    EXPECT_EQ(owner->state(), CreatorRecorder::State::recording) << "no copy of the state went with it";

    auto second = overlayOver(owner);
    EXPECT_TRUE(second->isRecording());
    EXPECT_TRUE(second->isMeterTimerRunning()) << "the new overlay counts the running recording's time";
    now += 3;
    second->meterTick();
    EXPECT_EQ(second->formattedRecordingTime(), "00:03");
    second->toggleRecording("Demo Game");
    ASSERT_EQ(recorder->stops.size(), 1u);
    EXPECT_TRUE(second->isSaving());
    answer(recorder->stops[0].second);
    EXPECT_FALSE(second->isRecording());
    EXPECT_EQ(second->statusMessage(), "Saved Demo_Game_CreatorRec_1765000003.mp4");
}

TEST_F(StudioRecordingTest, EveryRefusedStartAndStopIsAnsweredAsSuchAndAsksTheRecorderNothing) {
    enum class Reach { idle, starting, recording, saving };
    const struct {
        Reach state;
        bool start;
        Kind answer;
    } cases[] = {
        {Reach::idle, false, Kind::notRunning},   {Reach::starting, true, Kind::starting},
        {Reach::starting, false, Kind::starting}, {Reach::recording, true, Kind::alreadyRunning},
        {Reach::saving, true, Kind::saving},      {Reach::saving, false, Kind::saving},
    };
    for (const auto& c : cases) {
        recorder = std::make_shared<FakeRecorder>();
        SetUp();
        if (c.state != Reach::idle) controller->toggleRecording("T");
        if (c.state == Reach::recording || c.state == Reach::saving) answer(recorder->starts[0]);
        if (c.state == Reach::saving) controller->toggleRecording("T");
        const std::size_t starts = recorder->starts.size(), stops = recorder->stops.size();
        const QString status = controller->statusMessage();

        std::vector<RecordingOutcome> answers;
        controller->requestRecording(c.start, "T", [&](const RecordingOutcome& o) { answers.push_back(o); });
        ASSERT_EQ(answers.size(), 1u) << "a refusal is answered at once";
        EXPECT_EQ(answers[0].kind, c.answer) << int(c.state) << " " << c.start;
        EXPECT_FALSE(answers[0].reason.empty());
        EXPECT_EQ(recorder->starts.size(), starts);
        EXPECT_EQ(recorder->stops.size(), stops);
        EXPECT_EQ(controller->statusMessage(), status);
    }
}

TEST_F(StudioRecordingTest, AStartAndAStopAreAnsweredWhenTheRecorderHasDoneThem) {
    std::vector<RecordingOutcome> answers;
    const auto keep = [&](const RecordingOutcome& o) { answers.push_back(o); };
    controller->requestRecording(true, "Demo Game", keep);
    EXPECT_TRUE(answers.empty());
    answer(recorder->starts[0]);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].kind, Kind::started);

    controller->requestRecording(false, "Demo Game", keep);
    EXPECT_EQ(answers.size(), 1u) << "not before the file is finished";
    answer(recorder->stops[0].second);
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[1].kind, Kind::saved);
    EXPECT_EQ(answers[1].file, "/clips/Demo_Game_CreatorRec_1765000000.mp4");

    controller->requestRecording(true, "Demo Game", keep);
    answer(recorder->starts[1], ScreenRecorderError{"no display"});
    ASSERT_EQ(answers.size(), 3u);
    EXPECT_EQ(answers[2].kind, Kind::notStarted);
    EXPECT_EQ(answers[2].reason, "no display");
}

TEST_F(StudioRecordingTest, NoRecordingStartsForAnOwnerThatIsGoneOrWasToldToEnd) {
    // The owner ends while the recorder is starting: the start it confirms is stopped at once.
    {
        auto owner = makeOwner();
        owner->start(true);
        auto started = recorder->starts[0];
        owner.reset();
        answer(started);
        ASSERT_EQ(recorder->stops.size(), 1u);
    }
    // The studio's switch goes off while the recorder is starting.
    recorder = std::make_shared<FakeRecorder>();
    auto owner = makeOwner();
    owner->start(false);
    owner->end("Vantry Pro");
    EXPECT_TRUE(recorder->stops.empty()) << "the recorder is not asked to stop what it has not started";
    answer(recorder->starts[0]);
    ASSERT_EQ(recorder->stops.size(), 1u);
    EXPECT_EQ(recorder->stops[0].first, "/clips/Vantry_Pro_CreatorRec_1765000000.mp4");
    EXPECT_TRUE(owner->isSaving());
    answer(recorder->stops[0].second);
    EXPECT_EQ(owner->state(), CreatorRecorder::State::idle);
}

TEST_F(StudioRecordingTest, FinishingAtTheEndOfTheProgramWaitsForTheFileWithoutTheMainQueue) {
    recorder->answerStops = true;
    auto owner = makeOwner();
    owner->start(true);
    answer(recorder->starts[0]);
    const auto outcome = owner->finishNow("Vantry Pro", 60'000);
    ASSERT_TRUE(outcome.has_value());
    EXPECT_EQ(outcome->kind, Kind::saved);
    EXPECT_EQ(outcome->message, "Saved Vantry_Pro_CreatorRec_1765000000.mp4");
    EXPECT_EQ(owner->state(), CreatorRecorder::State::idle);
    for (auto& t : recorder->answering) t.join();  // the completion has posted its task
    EXPECT_EQ(drain(), 1u) << "the completion's own task finds the stop already applied";
    EXPECT_FALSE(owner->finishNow("Vantry Pro", 60'000).has_value()) << "nothing left to finish";
}

TEST_F(StudioRecordingTest, FinishingCanServeTheMainThreadsEventsTheRecorderNeedsToStop) {
    // As the portal's screen cast: the stop completes only once the main thread handles an event.
    recorder->answerStop = [](const ScreenRecorder::Completion& handler) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [handler] { handler(std::nullopt); }, Qt::QueuedConnection);
    };
    auto owner = makeOwner();
    owner->start(false);
    answer(recorder->starts[0]);
    const auto outcome = owner->finishNow("Vantry Pro", 60'000, true);
    ASSERT_TRUE(outcome.has_value());
    EXPECT_EQ(outcome->kind, Kind::saved);
    EXPECT_EQ(owner->state(), CreatorRecorder::State::idle);
}

}  // namespace
