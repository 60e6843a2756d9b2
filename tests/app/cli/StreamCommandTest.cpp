// vantry-cli stream against a receiver on 127.0.0.1 started by the test (ffmpeg -listen 1).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QImage>
#include <QProcess>
#include <QString>
#include <cstdio>
#include <filesystem>
#include <string>

#include "studio/gpu/VantryMetalEngine.h"
#include "tests/support/ImageDifference.h"
#include "tests/support/ShellCommand.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kKey = "sk_test_5e1d9c";
constexpr const char* kPortrait = "/usr/lib/python3/dist-packages/skimage/data/astronaut.png";

using Result = vantry::testing::ShellResult;
using vantry::testing::meanDifference;

Result run(const std::string& command) {
    return vantry::testing::runShell(command + " 2>&1");
}

Result stream(const std::string& arguments) {
    return run("'" VANTRY_CLI_PATH "' stream " + arguments);
}

TEST(StreamCommand, RefusalsAreClearAndNeverShowTheKey) {
    const struct {
        std::string url;
        std::string mentions;
    } cases[] = {
        {"ftp://127.0.0.1/live", "scheme"},
        {"rtmp://", "server"},
        {"rtmp://127.0.0.1:1/live", "refused"},  // nothing listens on port 1
    };
    for (const auto& c : cases) {
        const Result r = stream("--url '" + c.url + "' --seconds 5 --stream-key " + kKey);
        EXPECT_EQ(r.exitCode, 1) << c.url << "\n" << r.out;
        EXPECT_NE(r.out.find(c.mentions), std::string::npos) << c.url << "\n" << r.out;
        EXPECT_EQ(r.out.find(kKey), std::string::npos) << r.out;
    }
}

TEST(StreamCommand, StreamsStudioAndPresenterToALoopbackReceiver) {
    const fs::path dir = fs::current_path() / "cli_stream";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path received = dir / "received.flv";
    const int port = 20000 + ::getpid() % 20000;
    const std::string url = "rtmp://127.0.0.1:" + std::to_string(port) + "/live";
    QProcess receiver;
    receiver.start(
        "ffmpeg", {"-loglevel", "error", "-listen", "1", "-i", QString::fromStdString(url + "/" + kKey), "-c",
                   "copy", "-y", QString::fromStdString(received.string())});
    ASSERT_TRUE(receiver.waitForStarted()) << "needs ffmpeg";
    ::usleep(700'000);  // the receiver listens

    const bool withCamera = fs::exists(kPortrait);
    const Result r = stream("--url " + url + " --seconds 3 --set neon-creator" +
                            (withCamera ? std::string(" --camera ") + kPortrait : std::string()) +
                            " --stream-key " + kKey);
    receiver.waitForFinished(10'000);
    if (r.out.find("not available in this build") != std::string::npos) GTEST_SKIP() << r.out;
    ASSERT_EQ(r.exitCode, 0) << r.out;
    EXPECT_EQ(r.out.find(kKey), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("2 s: "), std::string::npos) << r.out;  // a progress line each second

    const Result probe =
        run("ffprobe -v error -count_packets -show_entries "
            "stream=codec_name,width,height,nb_read_packets:format=duration -of compact '" +
            received.string() + "'");
    EXPECT_NE(probe.out.find("codec_name=h264|width=1280|height=720"), std::string::npos) << probe.out;
    EXPECT_NE(probe.out.find("codec_name=aac"), std::string::npos) << probe.out;
    const auto packets = probe.out.find("nb_read_packets=");
    ASSERT_NE(packets, std::string::npos) << probe.out;
    const double duration = std::stod(probe.out.substr(probe.out.find("duration=") + 9));
    EXPECT_NEAR(duration, 3.0, 0.8) << probe.out;  // time stamps follow the wall clock
    EXPECT_GE(std::stoi(probe.out.substr(packets + 16)), int(0.9 * 30 * duration)) << probe.out;

    const fs::path still = dir / "frame.png";
    ASSERT_EQ(
        run("ffmpeg -v error -ss 2 -i '" + received.string() + "' -frames:v 1 -y '" + still.string() + "'")
            .exitCode,
        0);
    const QImage frame = QImage(QString::fromStdString(still.string())).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(frame.size(), QSize(1280, 720));
    auto engine = vantry::VantryMetalEngine::create();
    ASSERT_TRUE(engine);
    engine->loadSet(vantry::BroadcastStudioSet::neonCreatorDesk);
    const QImage studio =
        engine->renderOffscreenCGImage(1280, 720, 2.0f).convertToFormat(QImage::Format_RGB32);
    // Broadly the studio away from the presenter's window ...
    EXPECT_LT(meanDifference(frame, studio, QRect(760, 420, 480, 260)), 12.0);
    if (!withCamera) return;
    // ... and the person inside the window at the facecam's default place (176 x 132 centred
    // at 624, 264 of a 1280 x 720 picture).
    EXPECT_GT(meanDifference(frame, studio, QRect(560, 220, 128, 88)), 20.0);
}

TEST(StreamCommand, KeepsRunningAndReconnectsWhenTheReceiverComesBack) {
    const fs::path dir = fs::current_path() / "cli_stream_reconnect";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const int port = 20000 + (::getpid() + 7) % 20000;
    const std::string url = "rtmp://127.0.0.1:" + std::to_string(port) + "/live";
    const auto receive = [&](QProcess& receiver, const char* file) {
        receiver.start("ffmpeg",
                       {"-loglevel", "error", "-listen", "1", "-i", QString::fromStdString(url + "/" + kKey),
                        "-c", "copy", "-y", QString::fromStdString((dir / file).string())});
        return receiver.waitForStarted();
    };
    QProcess first, second, cli;
    ASSERT_TRUE(receive(first, "first.flv")) << "needs ffmpeg";
    ::usleep(700'000);
    cli.setProcessChannelMode(QProcess::MergedChannels);
    cli.start(VANTRY_CLI_PATH, {"stream", "--url", QString::fromStdString(url), "--size", "1280x720",
                                "--seconds", "10", "--stream-key", kKey});
    ASSERT_TRUE(cli.waitForStarted());
    ::sleep(3);
    first.kill();  // the server goes away part-way
    first.waitForFinished();
    ::usleep(500'000);
    ASSERT_TRUE(receive(second, "second.flv"));
    ASSERT_TRUE(cli.waitForFinished(60'000));
    second.waitForFinished(10'000);
    const std::string out = cli.readAll().toStdString();
    if (out.find("not available in this build") != std::string::npos) GTEST_SKIP() << out;
    EXPECT_EQ(cli.exitCode(), 0) << out;
    EXPECT_NE(out.find("reconnecting"), std::string::npos) << out;
    EXPECT_EQ(out.find(kKey), std::string::npos) << out;
    const Result probe =
        run("ffprobe -v error -count_packets -select_streams v -show_entries "
            "stream=nb_read_packets -of csv=p=0 '" +
            (dir / "second.flv").string() + "'");
    EXPECT_GT(std::atoi(probe.out.c_str()), 30) << probe.out;  // a second of pictures after reconnecting
}

}  // namespace
