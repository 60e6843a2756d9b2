// Files the commands read that are not what they should be (a named pipe, a link to /dev/zero,
// a folder, a file too large, an empty file, text that is no picture) end the command at once
// with one line that says why; settings and key files in the config folder likewise. And the
// command line's own rules for --seconds, --out and --size.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/AwkwardFiles.h"
#include "tests/support/ShellCommand.h"

namespace {

namespace fs = std::filesystem;
using vantry::testing::shellQuote;

struct Result {
    int exitCode = -1;
    std::string out, err;
};

class CliInputFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::current_path() /
               ("inputs_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "config");
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Runs vantry-cli under a config home of its own; a command still waiting after a minute
    // is ended (exit 124), so a hang fails the test rather than the whole run.
    Result run(const std::string& arguments, const fs::path& config) const {
        const fs::path errFile = dir_ / "stderr.txt";
        const std::string command =
            "env -u VANTRY_STREAM_KEY XDG_CONFIG_HOME=" + shellQuote(config.string()) +
            " QT_QPA_PLATFORM=offscreen timeout -s KILL 60 '" VANTRY_CLI_PATH "' " + arguments + " 2>" +
            shellQuote(errFile.string()) + " </dev/null";
        const vantry::testing::ShellResult shell = vantry::testing::runShell(command);
        Result r{shell.exitCode, shell.out, {}};
        std::ifstream in(errFile);
        r.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        return r;
    }
    Result run(const std::string& arguments) const { return run(arguments, dir_ / "config"); }

    fs::path dir_;
};

bool oneLine(const std::string& text) {
    return !text.empty() && text.find('\n') == text.size() - 1;
}

TEST_F(CliInputFiles, PicturesThatCannotBeReadAreRefusedAtOnceWithTheReason) {
    auto files =
        vantry::testing::makeAwkwardFiles(dir_ / "pictures", "camera.png", std::uintmax_t(256) << 20);
    std::ofstream(dir_ / "empty.png").flush();
    files.push_back({"an empty file", "it is empty", dir_ / "empty.png"});
    std::ofstream(dir_ / "text.png") << "this is not a picture\n";
    files.push_back({"text", "it is not a picture", dir_ / "text.png"});
    const struct {
        const char* command;
        const char* option;
        const char* says;
    } commands[] = {
        {"still", "--camera", "cannot read the camera picture"},
        {"cutout", "--in", "cannot read the picture"},
    };
    for (const auto& c : commands) {
        for (const auto& file : files) {
            SCOPED_TRACE(std::string(c.command) + " " + file.what);
            const Result r =
                run(std::string(c.command) + " " + c.option + " " + shellQuote(file.path.string()) +
                    " --out " + shellQuote((dir_ / "out.png").string()));
            EXPECT_EQ(r.exitCode, 1) << r.err;
            EXPECT_EQ(r.err.rfind(std::string("vantry-cli ") + c.command + ": " + c.says + " '" +
                                      file.path.string() + "': ",
                                  0),
                      0u)
                << r.err;
            EXPECT_NE(r.err.find(file.reason), std::string::npos) << r.err;
            EXPECT_TRUE(oneLine(r.err)) << r.err;
            EXPECT_FALSE(fs::exists(dir_ / "out.png"));
        }
    }
}

// A video or PDF slide that is a pipe, a device or a folder is refused at once with the reason.
TEST_F(CliInputFiles, VideoAndPdfSlidesThatCannotBeReadAreRefusedWithTheReason) {
    for (const char* name : {"slide.mp4", "slide.pdf"}) {
        auto files = vantry::testing::makeAwkwardFiles(dir_ / name, name, 1024, /*folderPerCase=*/true);
        files.pop_back();  // any size is a video's or a deck's own limit
        for (const auto& file : files) {
            SCOPED_TRACE(std::string(name) + " " + file.what);
            const Result r = run("still --size 64x36 --slide " + shellQuote(file.path.string()) + " --out " +
                                 shellQuote((dir_ / "out.png").string()));
            EXPECT_EQ(r.exitCode, 1) << r.err;
            EXPECT_NE(r.err.find(file.reason), std::string::npos) << r.err;
            EXPECT_TRUE(oneLine(r.err)) << r.err;
            EXPECT_FALSE(fs::exists(dir_ / "out.png"));
        }
    }
}

// The saved key is read without --stream-key: a settings or key file that is a pipe, a device,
// a folder, too large, a link or open to others never holds the stream up or is used unsaid.
TEST_F(CliInputFiles, StreamRefusesSavedKeyFilesWithTheReason) {
    for (const auto& file :
         vantry::testing::makeAwkwardFiles(dir_ / "keys", "stream-key", 4096, /*folderPerCase=*/true)) {
        SCOPED_TRACE(file.what);
        const fs::path config =
            file.path.parent_path().parent_path() / (file.path.parent_path().filename().string() + "-config");
        fs::create_directories(config);
        fs::rename(file.path.parent_path(), config / "vantry-pro");
        // go-live.conf awkward too: a pipe beside a piped key, /dev/zero beside a linked one.
        if (file.reason == "named pipe") ::mkfifo((config / "vantry-pro" / "go-live.conf").c_str(), 0600);
        if (file.reason == "device") fs::create_symlink("/dev/zero", config / "vantry-pro" / "go-live.conf");
        const Result r = run("stream --url rtmp://127.0.0.1:9/live --seconds 1", config);
        EXPECT_EQ(r.exitCode, 1) << r.err;
        const std::string reason = file.reason == "device" ? "symbolic link" : file.reason;
        EXPECT_EQ(r.err.rfind("vantry-cli stream: the stream key file " +
                                  (config / "vantry-pro" / "stream-key").string() + " is refused: ",
                              0),
                  0u)
            << r.err;
        EXPECT_NE(r.err.find(reason), std::string::npos) << r.err;
        EXPECT_TRUE(oneLine(r.err)) << r.err;
    }
    const fs::path open = dir_ / "open" / "vantry-pro";
    fs::create_directories(open);
    std::ofstream(open / "stream-key") << "live_secret\n";
    ::chmod((open / "stream-key").c_str(), 0644);
    const Result r = run("stream --url rtmp://127.0.0.1:9/live --seconds 1", dir_ / "open");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("it is open to other users (chmod 600 it)"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("live_secret"), std::string::npos) << "the key is never shown";
}

TEST_F(CliInputFiles, SecondsOutAndSizeFollowTheirStatedRules) {
    const std::string out = " --out " + shellQuote((dir_ / "o.png").string());
    const struct {
        std::string command, arguments, message;
    } cases[] = {
        {"record", "--seconds 0x10", "option --seconds expects a number, got '0x10'"},
        {"record", "--seconds 1e-9",
         "option --seconds expects a number from 0.034 (one frame at 30 frames per second) to 3600, got "
         "'1e-9'"},
        {"record", "--seconds 0.03",
         "option --seconds expects a number from 0.034 (one frame at 30 frames per second) to 3600, got "
         "'0.03'"},
        {"export", "--seconds ' 2'" + out, "option --seconds expects a number, got ' 2'"},
        {"still", "--out " + shellQuote((dir_ / "a\nb.png").string()),
         "option --out expects a file name without control characters (line breaks, tabs, escapes), got '" +
             (dir_ / "a\\nb.png").string() + "'"},
        {"record", "--seconds 1 --out " + shellQuote((dir_ / "t\tx\x1b.mp4").string()),
         "option --out expects a file name without control characters (line breaks, tabs, escapes), got '" +
             (dir_ / "t\\tx\\x1b.mp4").string() + "'"},
        {"still", "--size 0x36" + out,
         "option --size expects WIDTHxHEIGHT, each from 1 to 16384, got '0x36'"},
        {"still", "--size 64x+36" + out,
         "option --size expects WIDTHxHEIGHT, each from 1 to 16384, got '64x+36'"},
        {"export", "--size 20000x10" + out,
         "option --size expects WIDTHxHEIGHT, each from 1 to 16384, got '20000x10'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command + " " + c.arguments);
        const Result r = run(c.command + " " + c.arguments);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(r.err, "vantry-cli " + c.command + ": " + c.message + "; see 'vantry-cli " + c.command +
                             " --help'\n");
        EXPECT_EQ(r.out, "");
    }
    EXPECT_FALSE(fs::exists(dir_ / "o.png"));
}

}  // namespace
