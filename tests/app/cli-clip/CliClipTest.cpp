#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <QImage>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "creator/clips-and-juice/OruViralClipReceiptV1030.h"
#include "platform/video/VideoFileReader.h"
#include "tests/support/ShellCommand.h"

namespace fs = std::filesystem;
using vantry::creator::OruViralClipReceiptV1030;

namespace {

struct Result {
    int exitCode = -1;
    std::string out;
    std::string err;
};

using vantry::testing::shellQuote;

class CliClip : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("vantry-cli-clip-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    Result run(const std::string& args) {
        const fs::path errFile = dir_ / "stderr.txt";
        const std::string cmd =
            "HOME=" + shellQuote(dir_.string()) + " XDG_CONFIG_HOME=" + shellQuote((dir_ / "cfg").string()) +
            " " + shellQuote(VANTRY_CLI_PATH) + " clip " + args + " 2>" + shellQuote(errFile.string());
        const vantry::testing::ShellResult shell = vantry::testing::runShell(cmd);
        Result r{shell.exitCode, shell.out, {}};
        std::ifstream err(errFile);
        std::stringstream ss;
        ss << err.rdbuf();
        r.err = ss.str();
        return r;
    }
    fs::path dir_;
};

}  // namespace

TEST_F(CliClip, WritesTheClipAndPrintsItsReceipt) {
    const fs::path out = dir_ / "my clip.mp4";
    const auto r = run("--title 'Neon Raid' --headline 'TRIPLE KILL' --badge '+250 XP' --seconds 0.5 --out " +
                       shellQuote(out.string()));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto receipt = OruViralClipReceiptV1030::decode(r.out);
    ASSERT_TRUE(receipt.has_value()) << r.out;
    EXPECT_EQ(receipt->outputPath, out.string());
    EXPECT_EQ(receipt->frameCount, 30);
    EXPECT_EQ(receipt->durationSeconds, 1.0);
    EXPECT_EQ(receipt->gameTitle, "Neon Raid");
    EXPECT_EQ(receipt->fileSizeBytes, std::int64_t(fs::file_size(out)));
    EXPECT_NE(r.err.find("30/30"), std::string::npos) << "progress on standard error: " << r.err;
    EXPECT_EQ(vantry::platform::probeVideoFile(out).packets.size(), 30u);
}

TEST_F(CliClip, WithoutOutGoesToTheClipsFolderAndTakesAnImage) {
    const fs::path image = dir_ / "shot.png";
    QImage img(64, 36, QImage::Format_RGB32);
    img.fill(Qt::red);
    ASSERT_TRUE(img.save(QString::fromStdString(image.string())));
    const auto r = run("--title 'A B' --headline h --badge b --seconds 1 --fps 24 --image " +
                       shellQuote(image.string()));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto receipt = OruViralClipReceiptV1030::decode(r.out);
    ASSERT_TRUE(receipt.has_value()) << r.out;
    const fs::path out(receipt->outputPath);
    EXPECT_EQ(out.parent_path(), dir_ / "Videos" / "CorvellaClips");
    EXPECT_EQ(out.filename().string().rfind("A_B_Highlight_", 0), 0u);
    EXPECT_EQ(receipt->frameCount, 30);  // 24 frames raised to the minimum of 30
    EXPECT_DOUBLE_EQ(receipt->durationSeconds, 30.0 / 24.0);
    EXPECT_TRUE(fs::exists(out));
}

TEST_F(CliClip, BadArgumentsAndUnreadableInputsFailWithoutOutput) {
    const fs::path out = dir_ / "x.mp4";
    auto r = run("--title t --headline h --out " + shellQuote(out.string()));
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("--badge"), std::string::npos) << r.err;
    r = run("--title t --headline h --badge b --fps 0 --out " + shellQuote(out.string()));
    EXPECT_EQ(r.exitCode, 2);
    r = run("--title t --headline h --badge b --seconds abc --out " + shellQuote(out.string()));
    EXPECT_EQ(r.exitCode, 2);
    r = run("--title t --headline h --badge b --image " + shellQuote((dir_ / "none.png").string()) +
            " --out " + shellQuote(out.string()));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("cannot read image"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(out));
    std::ofstream(dir_ / "file") << "x";
    r = run("--title t --headline h --badge b --out " + shellQuote((dir_ / "file" / "x.mp4").string()));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("vantry-cli clip: "), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty());
}
