// The program feed: presenter placement, the feed thread and the GO LIVE settings files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QImage>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "app/program-feed/GoLiveSettings.h"
#include "app/program-feed/PresenterSettings.h"
#include "app/program-feed/ProgramFeed.h"
#include "tests/support/AwkwardFiles.h"

namespace {

using namespace vantry::app::feed;
using vantry::ProgramCanvas;
namespace fs = std::filesystem;

TEST(PresenterPlacement, MapsTheViewportLookToTheOutput) {
    struct Case {
        const char* what;
        PresenterLook look;
        int outW, outH;
        PresenterRect expected;
        ProgramCanvas canvas = ProgramCanvas::landscape;
    };
    PresenterLook circle;
    circle.viewportWidth = 1280;
    circle.viewportHeight = 720;
    circle.shape = PresenterShape::circle;
    circle.scale = 9;  // clamped to 2.2
    circle.offsetX = 0;
    circle.offsetY = 0;
    PresenterLook framed;
    framed.viewportWidth = 640;
    framed.viewportHeight = 360;
    framed.shape = PresenterShape::rounded;
    framed.freeCutout = false;
    framed.offsetX = 10000;  // clamped to 0.44 of the output width
    framed.offsetY = 0;
    PresenterLook noViewport;
    const Case cases[] = {
        {"default at 1080p", {1280, 720}, 1920, 1080, {936 - 132, 396 - 99, 264, 198, 24, 0, 1.5, false}},
        {"circle, scale clamped",
         circle,
         1280,
         720,
         {640 - 162.8, 360 - 162.8, 325.6, 325.6, 162.8, 0, 1, true}},
        {"framed, offset clamped",
         framed,
         1280,
         720,
         {640 + 563.2 - 176, 360 - 132, 352, 264, 40, 4, 2, false}},
        {"no viewport: output units", noViewport, 1280, 720, {624 - 88, 264 - 66, 176, 132, 16, 0, 1, false}},
        // The tall frame: sized by its width, placed by each side.
        {"vertical 720p: as wide as the viewport's window",
         {1280, 720},
         720,
         1280,
         {360 - 9 - 49.5, 640 - 96 * 1280.0 / 720 - 37.125, 99, 74.25, 9, 0, 0.5625, false},
         ProgramCanvas::vertical},
        {"vertical 1080p",
         {1280, 720},
         1080,
         1920,
         {540 - 13.5 - 74.25, 960 - 256 - 55.6875, 148.5, 111.375, 13.5, 0, 0.84375, false},
         ProgramCanvas::vertical},
        {"vertical, offset clamped to the narrow frame",
         framed,
         720,
         1280,
         {360 + 316.8 - 99, 640 - 74.25, 198, 148.5, 22.5, 2.25, 1.125, false},
         ProgramCanvas::vertical},
        {"vertical, no viewport: output units",
         noViewport,
         720,
         1280,
         {360 - 16 - 88, 640 - 96 - 66, 176, 132, 16, 0, 1, false},
         ProgramCanvas::vertical},
    };
    for (const Case& c : cases) {
        const PresenterRect r = placePresenter(c.look, c.outW, c.outH, c.canvas);
        EXPECT_NEAR(r.x, c.expected.x, 1e-6) << c.what;
        EXPECT_NEAR(r.y, c.expected.y, 1e-6) << c.what;
        EXPECT_NEAR(r.width, c.expected.width, 1e-6) << c.what;
        EXPECT_NEAR(r.height, c.expected.height, 1e-6) << c.what;
        EXPECT_NEAR(r.cornerRadius, c.expected.cornerRadius, 1e-6) << c.what;
        EXPECT_NEAR(r.borderWidth, c.expected.borderWidth, 1e-6) << c.what;
        EXPECT_NEAR(r.factor, c.expected.factor, 1e-6) << c.what;
        EXPECT_EQ(r.circle, c.expected.circle) << c.what;
    }
}

TEST(ProgramFeedThread, HandsPicturesToEachOutputUntilStopped) {
    std::atomic<int> renders{0};
    ProgramFeed feed(64, 36, 60, [&renders](int w, int h) {
        ++renders;
        return std::optional<std::vector<std::uint8_t>>(
            std::vector<std::uint8_t>(std::size_t(w * h * 4), 200));
    });
    std::atomic<int> streamed{0}, camera{0};
    feed.setOutput(ProgramFeed::Slot::stream, [&](const std::uint8_t* pixels, std::ptrdiff_t stride) {
        EXPECT_EQ(stride, 64 * 4);
        EXPECT_EQ(pixels[0], 200);
        ++streamed;
    });
    feed.setOutput(ProgramFeed::Slot::virtualCamera, [&](const std::uint8_t*, std::ptrdiff_t) { ++camera; });
    feed.start();
    while (camera < 3) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    feed.setOutput(ProgramFeed::Slot::virtualCamera, {});
    const int cameraAtRemoval = camera;
    const int streamedAtRemoval = streamed;
    while (streamed < streamedAtRemoval + 3) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    feed.stop();
    const int afterStop = streamed;
    EXPECT_LE(camera, cameraAtRemoval + 1);  // at most the picture in flight
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(streamed, afterStop);
    EXPECT_EQ(feed.stats().rendered, renders.load());
}

// A studio frame of the serial given, every byte `value`.
vantry::SharedFrame grey(std::uint8_t value, std::uint64_t serial, int w = 8, int h = 4) {
    return {std::make_shared<const std::vector<std::uint8_t>>(std::size_t(w * h * 4), value), serial};
}

// The renderer's serial says when its picture is the same: the feed then hands out its last
// picture as it is, until the serial or the presenter changes. A serial of 0 is always new, and a
// picture an output still holds is never written over.
TEST(ProgramFeedPictures, AreMadeAgainOnlyWhenTheStudioFrameOrThePresenterChanged) {
    vantry::SharedFrame next;
    ProgramFeed feed(8, 4, 30, [&next](int, int) { return next; });
    const auto first = [](const QImage& picture) {
        return picture.isNull() ? -1 : int(picture.constBits()[0]);
    };

    next = grey(10, 5);
    EXPECT_EQ(first(feed.renderPicture()), 10);
    // Same serial, other bytes (which a renderer never does): the kept picture comes back.
    next = grey(20, 5);
    EXPECT_EQ(first(feed.renderPicture()), 10);
    ProgramPresenter presenter;  // hidden: draws nothing, but it is a change
    feed.setPresenter(presenter);
    EXPECT_EQ(first(feed.renderPicture()), 20);
    next = grey(30, 6);
    const QImage held = feed.renderPicture();
    EXPECT_EQ(first(held), 30);
    next = grey(40, 7);
    EXPECT_EQ(first(feed.renderPicture()), 40);
    EXPECT_EQ(first(held), 30) << "a picture still held was written over";
    for (const std::uint8_t value : {50, 60}) {
        next = grey(value, 0);
        EXPECT_EQ(first(feed.renderPicture()), value);
    }
    next = grey(70, 8, 4, 4);  // too few bytes for the feed's size
    EXPECT_TRUE(feed.renderPicture().isNull());
    next = {};
    EXPECT_TRUE(feed.renderPicture().isNull());
}

class GoLiveFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("golive_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
};

TEST_F(GoLiveFiles, SettingsRoundTripAndBadLinesKeepDefaults) {
    EXPECT_EQ(loadGoLiveSettings(dir_).bitRate, 4'500'000);
    GoLiveSettings saved;
    saved.destinations = {{{"rtmp://127.0.0.1/live\nbitrate=1", true},
                           {"", false},
                           {"srt://127.0.0.1:9000", false},
                           {"rtmp://127.0.0.1/second", true}}};
    saved.destinations[1].canvas = ProgramCanvas::vertical;  // kept without an address
    saved.destinations[3].canvas = ProgramCanvas::vertical;
    saved.width = 1920;
    saved.height = 1080;
    saved.bitRate = 6'000'000;
    saveGoLiveSettings(dir_, saved);
    GoLiveSettings expected = saved;
    expected.destinations[0].url = "rtmp://127.0.0.1/live";  // one line, nothing smuggled after it
    EXPECT_EQ(loadGoLiveSettings(dir_), expected);
    EXPECT_EQ(loadGoLiveDestinations(dir_)[3].canvas, ProgramCanvas::vertical);
    EXPECT_EQ(formatGoLiveSettings(GoLiveSettings{}).find("canvas"), std::string::npos)
        << "landscape servers write the lines they always wrote";
    std::ofstream(dir_ / "go-live.conf") << "size=77x3\nbitrate=abc\nnonsense\n";
    EXPECT_EQ(loadGoLiveSettings(dir_).height, 720);
    EXPECT_EQ(loadGoLiveSettings(dir_).bitRate, 4'500'000);
}

// Files written before there were several servers, and lines that name no server.
TEST_F(GoLiveFiles, ServersAreReadFromOldAndNewFilesAlike) {
    struct Case {
        const char* text;
        std::array<const char*, 4> urls;
        std::array<bool, 4> enabled;
        std::array<ProgramCanvas, 4> canvases{};  // landscape unless named
    };
    constexpr auto V = ProgramCanvas::vertical, L = ProgramCanvas::landscape;
    const Case cases[] = {
        {"url=rtmp://a/live\nsize=1280x720\nbitrate=4500000\n", {"rtmp://a/live", "", "", ""}, {1, 1, 1, 1}},
        {"url=rtmp://a/live\nenabled=0\nurl3=srt://c:1\nenabled3=1\nurl4=rtmp://d/x\nenabled4=0\n",
         {"rtmp://a/live", "", "srt://c:1", "rtmp://d/x"},
         {0, 1, 1, 0}},
        {"url5=rtmp://e/x\nurl1=rtmp://f/x\nurl22=x\nenabled2=yes\nenabled=\n",
         {"", "", "", ""},
         {1, 1, 1, 1}},
        {"url2=a=b\r\nurl=", {"", "a=b", "", ""}, {1, 1, 1, 1}},
        {"url=rtmp://a/live\ncanvas=vertical\nurl2=rtmp://b/x\ncanvas2=Vertical\ncanvas3=vertical\n"
         "canvas4=portrait\ncanvas5=vertical\n",
         {"rtmp://a/live", "rtmp://b/x", "", ""},
         {1, 1, 1, 1},
         {V, L, V, L}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const GoLiveSettings s = parseGoLiveSettings(c.text);
        for (std::size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(s.destinations[i].url, c.urls[i]) << i;
            EXPECT_EQ(s.destinations[i].enabled, c.enabled[i]) << i;
            EXPECT_EQ(s.destinations[i].canvas, c.canvases[i]) << i;
        }
        EXPECT_EQ(parseGoLiveSettings(formatGoLiveSettings(s)).destinations, s.destinations);
    }
}

TEST_F(GoLiveFiles, SizesAndBitRatesOutsideTheStreamLimitsAreNotLoaded) {
    EXPECT_EQ(parseGoLiveSize("1920x1080"), (std::pair{1920, 1080}));
    for (const char* bad : {"1920x720", "1280x", "x720", "1280x720 ", "-1280x720", ""})
        EXPECT_FALSE(parseGoLiveSize(bad)) << bad;
    fs::create_directories(dir_);
    std::ofstream(dir_ / "go-live.conf") << "bitrate=50000001\n";
    EXPECT_EQ(loadGoLiveSettings(dir_).bitRate, 4'500'000);
    std::ofstream(dir_ / "go-live.conf") << "bitrate=50000000\nsize=1920x1080\n";
    EXPECT_EQ(loadGoLiveSettings(dir_).bitRate, 50'000'000);
    EXPECT_EQ(loadGoLiveSettings(dir_).width, 1920);
}

TEST_F(GoLiveFiles, PresenterChoiceAndPlaceRoundTripClampedAndBadLinesKeepDefaults) {
    EXPECT_EQ(loadPresenterSettings(dir_), PresenterSettings{});
    savePresenterSettings(dir_, {true, {1.5f, -2.0f, 2.0f}});
    EXPECT_EQ(loadPresenterSettings(dir_), (PresenterSettings{true, {1.5f, -2.0f, 2.0f}}));
    std::ofstream(dir_ / "presenter.conf") << "presenter=sideways\nplace=99,1,1.5\n";
    EXPECT_EQ(loadPresenterSettings(dir_), (PresenterSettings{false, {4.0f, 1.0f, 1.5f}}));
    std::ofstream(dir_ / "presenter.conf") << "presenter=in-set\nplace=1,2\nnonsense\n";
    EXPECT_EQ(loadPresenterSettings(dir_), (PresenterSettings{true, {}}));
    // Colour Match: on unless the file says off.
    for (const auto& [line, on] : {std::pair{"colour-match=off\n", false},
                                   {"colour-match=on\n", true},
                                   {"colour-match=maybe\n", true},
                                   {"", true}}) {
        SCOPED_TRACE(line);
        std::ofstream(dir_ / "presenter.conf") << line;
        EXPECT_EQ(loadPresenterSettings(dir_).colourMatch, on);
    }
    savePresenterSettings(dir_, {true, {}, false});
    EXPECT_EQ(loadPresenterSettings(dir_), (PresenterSettings{true, {}, false}));
    std::stringstream text;
    text << std::ifstream(dir_ / "presenter.conf").rdbuf();
    EXPECT_NE(text.str().find("colour-match=off\n"), std::string::npos) << text.str();
}

// Each server's key in a file of its own, the first where it always was.
TEST_F(GoLiveFiles, StreamKeyFilesArePrivateFromCreation) {
    const char* files[] = {"stream-key", "stream-key-2", "stream-key-3", "stream-key-4"};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(files[i]);
        const std::string key = "live_abc12" + std::to_string(i);
        const mode_t previous = ::umask(0);  // nothing left for the umask to take away
        saveStreamKey(dir_, key, i);
        ::umask(previous);
        struct stat st {};
        ASSERT_EQ(::stat((dir_ / files[i]).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        EXPECT_EQ(loadStreamKey(dir_, i), key);
        EXPECT_EQ(loadGoLiveDestinations(dir_).at(std::size_t(i)).streamKey, key);
    }
    saveStreamKey(dir_, "", 2);
    EXPECT_FALSE(fs::exists(dir_ / "stream-key-3"));
    EXPECT_EQ(loadStreamKey(dir_, 2), "");
    EXPECT_EQ(loadStreamKey(dir_), "live_abc120");
}

// Settings and key files that are pipes, devices, folders or too large give the defaults (and a
// key file its reason) at once, never a reader waiting or growing without bound.
TEST_F(GoLiveFiles, AwkwardSettingsAndKeyFilesAreNotWaitedOnOrReadWhole) {
    struct Reader {
        const char* file;
        std::uintmax_t limit;
        std::function<std::string(const fs::path& folder)> read;  // what was read, or the problem
    };
    const Reader readers[] = {
        {"go-live.conf", 1 << 20,
         [](const fs::path& folder) {
             return loadGoLiveSettings(folder) == GoLiveSettings{} ? std::string("defaults") : "settings";
         }},
        {"presenter.conf", 1 << 20,
         [](const fs::path& folder) {
             return loadPresenterSettings(folder) == PresenterSettings{} ? std::string("defaults")
                                                                         : "settings";
         }},
        {"stream-key", 4096,
         [](const fs::path& folder) {
             const StreamKeyFile key = readStreamKey(folder);
             EXPECT_EQ(loadGoLiveDestinations(folder).front().keyProblem, key.problem);
             return key.key.empty() ? key.problem : "a key";
         }},
    };
    for (const Reader& reader : readers) {
        for (const auto& file :
             vantry::testing::makeAwkwardFiles(dir_ / reader.file, reader.file, reader.limit,
                                               /*folderPerCase=*/true)) {
            SCOPED_TRACE(std::string(reader.file) + " as " + file.what);
            const std::string result = reader.read(file.path.parent_path());
            if (std::string(reader.file) == "stream-key") {
                const std::string reason =
                    file.what.find("link") != std::string::npos ? "symbolic link" : file.reason;
                EXPECT_NE(result.find(reason), std::string::npos) << result;
                EXPECT_NE(result.find(file.path.string()), std::string::npos) << "names the file: " << result;
            } else {
                EXPECT_EQ(result, "defaults");
            }
        }
    }
}

// Key files follow the remote secret's rules: the user's own regular file, closed to others.
TEST_F(GoLiveFiles, KeyFilesThatAreLinkedOrOpenToOthersAreRefusedAndSaid) {
    fs::create_directories(dir_);
    std::ofstream(dir_ / "elsewhere.txt") << "first line of another file\n";
    fs::create_symlink(dir_ / "elsewhere.txt", dir_ / "stream-key");
    saveStreamKey(dir_, "live_2", 1);
    std::ofstream(dir_ / "stream-key-3") << "live_3\n";
    ::chmod((dir_ / "stream-key-3").c_str(), 0644);
    const struct {
        int index;
        const char* problem;  // empty: the key is read
    } cases[] = {
        {0, "is refused: it is a symbolic link, not a regular file"},
        {1, ""},
        {2, "is refused: it is open to other users (chmod 600 it)"},
        {3, ""},  // no file: no key, nothing to say
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.index);
        const StreamKeyFile key = readStreamKey(dir_, c.index);
        if (*c.problem) {
            EXPECT_EQ(key.key, "");
            EXPECT_NE(key.problem.find(c.problem), std::string::npos) << key.problem;
        } else {
            EXPECT_EQ(key.problem, "");
        }
    }
    EXPECT_EQ(loadStreamKey(dir_, 1), "live_2");
}

// The files keep their lines as earlier versions wrote and read them.
TEST_F(GoLiveFiles, FilesAreWrittenInTheirKnownFormat) {
    savePresenterSettings(dir_, {true, {1.5f, -2.0f, 2.0f}});
    std::ifstream presenter(dir_ / "presenter.conf");
    std::stringstream text;
    text << presenter.rdbuf();
    EXPECT_EQ(text.str(), "place=1.5000,-2.0000,2.0000\npresenter=in-set\n");
}

}  // namespace
