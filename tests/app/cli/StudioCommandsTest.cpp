// vantry-cli still, export and screenshot, run as a separate process the way scripts use them.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <QGuiApplication>
#include <QImage>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/video/VideoFileReader.h"
#include "platform/video/VideoWriter.h"
#include "tests/support/ImageDifference.h"
#include "tests/support/MadeUpPdf.h"
#include "tests/support/ShellCommand.h"

namespace {

namespace fs = std::filesystem;

using Result = vantry::testing::ShellResult;

// Standard output and standard error together.
Result runCli(const std::string& arguments, const std::string& environment = "") {
    return vantry::testing::runShell(environment + " '" VANTRY_CLI_PATH "' " + arguments + " 2>&1");
}

// The PDF writer paints through Qt's GUI module.
void guiApp() {
    static int argc = 1;
    static char name[] = "cli_studio_tests";
    static char* argv[] = {name, nullptr};
    if (std::getenv("DISPLAY") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static QGuiApplication app(argc, argv);
}

// A 160x90 clip at 10 pictures a second: `frames` pictures of `first`, then as many of `then`.
void writeTwoColourClip(const fs::path& file, QColor first, QColor then, int frames) {
    vantry::platform::VideoWriterSettings s;
    s.width = 160;
    s.height = 90;
    s.fps = 10;
    s.averageBitRate = 400'000;
    vantry::platform::VideoWriter writer(file, s);
    std::vector<std::uint8_t> pixels(std::size_t(s.width) * s.height * 4);
    for (int n = 0; n < 2 * frames; ++n) {
        const QColor c = n < frames ? first : then;
        for (std::size_t i = 0; i < pixels.size(); i += 4) {
            pixels[i + 0] = std::uint8_t(c.blue());
            pixels[i + 1] = std::uint8_t(c.green());
            pixels[i + 2] = std::uint8_t(c.red());
            pixels[i + 3] = 255;
        }
        writer.appendBGRA(pixels.data(), s.width * 4, n);
    }
    writer.finish();
}

// Whether `seen` is nearer `a` than `b`, colour by colour.
bool nearer(QColor seen, QColor a, QColor b) {
    const auto d = [&](QColor c) {
        const int r = seen.red() - c.red(), g = seen.green() - c.green(), bl = seen.blue() - c.blue();
        return r * r + g * g + bl * bl;
    };
    return d(a) < d(b);
}

int lineCount(const std::string& s) {
    int n = 0;
    for (char c : s) n += c == '\n';
    return n;
}

class StudioCommands : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::current_path() /
               ("cli_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    // Nothing but the files the test put there.
    std::size_t entries() const {
        return std::size_t(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
    }
    fs::path dir_;
};

TEST_F(StudioCommands, StillWritesAPng) {
    const fs::path out = dir_ / "shots" / "still.png";
    const Result r = runCli(
        "still --set timber-podcast --angle 2 --time 1.5 --size 320x180 --key 2 --neon 0.5 --led 0.8 --out "
        "'" +
        out.string() + "'");
    ASSERT_EQ(r.exitCode, 0) << r.out;
    QImage img(QString::fromStdString(out.string()));
    ASSERT_FALSE(img.isNull());
    EXPECT_EQ(img.width(), 320);
    EXPECT_EQ(img.height(), 180);
    EXPECT_NE(r.out.find(out.string()), std::string::npos);
}

// --canvas vertical renders the vertical program picture: --size as given, by default 1920x1080
// stood on end; an export films it at the size given.
TEST_F(StudioCommands, TheVerticalCanvasIsRenderedAtItsOwnSize) {
    const struct {
        std::string command, arguments;
        int width, height;
    } cases[] = {
        {"still", "--canvas vertical", 1080, 1920},
        {"still", "--canvas vertical --size 720x1280 --set neon-creator --angle 1", 720, 1280},
        {"still", "--canvas landscape --size 320x180", 320, 180},
        {"export", "--canvas vertical --seconds 0 --size 54x96", 54, 96},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command + " " + c.arguments);
        const fs::path out = dir_ / (c.command == "still" ? "still.png" : "clip.mp4");
        const Result r = runCli(c.command + " " + c.arguments + " --out '" + out.string() + "'");
        ASSERT_EQ(r.exitCode, 0) << r.out;
        if (c.command == "still") {
            const QImage img(QString::fromStdString(out.string()));
            EXPECT_EQ(img.size(), QSize(c.width, c.height));
            EXPECT_LT(vantry::testing::nearBlackShare(img.convertToFormat(QImage::Format_RGB32)), 0.5);
        } else {
            const auto info = vantry::platform::probeVideoFile(out);
            EXPECT_EQ(info.width, c.width);
            EXPECT_EQ(info.height, c.height);
            EXPECT_EQ(info.packets.size(), 30u);
        }
    }
}

TEST_F(StudioCommands, ExportWritesAClipAndPrintsItsSize) {
    const fs::path out = dir_ / "clip.mp4";
    const Result r =
        runCli("export --set keynote-arena --angle 3 --seconds 0 --size 96x54 --out '" + out.string() + "'");
    ASSERT_EQ(r.exitCode, 0) << r.out;
    const auto info = vantry::platform::probeVideoFile(out);
    EXPECT_EQ(info.width, 96);
    EXPECT_EQ(info.height, 54);
    EXPECT_EQ(info.packets.size(), 30u);
    EXPECT_NE(r.out.find(std::to_string(fs::file_size(out)) + " bytes"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("30/30"), std::string::npos) << r.out;  // progress lines when not a terminal
    EXPECT_EQ(entries(), 1u);                                    // no partial file left beside it
}

TEST_F(StudioCommands, BadArgumentsAreUsageErrors) {
    const std::string out = " --out '" + (dir_ / "x.png").string() + "'";
    const struct {
        std::string args;
        std::string mentions;
    } cases[] = {
        {"still --set neon-creator-desk" + out, "unknown set"},
        {"still --angle 4" + out, "--angle"},
        {"still --angle -1" + out, "--angle"},
        {"still --size 0x10" + out, "--size"},
        {"still --key -1" + out, "--key"},
        {"still --time soon" + out, "--time"},
        {"still --bogus 1" + out, "bogus"},
        {"still --set manhattan-loft", "--out"},
        {"export --size 101x50" + out, "even"},
        {"export --seconds -2" + out, "--seconds"},
        {"export --seconds nan" + out, "--seconds"},
        {"still --canvas square" + out, "option --canvas expects landscape or vertical, got 'square'"},
        {"export --canvas portrait" + out, "option --canvas expects landscape or vertical, got 'portrait'"},
        {"screenshot --canvas tall" + out, "option --canvas expects landscape or vertical, got 'tall'"},
    };
    for (const auto& c : cases) {
        const Result r = runCli(c.args);
        EXPECT_EQ(r.exitCode, 2) << c.args << "\n" << r.out;
        EXPECT_EQ(lineCount(r.out), 1) << c.args << "\n" << r.out;
        EXPECT_NE(r.out.find(c.mentions), std::string::npos) << c.args << "\n" << r.out;
    }
    EXPECT_EQ(entries(), 0u);
}

// Still angles draw one frame and hold it; moving angles draw on. A screenshot works at each, and
// its viewport shows the studio: never black, and at a still angle (a picture that does not
// depend on the clock) in broad colour the offscreen still of the same set and angle.
TEST_F(StudioCommands, ScreenshotWorksAtEveryAngle) {
    guiApp();
    // The viewport in a 1180x740 window: right of the set list (248 + a divider), left of the
    // lighting panel (296 + a divider), under the header (50 + a divider). Its top and bottom 60
    // points carry the badges and the status banner. A portrait viewport draws with a square
    // frame's projection, so the reference is a square still fitted to the viewport.
    const QRect viewport(249, 51, 1180 - 249 - 297, 740 - 51);
    const QRect compared = viewport.adjusted(0, 60, 0, -60);
    const auto still = [&](int angle) {
        const fs::path file = dir_ / ("still" + std::to_string(angle) + ".png");
        const std::string side = std::to_string(viewport.height());
        const Result r = runCli("still --set manhattan-loft --angle " + std::to_string(angle) + " --size " +
                                side + "x" + side + " --out '" + file.string() + "'");
        EXPECT_EQ(r.exitCode, 0) << r.out;
        return QImage(QString::fromStdString(file.string()))
            .scaled(viewport.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
            .convertToFormat(QImage::Format_RGB32)
            .copy(compared.translated(-viewport.topLeft()));
    };
    for (int angle = 0; angle < 4; ++angle) {
        SCOPED_TRACE("angle " + std::to_string(angle));
        const fs::path out = dir_ / ("angle" + std::to_string(angle) + ".png");
        const Result r = runCli("screenshot --set manhattan-loft --angle " + std::to_string(angle) +
                                " --frames 4 --size 1180x740 --out '" + out.string() + "'");
        ASSERT_EQ(r.exitCode, 0) << "angle " << angle << "\n" << r.out;
        const QImage shot(QString::fromStdString(out.string()));
        EXPECT_EQ(shot.size(), QSize(1180, 740)) << "angle " << angle;
        if (shot.size() != QSize(1180, 740)) continue;
        const QImage live = shot.convertToFormat(QImage::Format_RGB32).copy(compared);
        EXPECT_LT(vantry::testing::nearBlackShare(live), 0.05) << "the viewport is black or nearly";
        const bool moves = angle == 0 || angle == 3;
        if (moves) continue;
        const double worst = vantry::testing::largestCellDifference(live, still(angle));
        std::printf("angle %d: largest cell difference screenshot vs offscreen still: %.1f levels\n", angle,
                    worst);
        EXPECT_LE(worst, 8) << "the viewport differs in broad colour from the offscreen still";
    }
}

// The window shows the landscape picture; --canvas vertical saves the vertical program picture
// its studio would send instead, at the GO LIVE size stood on end, with the floating presenter
// laid over it: the same studio without and with the facecam differ in broad colour.
TEST_F(StudioCommands, ScreenshotSavesTheVerticalProgramPicture) {
    const std::string portrait = "/usr/lib/python3/dist-packages/skimage/data/astronaut.png";
    QImage shots[2];
    for (int withPresenter = 0; withPresenter < 2; ++withPresenter) {
        SCOPED_TRACE(withPresenter ? "with the presenter" : "without");
        const fs::path out = dir_ / ("vertical" + std::to_string(withPresenter) + ".png");
        const Result r = runCli(
            "screenshot --set manhattan-loft --angle 1 --frames 4 --size 1180x740 --canvas "
            "vertical" +
            std::string(withPresenter ? " --facecam --presenter float --camera " + portrait : "") +
            " --out '" + out.string() + "'");
        ASSERT_EQ(r.exitCode, 0) << r.out;
        EXPECT_NE(r.out.find("720x1280"), std::string::npos) << r.out;
        shots[withPresenter] =
            QImage(QString::fromStdString(out.string())).convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(shots[withPresenter].size(), QSize(720, 1280)) << r.out;
        EXPECT_LT(vantry::testing::nearBlackShare(shots[withPresenter]), 0.05);
    }
    EXPECT_GT(vantry::testing::largestCellDifference(shots[0], shots[1]), 20)
        << "no presenter over the picture";
}

TEST_F(StudioCommands, UnreadableSlideFailsWithoutOutput) {
    const fs::path slide = dir_ / "slide.png";
    std::ofstream(slide) << "not a picture";
    for (const std::string cmd : {"still", "export"}) {
        const fs::path out = dir_ / (cmd == "still" ? "o.png" : "o.mp4");
        const Result r =
            runCli(cmd + " --size 64x36 --slide '" + slide.string() + "' --out '" + out.string() + "'");
        EXPECT_EQ(r.exitCode, 1) << r.out;
        EXPECT_EQ(lineCount(r.out), 1) << r.out;
        EXPECT_NE(r.out.find("slide"), std::string::npos) << r.out;
        EXPECT_FALSE(fs::exists(out));
    }
}

// --slide-page wants a page the PDF has, as a whole number from 1, and a PDF --slide;
// --slide-screen belongs to the live commands and never comes with --slide.
TEST_F(StudioCommands, SlideOptionMistakesAreUsageErrors) {
    guiApp();
    const fs::path deck = dir_ / "deck.pdf", picture = dir_ / "slide.png";
    vantry::testing::writeMadeUpPdf(deck, {{Qt::red}, {Qt::blue}});
    QImage(8, 8, QImage::Format_RGB32).save(QString::fromStdString(picture.string()));
    const std::string out = " --out '" + (dir_ / "x.png").string() + "'";
    const std::string pdf = " --slide '" + deck.string() + "'";
    const struct {
        std::string args;
        std::string mentions;
    } cases[] = {
        {"still" + pdf + " --slide-page 3" + out, "a page from 1 to 2 of 'deck.pdf', got '3'"},
        {"still" + pdf + " --slide-page 0" + out, "--slide-page expects a whole number from 1"},
        {"still" + pdf + " --slide-page two" + out, "--slide-page expects a whole number, got 'two'"},
        {"still --slide-page 2" + out, "--slide-page needs a PDF --slide"},
        {"still --slide '" + picture.string() + "' --slide-page 1" + out, "--slide-page needs a PDF --slide"},
        {"export" + pdf + " --slide-page 9 --out '" + (dir_ / "x.mp4").string() + "'", "a page from 1 to 2"},
        {"still --slide-screen" + out, "unknown option --slide-screen"},
        {"stream --url rtmp://127.0.0.1:1/live" + pdf + " --slide-screen",
         "--slide or --slide-screen, not both"},
        {"stream --url rtmp://127.0.0.1:1/live" + pdf + " --slide-page 5", "a page from 1 to 2"},
        {"screenshot" + pdf + " --slide-page -1" + out, "--slide-page expects a whole number from 1"},
        {"screenshot" + pdf + " --slide-page 3" + out, "a page from 1 to 2 of 'deck.pdf', got '3'"},
    };
    for (const auto& c : cases) {
        const Result r = runCli(c.args);
        EXPECT_EQ(r.exitCode, 2) << c.args << "\n" << r.out;
        EXPECT_EQ(lineCount(r.out), 1) << c.args << "\n" << r.out;
        EXPECT_NE(r.out.find(c.mentions), std::string::npos) << c.args << "\n" << r.out;
    }
    EXPECT_EQ(entries(), 2u);  // the deck and the picture, nothing written
}

// The page asked for is on the wall: at the Screen angle the wall fills the middle of the frame.
TEST_F(StudioCommands, StillShowsThePdfPageAskedFor) {
    guiApp();
    const fs::path deck = dir_ / "deck.pdf";
    const QColor first(230, 40, 40), second(40, 60, 230);
    vantry::testing::writeMadeUpPdf(deck, {{first}, {second}});
    for (const int page : {1, 2}) {
        const fs::path out = dir_ / ("page" + std::to_string(page) + ".png");
        const Result r = runCli("still --angle 1 --size 320x180 --slide '" + deck.string() +
                                "' --slide-page " + std::to_string(page) + " --out '" + out.string() + "'");
        ASSERT_EQ(r.exitCode, 0) << r.out;
        const QImage still(QString::fromStdString(out.string()));
        ASSERT_FALSE(still.isNull());
        const QColor centre = still.pixelColor(160, 82);
        if (page == 1)
            EXPECT_TRUE(nearer(centre, first, second)) << centre.name().toStdString();
        else
            EXPECT_TRUE(nearer(centre, second, first)) << centre.name().toStdString();
    }
}

// A deck in a screenshot is on the window's wall as the open panel leaves it, at the page
// asked for: the view model's label, page counter and banner say so, and the wall shows that
// page (at the Desk angle the wall takes a tenth of the window).
TEST_F(StudioCommands, ScreenshotMountsTheDeckAtItsPageAsTheWindowWould) {
    guiApp();
    const fs::path deck = dir_ / "talk.pdf", out = dir_ / "shot.png";
    const QColor pages[] = {{230, 40, 40}, {40, 200, 60}, {40, 60, 230}};
    vantry::testing::writeMadeUpPdf(deck, {{pages[0]}, {pages[1]}, {pages[2]}});
    const Result r = runCli("screenshot --frames 4 --size 1180x740 --slide '" + deck.string() +
                            "' --slide-page 2 --out '" + out.string() + "'");
    ASSERT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(
        r.out.find("LED wall: pdf \"talk.pdf\", page 2 / 3; banner \"Mounted talk.pdf onto 3D LED Wall\""),
        std::string::npos)
        << r.out;
    const QImage shot = QImage(QString::fromStdString(out.string())).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shot.size(), QSize(1180, 740));
    // Pixels by the page colour they are near (lit, not exact).
    int near[3] = {0, 0, 0};
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            const QColor seen = shot.pixelColor(x, y);
            for (int p = 0; p < 3; ++p) {
                if (nearer(seen, pages[p], pages[(p + 1) % 3]) &&
                    nearer(seen, pages[p], pages[(p + 2) % 3]) && nearer(seen, pages[p], Qt::black) &&
                    nearer(seen, pages[p], Qt::white) && nearer(seen, pages[p], Qt::gray))
                    ++near[p];
            }
        }
    }
    EXPECT_GT(near[1], shot.width() * shot.height() / 40) << near[0] << " " << near[1] << " " << near[2];
    // The window's own pink and blue take a few thousand pixels either way.
    EXPECT_GT(near[1], 2 * near[0]) << near[0] << " " << near[1] << " " << near[2];
    EXPECT_GT(near[1], 4 * near[2]) << near[0] << " " << near[1] << " " << near[2];
}

// A video on the wall plays along an export: each frame shows the video's picture at its time.
TEST_F(StudioCommands, ExportPlaysAVideoSlideAlong) {
    const fs::path clip = dir_ / "clip.mp4", out = dir_ / "out.mp4";
    const QColor first(230, 40, 40), then(40, 60, 230);
    writeTwoColourClip(clip, first, then, 5);  // 0.5 s of each, 1 s a pass
    const Result r = runCli("export --angle 1 --seconds 1.5 --size 320x180 --slide '" + clip.string() +
                            "' --out '" + out.string() + "'");
    ASSERT_EQ(r.exitCode, 0) << r.out;
    // Frame n is at n / 30 s: 0.1 s and 1.1 s show the first colour, 0.7 s the second.
    const auto frames =
        vantry::platform::decodeVideoFrames(out, [](std::int64_t n) { return n == 3 || n == 21 || n == 33; });
    ASSERT_EQ(frames.size(), 3u);
    const auto colour = [](const auto& f) { return QColor(f.r(160, 82), f.g(160, 82), f.b(160, 82)); };
    EXPECT_TRUE(nearer(colour(frames[0]), first, then));
    EXPECT_TRUE(nearer(colour(frames[1]), then, first));
    EXPECT_TRUE(nearer(colour(frames[2]), first, then));
}

TEST_F(StudioCommands, UnreadableCameraFileFailsWithoutOutput) {
    const fs::path camera = dir_ / "camera.mp4";
    std::ofstream(camera) << "not a video";
    const fs::path out = dir_ / "shot.png";
    const Result r =
        runCli("screenshot --facecam --camera '" + camera.string() + "' --out '" + out.string() + "'");
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_NE(r.out.find("camera file"), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(StudioCommands, UnwritableDestinationFailsWithoutOutput) {
    const fs::path blocker = dir_ / "file";
    std::ofstream(blocker) << "x";
    for (const std::string cmd : {"still", "export"}) {
        const Result r = runCli(cmd + " --size 64x36 --out '" + (blocker / "o.out").string() + "'");
        EXPECT_EQ(r.exitCode, 1) << r.out;
        EXPECT_EQ(lineCount(r.out), 1) << r.out;
        EXPECT_NE(r.out.find("cannot"), std::string::npos) << r.out;
    }
    const Result folder = runCli("still --size 64x36 --out '" + dir_.string() + "'");
    EXPECT_EQ(folder.exitCode, 1) << folder.out;
    EXPECT_EQ(entries(), 1u);
}

TEST_F(StudioCommands, NoGpuIsReportedAndNothingIsWritten) {
    // Without any EGL vendor library no OpenGL context can be made.
    const std::string env =
        "__EGL_VENDOR_LIBRARY_FILENAMES=/nonexistent/vendor.json __EGL_VENDOR_LIBRARY_DIRS=/nonexistent";
    for (const std::string cmd : {"still", "export"}) {
        const fs::path out = dir_ / (cmd == "still" ? "o.png" : "o.mp4");
        const Result r = runCli(cmd + " --size 64x36 --out '" + out.string() + "'", env);
        EXPECT_EQ(r.exitCode, 1) << r.out;
        EXPECT_EQ(lineCount(r.out), 1) << r.out;
        EXPECT_NE(r.out.find("no GPU"), std::string::npos) << r.out;
        EXPECT_FALSE(fs::exists(out));
    }
}

TEST_F(StudioCommands, HelpDocumentsEveryOption) {
    const Result still = runCli("still --help");
    EXPECT_EQ(still.exitCode, 0);
    for (const char* o : {"--set", "--angle", "--time", "--size", "--key", "--neon", "--led", "--slide",
                          "--slide-page", "--canvas", "--out"}) {
        EXPECT_NE(still.out.find(o), std::string::npos) << o;
    }
    const Result exp = runCli("export --help");
    EXPECT_EQ(exp.exitCode, 0);
    for (const char* o : {"--set", "--angle", "--seconds", "--size", "--key", "--neon", "--led", "--slide",
                          "--slide-page", "--canvas", "--out"}) {
        EXPECT_NE(exp.out.find(o), std::string::npos) << o;
    }
    for (const std::string cmd : {"stream", "screenshot"}) {
        const Result live = runCli(cmd + " --help");
        EXPECT_EQ(live.exitCode, 0);
        for (const char* o : {"--slide", "--slide-page", "--slide-screen", "--canvas"})
            EXPECT_NE(live.out.find(o), std::string::npos) << cmd << " " << o;
    }
}

}  // namespace
