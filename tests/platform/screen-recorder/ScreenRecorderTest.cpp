#include <signal.h>

#include <QGuiApplication>
#include <QPainter>
#include <QRasterWindow>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "platform/screen-recorder/LinuxScreenRecorder.h"
#include "platform/screen-recorder/SafeMove.h"
#include "platform/video/VideoFileReader.h"
#include "tests/platform/screen-recorder/RecorderTestSupport.h"

using namespace vantry::platform;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Outcome {
    std::optional<ScreenRecorderError> error;
    std::thread::id thread;
};

template <typename Call>
Outcome await(Call call) {
    auto done = std::make_shared<std::promise<Outcome>>();
    auto result = done->get_future();
    call([done](std::optional<ScreenRecorderError> e) {
        done->set_value({std::move(e), std::this_thread::get_id()});
    });
    if (result.wait_for(std::chrono::seconds(60)) != std::future_status::ready)
        return {ScreenRecorderError{"<no completion>"}, {}};
    return result.get();
}

fs::path freshFolder(const std::string& name) {
    const fs::path dir =
        fs::temp_directory_path() / ("vantry-recorder-" + name + "-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(ScreenRecorderMath, BitRateSuitsTheScreenSize) {
    const struct {
        int w, h;
        std::int64_t rate;
    } cases[] = {
        {1920, 1080, 6'220'800}, {1280, 720, 2'764'800}, {320, 240, 1'000'000}, {7680, 4320, 16'000'000}};
    for (const auto& c : cases) EXPECT_EQ(LinuxScreenRecorder::bitRateFor(c.w, c.h, 30), c.rate) << c.w;
}

TEST(SafeMove, ReplacesTheDestinationAndKeepsTheSourceOnFailure) {
    const fs::path dir = freshFolder("move");
    std::ofstream(dir / "a") << "new";
    std::ofstream(dir / "b") << "old";
    moveFileIntoPlace(dir / "a", dir / "b");
    EXPECT_EQ(slurp(dir / "b"), "new");
    EXPECT_FALSE(fs::exists(dir / "a"));

    std::ofstream(dir / "c") << "kept";
    EXPECT_THROW(moveFileIntoPlace(dir / "c", dir / "missing-folder" / "d"), fs::filesystem_error);
    EXPECT_EQ(slurp(dir / "c"), "kept");

    // Across file systems (shared memory against the temporary folder, where they differ).
    const fs::path shm = "/dev/shm/vantry-move-" + std::to_string(::getpid());
    std::ofstream(shm) << "crossed";
    if (fs::exists(shm)) {
        moveFileIntoPlace(shm, dir / "e");
        EXPECT_EQ(slurp(dir / "e"), "crossed");
        EXPECT_FALSE(fs::exists(shm));
        EXPECT_FALSE(fs::exists(dir / ".e.moving"));
    }
    fs::remove_all(dir);
}

TEST(ScreenRecorder, WithoutADisplayItIsUnavailableAndSaysWhy) {
    LinuxScreenRecorderOptions options;
    options.display = ":987";  // no server there
    options.captureAudio = false;
    options.log = [](const std::string&) {};
    LinuxScreenRecorder recorder(options);
    EXPECT_FALSE(recorder.isAvailable());
    const Outcome start = await([&](auto done) { recorder.startRecording(done); });
    ASSERT_TRUE(start.error);
    EXPECT_NE(start.error->localizedDescription.find("Cannot capture the screen of display :987"),
              std::string::npos);
    EXPECT_NE(start.thread, std::this_thread::get_id()) << "completions come from the recorder's thread";
    const Outcome stop = await([&](auto done) { recorder.stopRecording("/tmp/never.mp4", done); });
    ASSERT_TRUE(stop.error);
    EXPECT_EQ(stop.error->localizedDescription, "No screen recording is running.");
}

// A window whose colour and a bar move every frame, so the screen has something to record.
class MovingWindow : public QRasterWindow {
  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(QRect(0, 0, width(), height()), QColor::fromHsv((tick_ * 7) % 360, 200, 220));
        p.fillRect((tick_ * 13) % width(), 0, 60, height(), Qt::white);
        ++tick_;
    }

  private:
    int tick_ = 0;
};

class ScreenRecorderOnDisplay : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (!std::getenv("DISPLAY") || QGuiApplication::instance()) return;
        static int argc = 1;
        static char name[] = "platform_screen_recorder_tests";
        static char* argv[] = {name, nullptr};
        static QGuiApplication app(argc, argv);
    }
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display (run under xvfb-run)";
        LinuxScreenRecorder probe(quietOptions());
        if (!probe.isAvailable()) GTEST_SKIP() << "the X display cannot be captured";
    }
    static LinuxScreenRecorderOptions quietOptions() {
        LinuxScreenRecorderOptions options;
        options.log = [](const std::string&) {};
        return options;
    }
    static void spinEventsFor(std::chrono::milliseconds span) {
        const auto end = Clock::now() + span;
        while (Clock::now() < end) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
};

TEST_F(ScreenRecorderOnDisplay, RecordsTheWholeScreenAtAConstantThirtyFramesPerSecond) {
    MovingWindow window;
    window.setGeometry(0, 0, 640, 480);
    window.show();
    QTimer animate;
    QObject::connect(&animate, &QTimer::timeout, &window, [&] { window.update(); });
    animate.start(33);
    spinEventsFor(std::chrono::milliseconds(300));

    const fs::path dir = freshFolder("screen");
    auto options = quietOptions();
    options.captureAudio = false;
    LinuxScreenRecorder recorder(options);
    recorder.setScratchFolder(dir);
    // The file's clock starts inside the start call and stops inside the stop call.
    const auto beforeStart = Clock::now();
    ASSERT_FALSE(await([&](auto done) { recorder.startRecording(done); }).error);
    const auto afterStart = Clock::now();
    spinEventsFor(std::chrono::milliseconds(2000));
    const auto beforeStop = Clock::now();
    std::promise<Outcome> stopped;
    recorder.stopRecording(dir / "screen.mp4", [&](auto e) { stopped.set_value({std::move(e), {}}); });
    const auto afterStop = Clock::now();
    const Outcome stop = stopped.get_future().get();
    const double shortest = std::chrono::duration<double>(beforeStop - afterStart).count();
    const double longest = std::chrono::duration<double>(afterStop - beforeStart).count();
    ASSERT_FALSE(stop.error) << stop.error->localizedDescription;

    const VideoFileInfo info = probeVideoFile(dir / "screen.mp4");
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size() *
                         QGuiApplication::primaryScreen()->devicePixelRatio();
    EXPECT_EQ(info.codecName, "h264");
    EXPECT_EQ(info.width, screen.width() & ~1);
    EXPECT_EQ(info.height, screen.height() & ~1);
    EXPECT_EQ(info.frameRateNum / std::max(info.frameRateDen, 1), 30);
    EXPECT_EQ(info.audioStreams, 0);
    // Within a frame or two of the time between the calls.
    EXPECT_GE(double(info.packets.size()), shortest * 30 - 1.5);
    EXPECT_LE(double(info.packets.size()), longest * 30 + 1.5);
    EXPECT_EQ(recorder.lastStats().framesWritten, std::int64_t(info.packets.size()));
    for (const auto& e : fs::directory_iterator(dir))
        EXPECT_FALSE(e.path().string().ends_with(".partial.mp4")) << "scratch file left: " << e.path();

    // Pictures with more than one colour, and the window changes between them.
    std::set<std::vector<std::uint8_t>> windowPictures;
    const auto frames = decodeVideoFrames(dir / "screen.mp4", [](std::int64_t i) { return i % 10 == 5; });
    ASSERT_GE(frames.size(), 3u);
    for (const auto& f : frames) {
        std::set<int> colours;
        std::vector<std::uint8_t> window;
        for (int y = 0; y < 480; y += 16)
            for (int x = 0; x < 640; x += 16) {
                colours.insert(f.r(x, y) << 16 | f.g(x, y) << 8 | f.b(x, y));
                window.push_back(f.g(x, y));
            }
        EXPECT_GT(colours.size(), 1u) << "frame " << f.index;
        windowPictures.insert(window);
    }
    EXPECT_GT(windowPictures.size(), 1u) << "the moving window shows in the recording";
    fs::remove_all(dir);
}

TEST_F(ScreenRecorderOnDisplay, ARecordingCutOffPartWayStillPlays) {
    const fs::path dir = freshFolder("kill");
    const pid_t child = vantry::testing::spawn(
        {VANTRY_CLI_PATH, "record", "--seconds", "30", "--out", (dir / "never.mp4").string()});
    ASSERT_GT(child, 0);
    // Wait until the growing file holds at least one finished fragment, then cut the power.
    fs::path partial;
    const auto deadline = Clock::now() + std::chrono::seconds(40);
    while (Clock::now() < deadline) {
        for (const auto& e : fs::directory_iterator(dir))
            if (e.path().string().ends_with(".partial.mp4")) partial = e.path();
        if (!partial.empty()) {
            const std::string bytes = slurp(partial);
            std::size_t moofs = 0;
            for (auto at = bytes.find("moof"); at != std::string::npos; at = bytes.find("moof", at + 4))
                ++moofs;
            if (moofs >= 2) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    vantry::testing::stopChild(child, SIGKILL);
    ASSERT_FALSE(partial.empty()) << "no scratch file appeared";
    EXPECT_FALSE(fs::exists(dir / "never.mp4"));

    const VideoFileInfo info = probeVideoFile(partial);
    EXPECT_EQ(info.codecName, "h264");
    EXPECT_GE(info.packets.size(), 60u) << "at least the first 2-second fragment";
    const auto frames = decodeVideoFrames(partial, [](std::int64_t i) { return i == 0 || i == 59; });
    EXPECT_EQ(frames.size(), 2u);
    fs::remove_all(dir);
}

TEST_F(ScreenRecorderOnDisplay, AFailedSaveKeepsTheRecordingAndSaysWhere) {
    const fs::path dir = freshFolder("unsaved");
    std::vector<std::string> lines;
    auto options = quietOptions();
    options.captureAudio = false;
    options.log = [&lines](const std::string& l) { lines.push_back(l); };
    LinuxScreenRecorder recorder(options);
    recorder.setScratchFolder(dir);
    ASSERT_FALSE(await([&](auto done) { recorder.startRecording(done); }).error);
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    const Outcome stop = await([&](auto done) { recorder.stopRecording("/proc/vantry/none.mp4", done); });
    ASSERT_TRUE(stop.error);
    EXPECT_NE(stop.error->localizedDescription.find("could not be saved as none.mp4"), std::string::npos);
    const fs::path kept = recorder.lastStats().scratchFile;
    ASSERT_TRUE(fs::exists(kept));
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& l) {
        return l.find(kept.string()) != std::string::npos;
    })) << "the log names the kept file";
    EXPECT_EQ(probeVideoFile(kept).codecName, "h264");
    fs::remove_all(dir);
}

TEST_F(ScreenRecorderOnDisplay, GameAudioAndMicrophoneCarryAKnownTone) {
    std::string why;
    const auto server = vantry::testing::PrivatePulseServer::start(why);
    if (!server) GTEST_SKIP() << "no sound server could be started: " << why;
    const fs::path dir = freshFolder("tone");
    vantry::testing::writeToneWav(dir / "tone.wav", 880.0, 30.0, 48000);
    ::setenv("PULSE_SERVER", server->address().c_str(), 1);
    const pid_t player = vantry::testing::spawn({"paplay", (dir / "tone.wav").string()});
    ASSERT_GT(player, 0) << "paplay is missing";
    std::this_thread::sleep_for(std::chrono::milliseconds(700));

    for (const bool mic : {false, true}) {
        SCOPED_TRACE(mic ? "with the microphone" : "game audio alone");
        std::vector<std::string> lines;
        auto options = quietOptions();
        options.log = [&lines](const std::string& l) { lines.push_back(l); };
        LinuxScreenRecorder recorder(options);
        recorder.setScratchFolder(dir);
        recorder.setMicrophoneEnabled(mic);
        ASSERT_FALSE(await([&](auto done) { recorder.startRecording(done); }).error);
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        const fs::path file = dir / (mic ? "mic.mp4" : "game.mp4");
        ASSERT_FALSE(await([&](auto done) { recorder.stopRecording(file, done); }).error);

        const auto stats = recorder.lastStats();
        EXPECT_TRUE(stats.hasAudio) << (lines.empty() ? "" : lines.front());
        EXPECT_EQ(stats.microphoneMixed, mic);
        EXPECT_EQ(probeVideoFile(file).audioStreams, 1);
        int rate = 0;
        const auto samples = vantry::testing::decodeSoundTrack(file, rate);
        EXPECT_EQ(rate, 48000);
        EXPECT_GT(samples.size(), std::size_t(48000));
        EXPECT_NEAR(vantry::testing::dominantFrequency(samples, rate), 880.0, 880.0 * 0.02);
    }
    vantry::testing::stopChild(player, SIGTERM);
    ::unsetenv("PULSE_SERVER");
    fs::remove_all(dir);
}

}  // namespace
