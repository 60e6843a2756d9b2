#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

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

#include "platform/audio-mix/ProgrammeSound.h"
#include "platform/files/SafeOutput.h"
#include "platform/screen-recorder/CapturePlan.h"
#include "platform/screen-recorder/FragmentTrim.h"
#include "platform/screen-recorder/LinuxScreenRecorder.h"
#include "platform/screen-recorder/SafeMove.h"
#include "platform/video/VideoFileReader.h"
#include "tests/platform/screen-recorder/RecorderTestSupport.h"
#include "tests/support/PulseModules.h"

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

TEST(SafeMove, RefusesWhatIsNotAFileAndReplacesALinkItself) {
    const fs::path dir = freshFolder("refuse");
    fs::create_directories(dir / "folder" / "inner");
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    struct stat null {};
    ASSERT_EQ(::stat("/dev/null", &null), 0);
    for (const fs::path& to : {dir / "folder", dir / "pipe", fs::path("/dev/null")}) {
        std::ofstream(dir / "rec") << "recording";
        EXPECT_THROW(moveFileIntoPlace(dir / "rec", to), OutputRefused) << to;
        EXPECT_EQ(slurp(dir / "rec"), "recording") << "the recording stays where it was";
    }
    EXPECT_TRUE(fs::is_directory(dir / "folder" / "inner"));
    EXPECT_TRUE(fs::is_fifo(dir / "pipe"));
    struct stat now {};
    ASSERT_EQ(::stat("/dev/null", &now), 0);
    EXPECT_TRUE(S_ISCHR(now.st_mode));
    EXPECT_EQ(now.st_rdev, null.st_rdev);

    std::ofstream(dir / "victim") << "untouched";
    fs::create_symlink(dir / "victim", dir / "link");
    moveFileIntoPlace(dir / "rec", dir / "link");
    EXPECT_FALSE(fs::is_symlink(dir / "link"));
    EXPECT_EQ(slurp(dir / "link"), "recording");
    EXPECT_EQ(slurp(dir / "victim"), "untouched");
    fs::remove_all(dir);
}

// Top-level boxes: 32-bit size, type, then filler.
std::string box(const char* type, std::uint32_t size) {
    std::string b{char(size >> 24), char(size >> 16), char(size >> 8), char(size)};
    b += type;
    b.resize(size, '\0');
    return b;
}

TEST(FragmentTrim, KeepsTheHeaderAndEveryWholeFragment) {
    const std::string header = box("ftyp", 24) + box("moov", 700);
    const std::string fragment = box("moof", 100) + box("mdat", 3000);
    std::string big{0, 0, 0, 1};  // the 64-bit size form
    big += "mdat";
    big += std::string{0, 0, 0, 0, 0, 0, 0x10, 0};
    big.resize(0x1000, '\0');
    const std::string two = header + fragment + fragment;
    const struct {
        const char* what;
        std::string bytes;
        std::uint64_t keptBytes;
        std::uint64_t fragments;
    } cases[] = {
        {"finished, with its index", two + box("mfra", 40), two.size() + 40, 2},
        {"cut inside an mdat", two + fragment.substr(0, 900), two.size(), 2},
        {"cut right after a moof", two + box("moof", 100), two.size(), 2},
        {"cut inside a box header", two + std::string("\0\0\x01", 3), two.size(), 2},
        {"cut inside the header", header.substr(0, 500), 24, 0},
        {"a box of 64-bit size", header + box("moof", 100) + big, header.size() + 100 + 0x1000, 1},
        {"garbage after a fragment", header + fragment + box("junk", 16) + fragment,
         header.size() + fragment.size(), 1},
        {"a size smaller than its header", header + box("moof", 100) + box("mdat", 8).replace(3, 1, "\x04"),
         header.size(), 0},
    };
    for (const auto& c : cases) {
        const FragmentedMp4Extent extent = completeFragments(c.bytes);
        EXPECT_EQ(extent.bytes, c.keptBytes) << c.what;
        EXPECT_EQ(extent.fragments, c.fragments) << c.what;
    }

    const fs::path dir = freshFolder("trim");
    std::ofstream(dir / "cut.mp4", std::ios::binary) << two << fragment.substr(0, 900);
    const FragmentedMp4Extent trimmed = trimToCompleteFragments(dir / "cut.mp4");
    EXPECT_EQ(trimmed.fragments, 2u);
    EXPECT_EQ(slurp(dir / "cut.mp4"), two);
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
        options.source = CaptureSourceChoice::x11;  // the test display, even inside a Wayland session
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
    // The whole screen, scaled down where this machine's encoder could not keep up with it.
    const vantry::platform::CapturePlan plan =
        vantry::platform::planCapture(screen.width(), screen.height(), 30,
                                      std::max(1u, std::thread::hardware_concurrency()), options.preset);
    EXPECT_EQ(info.width, plan.width);
    EXPECT_EQ(info.height, plan.height);
    EXPECT_NEAR(double(plan.width) / plan.height, double(screen.width()) / screen.height(), 0.01);
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
    fs::create_directories(dir / "folder.mp4");
    ASSERT_EQ(::mkfifo((dir / "pipe.mp4").c_str(), 0600), 0);
    const struct {
        fs::path out;
        std::string says;
    } cases[] = {
        {"/proc/vantry/none.mp4", "could not be saved as none.mp4"},
        {dir / "folder.mp4", "could not be saved as folder.mp4 (it is a folder)"},
        {dir / "pipe.mp4", "could not be saved as pipe.mp4 (it is a named pipe)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.out);
        std::vector<std::string> lines;
        auto options = quietOptions();
        options.captureAudio = false;
        options.log = [&lines](const std::string& l) { lines.push_back(l); };
        LinuxScreenRecorder recorder(options);
        recorder.setScratchFolder(dir);
        ASSERT_FALSE(await([&](auto done) { recorder.startRecording(done); }).error);
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        const Outcome stop = await([&](auto done) { recorder.stopRecording(c.out, done); });
        ASSERT_TRUE(stop.error);
        EXPECT_NE(stop.error->localizedDescription.find(c.says), std::string::npos)
            << stop.error->localizedDescription;
        const fs::path kept = recorder.lastStats().scratchFile;
        ASSERT_TRUE(fs::is_regular_file(kept));
        EXPECT_NE(stop.error->localizedDescription.find(kept.string()), std::string::npos);
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& l) {
            return l.find(kept.string()) != std::string::npos;
        })) << "the log names the kept file";
        EXPECT_EQ(probeVideoFile(kept).codecName, "h264");
        fs::remove(kept);
    }
    EXPECT_TRUE(fs::is_directory(dir / "folder.mp4"));
    EXPECT_TRUE(fs::is_fifo(dir / "pipe.mp4"));
    fs::remove_all(dir);
}

// The disk fills up while `record` runs: the file size limit of the running process is lowered
// to just above what it has written (its writes then fail with EFBIG, SIGXFSZ being ignored).
TEST_F(ScreenRecorderOnDisplay, AWriteFailureEndsTheRecordingAtOnceAndKeepsWholeFragments) {
    MovingWindow window;
    window.setGeometry(0, 0, 640, 480);
    window.show();
    QTimer animate;
    QObject::connect(&animate, &QTimer::timeout, &window, [&] { window.update(); });
    animate.start(33);

    const fs::path dir = freshFolder("full");
    const fs::path out = dir / "never.mp4";
    const fs::path messages = dir / "stderr.txt";
    const sighandler_t before = ::signal(SIGXFSZ, SIG_IGN);  // inherited through exec
    const pid_t child = vantry::testing::spawn({"/bin/sh", "-c",
                                                "exec '" VANTRY_CLI_PATH "' record --seconds 600 --out '" +
                                                    out.string() + "' 2>'" + messages.string() + "'"},
                                               {"PULSE_SERVER=unix:/nonexistent"});
    ::signal(SIGXFSZ, before);
    ASSERT_GT(child, 0);

    // Once the first fragment is on disk, the disk is "full" a little further on.
    fs::path partial;
    bool limited = false;
    auto deadline = Clock::now() + std::chrono::seconds(40);
    while (!limited && Clock::now() < deadline) {
        spinEventsFor(std::chrono::milliseconds(200));
        for (const auto& e : fs::directory_iterator(dir))
            if (e.path().string().ends_with(".partial.mp4")) partial = e.path();
        if (partial.empty()) continue;
        const std::string bytes = slurp(partial);
        if (completeFragments(bytes).fragments == 0) continue;
        const rlimit limit{bytes.size() + 4096, bytes.size() + 4096};
        ASSERT_EQ(::prlimit(child, RLIMIT_FSIZE, &limit, nullptr), 0);
        limited = true;
    }
    // It ends on its own, long before the 600 s asked for; a hang is killed and fails.
    int status = 0;
    pid_t ended = 0;
    deadline = Clock::now() + std::chrono::seconds(60);
    while (ended == 0 && Clock::now() < deadline) {
        spinEventsFor(std::chrono::milliseconds(100));
        ended = ::waitpid(child, &status, WNOHANG);
    }
    if (ended == 0) vantry::testing::stopChild(child, SIGKILL);
    ASSERT_TRUE(limited) << "no fragment was written";
    ASSERT_EQ(ended, child) << "record went on after its writes failed";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    const std::string said = slurp(messages);
    EXPECT_NE(said.find("stopped early"), std::string::npos) << said;
    EXPECT_NE(said.find(partial.string()), std::string::npos) << said;
    EXPECT_FALSE(fs::exists(out));

    // The kept file ends with a whole fragment and plays to its end.
    const std::string kept = slurp(partial);
    const FragmentedMp4Extent extent = completeFragments(kept);
    EXPECT_EQ(extent.bytes, kept.size());
    EXPECT_GE(extent.fragments, 1u);
    const VideoFileInfo info = probeVideoFile(partial);
    EXPECT_EQ(info.codecName, "h264");
    ASSERT_GE(info.packets.size(), 60u) << "at least the first 2-second fragment";
    const std::int64_t last = std::int64_t(info.packets.size()) - 1;
    const auto frames = decodeVideoFrames(partial, [last](std::int64_t i) { return i == last; });
    EXPECT_EQ(frames.size(), 1u);
    fs::remove_all(dir);
}

TEST_F(ScreenRecorderOnDisplay, GameAudioAndMicrophoneCarryAKnownTone) {
    std::string why;
    const auto server = vantry::testing::PrivatePulseServer::start(why);
    ASSERT_TRUE(server) << "no sound server could be started: " << why;
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

// The studio's programme mix in the recording: the microphone at its gain, muted, or left out
// of the recording alone while the recorder's microphone is off.
TEST_F(ScreenRecorderOnDisplay, TheRecordingCarriesTheProgrammeMixAtItsLevels) {
    std::string why;
    const auto server = vantry::testing::PrivatePulseServer::start(why);
    ASSERT_TRUE(server) << "no sound server could be started: " << why;
    const fs::path dir = freshFolder("mix");
    ::setenv("PULSE_SERVER", server->address().c_str(), 1);
    ASSERT_GE(vantry::testing::loadNullSink("vantry_mic"), 0);
    vantry::testing::writeToneWav(dir / "tone.wav", 660.0, 60.0, 48000);
    const pid_t player =
        vantry::testing::spawn({"paplay", "--device=vantry_mic", (dir / "tone.wav").string()});
    ASSERT_GT(player, 0) << "paplay is missing";
    vantry::platform::ProgrammeSoundOptions mix;
    mix.micSource = "vantry_mic.monitor";
    mix.desktopSource = "vantry_test.monitor";  // nothing plays there
    mix.voiceFilters = false;                   // the microphone at its gain alone
    auto sound = std::make_shared<vantry::platform::ProgrammeSound>(mix);
    ASSERT_TRUE(vantry::testing::soundArrives(*sound->tap()));
    const double tone = 12000.0 / 32768.0 / std::sqrt(2.0);
    struct Case {
        const char* name;
        bool micInRecording;
        vantry::audio::SourceSettings settings;
        double expected;
    };
    const Case cases[] = {
        {"minus6", true, {false, -6.0f, 0}, tone * std::pow(10.0, -6.0 / 20)},
        {"muted", true, {true, 0.0f, 0}, 0.0},
        {"microphone-off", false, {false, 0.0f, 0}, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sound->mixer().setSettings(vantry::audio::MixSource::mic, c.settings);
        auto options = quietOptions();
        options.sound = sound;
        LinuxScreenRecorder recorder(options);
        recorder.setScratchFolder(dir);
        recorder.setMicrophoneEnabled(c.micInRecording);
        auto clock = sound->tap();
        ASSERT_FALSE(await([&](auto done) { recorder.startRecording(done); }).error);
        // A second and a half of the mix goes by (counted in its own blocks) before the stop.
        vantry::platform::ProgrammeSound::Block block;
        for (int i = 0; i < 150; ++i) ASSERT_TRUE(clock->pop(block, std::chrono::seconds(2)));
        const fs::path file = dir / (std::string(c.name) + ".mp4");
        ASSERT_FALSE(await([&](auto done) { recorder.stopRecording(file, done); }).error);
        EXPECT_TRUE(recorder.lastStats().hasAudio);
        EXPECT_EQ(recorder.lastStats().microphoneMixed, c.micInRecording);
        int rate = 0;
        const auto samples = vantry::testing::decodeSoundTrack(file, rate);
        ASSERT_GT(samples.size(), std::size_t(48000));
        EXPECT_NEAR(vantry::testing::rms(samples, 24000, 60000), c.expected, 0.12 * tone);
    }
    vantry::testing::stopChild(player, SIGTERM);
    ::unsetenv("PULSE_SERVER");
    fs::remove_all(dir);
}

}  // namespace
