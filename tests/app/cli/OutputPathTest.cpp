// Every vantry-cli command that writes a file, pointed at what a file must not replace (a
// folder, a named pipe, a device) and at a symbolic link, the way a careless or hostile user
// would. Each run is bounded: a command still running after a minute is killed and fails.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QColor>
#include <QImage>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/ShellCommand.h"

namespace {

namespace fs = std::filesystem;
using vantry::testing::shellQuote;

// Exit status 137 means the bound killed it.
constexpr int kBoundSeconds = 60;

struct WritingCommand {
    std::string name;
    std::string arguments;  // everything but --out
};

// The cheapest run of each command that writes a file.
std::vector<WritingCommand> writingCommands(const fs::path& picture) {
    return {
        {"still", "still --size 64x36"},
        {"export", "export --seconds 0 --size 96x54"},
        {"clip", "clip --title T --headline H --badge B --seconds 0.2 --fps 5"},
        {"music", "music --state coastalSerene --seconds 0.1"},
        {"cutout", "cutout --mode full --in " + shellQuote(picture.string())},
        {"screenshot", "screenshot --frames 1 --size 1180x740"},
        {"screenshot view", "screenshot --view kill-toast --size 720x560"},
        // No sound server is contacted: the recording is video only.
        {"record", "record --seconds 0.3"},
    };
}

vantry::testing::ShellResult runBounded(const std::string& arguments, const fs::path& out) {
    return vantry::testing::runShell("PULSE_SERVER=unix:/nonexistent timeout -s KILL " +
                                     std::to_string(kBoundSeconds) + " '" VANTRY_CLI_PATH "' " + arguments +
                                     " --out " + shellQuote(out.string()) + " 2>&1 </dev/null");
}

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class OutputPaths : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::current_path() /
               ("out_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        picture_ = dir_ / "picture.png";
        QImage image(64, 48, QImage::Format_RGB32);
        image.fill(QColor(40, 120, 200));
        ASSERT_TRUE(image.save(QString::fromStdString(picture_.string()), "PNG"));
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
    fs::path picture_;
};

TEST_F(OutputPaths, WhatIsNotAFileIsRefusedAndLeftAlone) {
    struct stat null {};
    ASSERT_EQ(::stat("/dev/null", &null), 0);
    for (const auto& command : writingCommands(picture_)) {
        const fs::path folder = dir_ / (command.name + ".folder");
        fs::create_directories(folder / "inner");
        const fs::path pipe = dir_ / (command.name + ".pipe");
        ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
        const struct {
            fs::path out;
            std::string reason;
        } targets[] = {
            {folder, "it is a folder"},
            {pipe, "it is a named pipe"},
            {"/dev/null", "it is a device"},
        };
        for (const auto& target : targets) {
            SCOPED_TRACE(command.name + " --out " + target.out.string());
            const auto r = runBounded(command.arguments, target.out);
            EXPECT_EQ(r.exitCode, 1) << r.out;
            EXPECT_NE(r.out.find("cannot write '" + target.out.string() + "': " + target.reason),
                      std::string::npos)
                << r.out;
        }
        EXPECT_TRUE(fs::is_directory(folder / "inner"));
        EXPECT_TRUE(fs::is_fifo(pipe));
        struct stat now {};
        ASSERT_EQ(::stat("/dev/null", &now), 0);
        EXPECT_TRUE(S_ISCHR(now.st_mode)) << "/dev/null was replaced";
        EXPECT_EQ(now.st_rdev, null.st_rdev);
    }
    // Nothing was left beside the targets (no partial files).
    for (const auto& e : fs::directory_iterator(dir_))
        EXPECT_FALSE(e.path().filename().string().starts_with(".")) << e.path();
    for (const auto& e : fs::directory_iterator("/dev"))
        EXPECT_FALSE(e.path().filename().string().starts_with(".null")) << e.path();
}

TEST_F(OutputPaths, ALinkAtOutIsReplacedNeverFollowed) {
    const std::string original(80, 'v');
    for (const auto& command : writingCommands(picture_)) {
        SCOPED_TRACE(command.name);
        const fs::path victim = dir_ / (command.name + ".victim");
        std::ofstream(victim) << original;
        const fs::path link = dir_ / (command.name + ".link");
        fs::create_symlink(victim, link);
        const auto r = runBounded(command.arguments, link);
        EXPECT_EQ(r.exitCode, 0) << r.out;
        EXPECT_EQ(slurp(victim), original) << "the link's target was written";
        EXPECT_FALSE(fs::is_symlink(link));
        EXPECT_TRUE(fs::is_regular_file(link));
        EXPECT_GT(fs::file_size(link), 0u);
    }
}

}  // namespace
