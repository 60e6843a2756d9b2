// vantry-cli still, export and screenshot, run as a separate process the way scripts use them.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <QImage>
#include <QString>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/video/VideoFileReader.h"
#include "tests/support/ShellCommand.h"

namespace {

namespace fs = std::filesystem;

using Result = vantry::testing::ShellResult;

// Standard output and standard error together.
Result runCli(const std::string& arguments, const std::string& environment = "") {
    return vantry::testing::runShell(environment + " '" VANTRY_CLI_PATH "' " + arguments + " 2>&1");
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
    };
    for (const auto& c : cases) {
        const Result r = runCli(c.args);
        EXPECT_EQ(r.exitCode, 2) << c.args << "\n" << r.out;
        EXPECT_EQ(lineCount(r.out), 1) << c.args << "\n" << r.out;
        EXPECT_NE(r.out.find(c.mentions), std::string::npos) << c.args << "\n" << r.out;
    }
    EXPECT_EQ(entries(), 0u);
}

// Still angles draw one frame and hold it; moving angles draw on. A screenshot works at each.
TEST_F(StudioCommands, ScreenshotWorksAtEveryAngle) {
    for (int angle = 0; angle < 4; ++angle) {
        const fs::path out = dir_ / ("angle" + std::to_string(angle) + ".png");
        const Result r = runCli("screenshot --angle " + std::to_string(angle) +
                                " --frames 4 --size 1180x740 --out '" + out.string() + "'");
        ASSERT_EQ(r.exitCode, 0) << "angle " << angle << "\n" << r.out;
        const QImage shot(QString::fromStdString(out.string()));
        EXPECT_EQ(shot.size(), QSize(1180, 740)) << "angle " << angle;
    }
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
    for (const char* o :
         {"--set", "--angle", "--time", "--size", "--key", "--neon", "--led", "--slide", "--out"}) {
        EXPECT_NE(still.out.find(o), std::string::npos) << o;
    }
    const Result exp = runCli("export --help");
    EXPECT_EQ(exp.exitCode, 0);
    for (const char* o :
         {"--set", "--angle", "--seconds", "--size", "--key", "--neon", "--led", "--slide", "--out"}) {
        EXPECT_NE(exp.out.find(o), std::string::npos) << o;
    }
}

}  // namespace
