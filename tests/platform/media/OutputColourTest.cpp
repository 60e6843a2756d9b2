// Every output that encodes pictures writes the colours it was given, as its own colour tags
// say: the video writer's file, the live stream (RTMP into FLV, SRT into MPEG-TS), the virtual
// camera's raw pictures and the screen recording of a window. ffmpeg decodes each as tagged;
// the file camera plays the writer's file back in the same colours.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QPainter>
#include <QRasterWindow>
#include <QScreen>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>
#include <vector>

#include "platform/camera/FileCameraBackend.h"
#include "platform/media/Muxer.h"
#include "platform/media/PictureConverter.h"
#include "platform/screen-recorder/LinuxScreenRecorder.h"
#include "platform/stream/LiveStream.h"
#include "platform/stream/StreamEncoder.h"
#include "platform/video/VideoWriter.h"
#include "tests/support/EventPump.h"
#include "tests/support/ShellCommand.h"
#include "tests/support/StreamReceiver.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace vantry::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct Colour {
    const char* name;
    int r, g, b;
};
// Where BT.601 and BT.709 part most (blue, red, green) and a warm yellow.
constexpr Colour kColours[] = {
    {"#3366cc", 0x33, 0x66, 0xcc},
    {"#cc3333", 0xcc, 0x33, 0x33},
    {"#33cc66", 0x33, 0xcc, 0x66},
    {"#e0c040", 0xe0, 0xc0, 0x40},
};
constexpr int kBands = int(std::size(kColours));
// An output's colours within this many levels of the ones drawn.
constexpr int kLevels = 2;

// Packed BGRA of width x height: one vertical band for each colour, left to right.
std::vector<std::uint8_t> bandPicture(int width, int height) {
    std::vector<std::uint8_t> bgra(std::size_t(width) * height * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const Colour& c = kColours[x * kBands / width];
            std::uint8_t* p = &bgra[(std::size_t(y) * width + x) * 4];
            p[0] = std::uint8_t(c.b), p[1] = std::uint8_t(c.g), p[2] = std::uint8_t(c.r), p[3] = 255;
        }
    return bgra;
}

// Frame `frame` of the file's video, decoded by ffmpeg into RGB as the file is tagged (its
// matrix and range; exact rounding), and the tags.
struct TaggedPicture {
    std::string tags;  // ffprobe's color_* lines
    int width = 0, height = 0;
    std::string rgb;
    int at(int x, int y, int channel) const {
        return std::uint8_t(rgb[(std::size_t(y) * width + x) * 3 + channel]);
    }
};

TaggedPicture decodeAsTagged(const fs::path& file, int frame) {
    using vantry::testing::runShell;
    using vantry::testing::shellQuote;
    TaggedPicture p;
    const std::string input = shellQuote(file.string());
    const auto probe = runShell(
        "ffprobe -v error -select_streams v:0 -show_entries "
        "stream=width,height,color_space,color_range,color_primaries,color_transfer -of default=nw=1 " +
        input);
    EXPECT_EQ(probe.exitCode, 0) << file;
    p.tags = probe.out;
    std::sscanf(p.tags.substr(p.tags.find("width=")).c_str(), "width=%d", &p.width);
    std::sscanf(p.tags.substr(p.tags.find("height=")).c_str(), "height=%d", &p.height);
    const auto decoded =
        runShell("ffmpeg -v error -i " + input + " -vf 'select=gte(n\\," + std::to_string(frame) +
                 ")' -frames:v 1 -sws_flags bilinear+accurate_rnd+full_chroma_int "
                 "-f rawvideo -pix_fmt rgb24 -");
    EXPECT_EQ(decoded.exitCode, 0) << file;
    p.rgb = decoded.out;
    EXPECT_EQ(p.rgb.size(), std::size_t(p.width) * p.height * 3) << file << " has no frame " << frame;
    return p;
}

class OutputColourTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (!std::getenv("DISPLAY") || QGuiApplication::instance()) return;
        static int argc = 1;
        static char name[] = "platform_output_colour_tests";
        static char* argv[] = {name, nullptr};
        static QGuiApplication app(argc, argv);
    }
    void SetUp() override {
        dir = fs::temp_directory_path() / ("vantry-colour-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    // The file is tagged BT.709, limited range, and frame `frame` shows the bands within
    // kLevels, drawn over the top left `share` of its width and height.
    static void expectBands(const fs::path& file, int frame, double share = 1) {
        SCOPED_TRACE(file.filename().string());
        const TaggedPicture p = decodeAsTagged(file, frame);
        for (const char* tag :
             {"color_range=tv", "color_space=bt709", "color_transfer=bt709", "color_primaries=bt709"})
            EXPECT_NE(p.tags.find(tag), std::string::npos) << "not " << tag << " but\n" << p.tags;
        if (p.rgb.size() != std::size_t(p.width) * p.height * 3) return;
        for (int band = 0; band < kBands; ++band) {
            const Colour& c = kColours[band];
            const int px = int(p.width * share * (band + 0.5) / kBands);
            const int py = int(p.height * share / 2);
            EXPECT_NEAR(p.at(px, py, 0), c.r, kLevels) << c.name << " red";
            EXPECT_NEAR(p.at(px, py, 1), c.g, kLevels) << c.name << " green";
            EXPECT_NEAR(p.at(px, py, 2), c.b, kLevels) << c.name << " blue";
        }
    }

    // 20 frames of the bands through the video writer.
    fs::path writeBandsFile(int width, int height) {
        const fs::path file = dir / "writer.mp4";
        VideoWriterSettings s;
        s.width = width;
        s.height = height;
        s.averageBitRate = 2'000'000;
        VideoWriter writer(file, s);
        const auto bgra = bandPicture(width, height);
        for (int n = 0; n < 20; ++n) writer.appendBGRA(bgra.data(), width * 4, n);
        writer.finish();
        return file;
    }

    fs::path dir;
};

TEST_F(OutputColourTest, VideoWriterFileDecodesAsTaggedToTheColoursDrawn) {
    expectBands(writeBandsFile(320, 180), 15);
}

TEST_F(OutputColourTest, FileCameraPlaysAVideoInTheColoursItIsTaggedWith) {
    auto source = openCameraFileSource(writeBandsFile(320, 180));
    CameraFrameView v;
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(source->nextFrame(v));
    ASSERT_EQ(v.width, 320);
    for (int band = 0; band < kBands; ++band) {
        const Colour& c = kColours[band];
        const std::uint8_t* p = v.pixels + 90 * std::size_t(v.bytesPerRow) + (320 * band / kBands + 40) * 4;
        EXPECT_NEAR(p[2], c.r, kLevels) << c.name << " red";
        EXPECT_NEAR(p[1], c.g, kLevels) << c.name << " green";
        EXPECT_NEAR(p[0], c.b, kLevels) << c.name << " blue";
    }
}

TEST_F(OutputColourTest, LiveStreamDecodesAsTaggedToTheColoursHandedIn) {
    struct Case {
        const char* scheme;
        bool udp;
        const char* file;
    };
    for (const Case c : {Case{"rtmp", false, "stream.flv"}, Case{"srt", true, "stream.ts"}}) {
        SCOPED_TRACE(c.scheme);
        const int port = vantry::testing::freePort(c.udp ? SOCK_DGRAM : SOCK_STREAM);
        const std::string base = std::string(c.scheme) + "://127.0.0.1:" + std::to_string(port);
        const fs::path out = dir / c.file;
        vantry::testing::Receiver receiver(c.udp ? base + "?mode=listener" : base + "/live/key", out, c.udp,
                                           port);
        LiveStreamSettings s;
        s.url = c.udp ? base : base + "/live";
        s.streamKey = "key";
        s.width = 320;
        s.height = 180;
        s.videoBitRate = 1'000'000;
        s.captureMicrophone = false;
        LiveStream stream(s, {});
        const auto bgra = bandPicture(s.width, s.height);
        stream.offerBGRA(bgra.data(), s.width * 4);
        for (int i = 0; i < 500 && stream.status().framesSent < 30; ++i) std::this_thread::sleep_for(20ms);
        stream.stop();
        receiver.finish();
        ASSERT_GE(stream.status().framesSent, 30) << stream.status().message;
        expectBands(out, 10);
    }
}

// The virtual camera's pictures: converted as the stream converts them, raw, in a container
// that keeps the stream's tags.
TEST_F(OutputColourTest, VirtualCameraPicturesDecodeAsTaggedToTheColoursHandedIn) {
    LiveStreamSettings s;
    s.width = 320;
    s.height = 180;
    StreamEncoder encoder(s, /*raw=*/true, media::H264Backend::x264, false);
    media::PictureConverter converter(s.width, s.height);
    const auto bgra = bandPicture(s.width, s.height);
    ASSERT_TRUE(converter.convertBGRA(bgra.data(), s.width * 4));

    const fs::path file = dir / "camera.mkv";
    media::Muxer muxer("matroska", file.string());
    AVStream* video = muxer.addStream(encoder.videoFormat());
    // Matroska names raw pictures by their layout.
    video->codecpar->codec_tag = avcodec_pix_fmt_to_codec_tag(AV_PIX_FMT_YUV420P);
    ASSERT_GE(muxer.openOutput(), 0);
    ASSERT_GE(muxer.writeHeader(), 0);
    const std::string error = encoder.sendVideo(converter.frame(), 0, [&](const AVPacket* packet, bool) {
        AVPacket* copy = av_packet_clone(packet);
        EXPECT_GE(muxer.write(copy, encoder.videoFormat(), video), 0);
        av_packet_free(&copy);
    });
    ASSERT_EQ(error, "");
    ASSERT_GE(muxer.writeTrailer(), 0);
    ASSERT_GE(muxer.closeOutput(), 0);
    expectBands(file, 0);
}

// The bands in a window at the top left of the screen.
class BandWindow : public QRasterWindow {
  public:
    int paints = 0;

  protected:
    void paintEvent(QPaintEvent*) override {
        ++paints;
        QPainter p(this);
        for (int band = 0; band < kBands; ++band) {
            const Colour& c = kColours[band];
            p.fillRect(QRect(width() * band / kBands, 0, width() / kBands + 1, height()),
                       QColor(c.r, c.g, c.b));
        }
    }
};

TEST_F(OutputColourTest, ScreenRecordingDecodesAsTaggedToTheColoursOnTheScreen) {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display (run under xvfb-run)";
    LinuxScreenRecorderOptions options;
    options.source = CaptureSourceChoice::x11;
    options.captureAudio = false;
    options.log = [](const std::string&) {};
    LinuxScreenRecorder recorder(options);
    if (!recorder.isAvailable()) GTEST_SKIP() << "the X display cannot be captured";
    BandWindow window;
    window.setGeometry(0, 0, 640, 360);
    window.show();
    const auto spin = [](std::chrono::milliseconds span) {
        for (const auto end = std::chrono::steady_clock::now() + span;
             std::chrono::steady_clock::now() < end;)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    };
    // Recorded only once the bands are on the screen: painted, and the event loop run once more
    // so the painted picture has reached the X server.
    ASSERT_TRUE(vantry::testing::pumpUntil([&] { return window.isExposed() && window.paints > 0; }, 15000));
    spin(100ms);

    recorder.setScratchFolder(dir);
    std::promise<std::optional<ScreenRecorderError>> started, stopped;
    recorder.startRecording([&](auto e) { started.set_value(std::move(e)); });
    const auto start = started.get_future().get();
    ASSERT_FALSE(start) << start->localizedDescription;
    spin(1500ms);
    recorder.stopRecording(dir / "screen.mp4", [&](auto e) { stopped.set_value(std::move(e)); });
    const auto stop = stopped.get_future().get();
    ASSERT_FALSE(stop) << stop->localizedDescription;

    // The window's share of the screen, whatever size the screen is recorded at.
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size() *
                         QGuiApplication::primaryScreen()->devicePixelRatio();
    ASSERT_EQ(screen.width() * 360, screen.height() * 640) << "a 16:9 test screen";
    expectBands(dir / "screen.mp4", 15, 640.0 / screen.width());
}

}  // namespace
}  // namespace vantry::platform
