// Every vantry-cli command speaks the same way: a usage error is one line that states the
// rule and ends with where to read more; a folder that cannot be made is named with the
// reason; nothing from the libraries underneath reaches the terminal.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>

#include "tests/support/ShellCommand.h"

namespace {

namespace fs = std::filesystem;

struct Result {
    int exitCode = -1;
    std::string out, err;
};

class CommandLineStyle : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::current_path() /
               ("style_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        std::ofstream(dir_ / "file") << "x";  // a file where a folder is wanted
    }

    // Runs vantry-cli with `arguments` (shell words) under `environment` (VAR=value ...).
    Result run(const std::string& arguments, const std::string& environment = "") const {
        const fs::path errFile = dir_ / "stderr.txt";
        const std::string command =
            "env " + environment + " '" VANTRY_CLI_PATH "' " + arguments + " 2>'" + errFile.string() + "'";
        const vantry::testing::ShellResult shell = vantry::testing::runShell(command);
        Result r{shell.exitCode, shell.out, {}};
        std::ifstream in(errFile);
        r.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        return r;
    }

    std::string path(const std::string& name) const { return "'" + (dir_ / name).string() + "'"; }

    fs::path dir_;
};

TEST_F(CommandLineStyle, UsageErrorsAreOneLineThatStatesTheRuleAndPointsAtHelp) {
    const std::string out = " --out " + path("out.bin");
    const struct {
        std::string command, arguments, message;
    } cases[] = {
        {"clip", "--title t --headline h --badge b --seconds -1" + out,
         "option --seconds expects a number from 0 to 3600, got '-1'"},
        {"clip", "--title t --headline h --badge b --fps 0" + out,
         "option --fps expects a whole number from 1 to 240, got '0'"},
        {"export", "--seconds 3601" + out, "option --seconds expects a number from 0 to 3600, got '3601'"},
        {"still", "--angle 4" + out, "option --angle expects a whole number from 0 to 3, got '4'"},
        {"still", "--key 101" + out, "option --key expects a number from 0 to 100, got '101'"},
        {"still", "--time 2e6" + out, "option --time expects a number from -1000000 to 1000000, got '2e6'"},
        {"music", "--state coastalSerene --seconds 0" + out,
         "option --seconds expects a number above 0 and at most 600, got '0'"},
        {"music", "--state coastalSerene --rate 100" + out,
         "option --rate expects a whole number from 8000 to 192000, got '100'"},
        {"screenshot", "--frames 0" + out, "option --frames expects a whole number from 1 to 10000, got '0'"},
        {"screenshot", "--colour-match auto" + out, "option --colour-match expects on or off, got 'auto'"},
        {"raid", "--date 2025-02-30", "option --date: 2025-02-30 is not a calendar day"},
        {"maps", "bogus", "unknown sub-command 'bogus' (list, publish or selftest)"},
        {"sets", "--bogus", "unknown option --bogus"},
        {"replay-dump", "", "expects exactly one FILE"},
        {"facecam-selftest", "", "missing required option --out"},
        {"stream", "--url rtmp://127.0.0.1:9/live --desktop-audio loud",
         "option --desktop-audio expects on or off, got 'loud'"},
        {"stream", "--url rtmp://127.0.0.1:9/live --voice-filters 1",
         "option --voice-filters expects on or off, got '1'"},
        {"stream", "--url rtmp://127.0.0.1:9/live --mic ''", "option --mic needs a sound-server source name"},
        {"record", "--seconds 1 --mic a --mic b", "option --mic given more than once"},
        {"record", "--seconds 1 --desktop-audio yes", "option --desktop-audio expects on or off, got 'yes'"},
        {"audio-devices", "inputs", "unexpected argument 'inputs'"},
    };
    for (const auto& c : cases) {
        const Result r = run(c.command + " " + c.arguments);
        EXPECT_EQ(r.exitCode, 2) << c.command << " " << c.arguments;
        EXPECT_EQ(r.err, "vantry-cli " + c.command + ": " + c.message + "; see 'vantry-cli " + c.command +
                             " --help'\n")
            << c.command << " " << c.arguments;
        EXPECT_EQ(r.out, "") << c.command << " " << c.arguments;
    }
    const Result unknown = run("recolour");
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_EQ(unknown.err, "vantry-cli: unknown command 'recolour'; see 'vantry-cli --help'\n");
    EXPECT_FALSE(fs::exists(dir_ / "out.bin"));
}

TEST_F(CommandLineStyle, AFolderThatCannotBeMadeIsNamedWithTheReason) {
    const fs::path blocked = dir_ / "file" / "sub";
    const std::string out = " --out '" + (blocked / "out.bin").string() + "'";
    const struct {
        std::string command, arguments;
    } cases[] = {
        {"clip", "--title t --headline h --badge b" + out},
        {"still", "--size 64x36" + out},
        {"export", "--size 64x36" + out},
        {"music", "--state coastalSerene" + out},
        {"screenshot", out},
        {"facecam-selftest", out},
    };
    const std::regex expected("vantry-cli ([a-z-]+): cannot create folder '" + blocked.string() +
                              "': [^\n]+\n");
    for (const auto& c : cases) {
        const Result r = run(c.command + " " + c.arguments);
        EXPECT_EQ(r.exitCode, 1) << c.command;
        std::smatch m;
        EXPECT_TRUE(std::regex_match(r.err, m, expected)) << c.command << ": " << r.err;
        EXPECT_EQ(m.size() > 1 ? m[1].str() : "", c.command);
        EXPECT_EQ(r.out, "") << c.command;
    }
}

TEST_F(CommandLineStyle, ClipsDefaultFolderFailsTheSameWay) {
    // The default destination is the videos folder's CorvellaClips; here home is a file.
    const std::string env = "-u XDG_VIDEOS_DIR HOME=" + path("file") + " XDG_CONFIG_HOME=" + path("config");
    const Result r = run("clip --title t --headline h --badge b", env);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err.rfind("vantry-cli clip: cannot create folder '" +
                              (dir_ / "file" / "Videos" / "CorvellaClips").string() + "': ",
                          0),
              0u)
        << r.err;
}

TEST_F(CommandLineStyle, NoLibraryNoiseOnStandardError) {
    // Without XDG_RUNTIME_DIR Qt would complain; only the command's own progress may show.
    const Result r = run("clip --title t --headline h --badge b --seconds 0.5 --out " + path("c.mp4"),
                         "-u XDG_RUNTIME_DIR QT_QPA_PLATFORM=offscreen");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::istringstream lines(r.err);
    const std::regex progress(R"(clip: \d+/\d+ frames \(\d+%\))");
    for (std::string line; std::getline(lines, line);) EXPECT_TRUE(std::regex_match(line, progress)) << line;
    EXPECT_NE(r.out.find("\"frameCount\""), std::string::npos) << r.out;
}

}  // namespace
