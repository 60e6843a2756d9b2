// "vantry-cli doctor": prints, as JSON, what a problem report needs: the GL renderer,
// the display and sound servers, cameras, audio devices, v4l2loopback devices, the
// model files, the studio window's measured UI and studio frame rates, the H.264 encoders and
// the screen recorder's capture path.
#include <QAudioDevice>
#include <QCameraDevice>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QMediaDevices>
#include <QQuickItem>
#include <QQuickWindow>
#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/cli/Args.h"
#include "app/cli/Command.h"
#include "app/studio-app/DoctorReport.h"
#include "app/studio-app/EngineStudioRenderer.h"
#include "app/studio-app/StudioWindowHost.h"
#include "platform/dispatch/QtMainPoster.h"
#include "platform/media/H264Encoder.h"
#include "platform/screen-recorder/LinuxScreenRecorder.h"
#include "platform/segmentation/PersonSegmenter.h"

namespace {

using vantry::app::DoctorReport;
using vantry::app::cli::UsageError;

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

std::vector<DoctorReport::Device> loopbackDevices() {
    // v4l2loopback devices are the virtual ones among the video4linux class.
    std::vector<DoctorReport::Device> devices;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/sys/class/video4linux", ec)) {
        const auto target = std::filesystem::canonical(entry.path(), ec);
        if (ec || target.string().find("/virtual/") == std::string::npos) continue;
        QFile nameFile(QString::fromStdString((entry.path() / "name").string()));
        std::string name;
        if (nameFile.open(QIODevice::ReadOnly)) name = nameFile.readAll().trimmed().toStdString();
        devices.push_back({name, "/dev/" + entry.path().filename().string()});
    }
    return devices;
}

std::string soundServer() {
    const std::string runtime = env("XDG_RUNTIME_DIR");
    std::error_code ec;
    const bool pipewire = !runtime.empty() && std::filesystem::exists(runtime + "/pipewire-0", ec);
    const bool pulse = !env("PULSE_SERVER").empty() ||
                       (!runtime.empty() && std::filesystem::exists(runtime + "/pulse/native", ec));
    return vantry::app::soundServerName(pipewire, pulse);
}

// Opens the studio window and counts, over `seconds`, the frames Qt Quick puts on
// screen (kept busy as during a slider drag) and the frames the studio renders.
void measureWindow(DoctorReport& report, std::shared_ptr<vantry::app::EngineStudioRenderer> renderer,
                   double seconds) {
    vantry::app::StudioWindowHost host(std::move(renderer));
    if (!host.open()) throw vantry::app::cli::CommandError("the studio window failed to load");
    QQuickWindow* window = host.window();
    window->resize(1180, 740);
    auto* viewport = window->findChild<QQuickItem*>(QStringLiteral("stageViewport"));
    if (!viewport) throw vantry::app::cli::CommandError("the studio window has no live viewport");
    int swaps = 0;
    QObject::connect(
        window, &QQuickWindow::frameSwapped, window,
        [&swaps, window] {
            ++swaps;
            window->update();  // the UI keeps redrawing, as while a slider moves
        },
        Qt::QueuedConnection);

    QElapsedTimer clock;
    clock.start();
    while (viewport->property("framesDrawn").toInt() < 2 && clock.elapsed() < 60000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    const int studioBefore = viewport->property("framesDrawn").toInt();
    swaps = 0;
    clock.restart();
    while (clock.elapsed() < qint64(seconds * 1000))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    const double elapsed = clock.elapsed() / 1000.0;
    report.uiFramesPerSecond = swaps / elapsed;
    report.studioFramesPerSecond = (viewport->property("framesDrawn").toInt() - studioBefore) / elapsed;
}

int runDoctor(const std::vector<std::string>& args) {
    vantry::app::cli::Args parsed(args, {"seconds"});
    if (!parsed.positional().empty())
        throw UsageError("unexpected argument '" + parsed.positional()[0] + "'");
    const double seconds = parsed.number("seconds", 3.0);
    if (!(seconds >= 0.5 && seconds <= 60)) throw UsageError("--seconds must be 0.5..60");

    DoctorReport report;
    report.displayServer =
        vantry::app::displayServerName(std::getenv("WAYLAND_DISPLAY"), std::getenv("DISPLAY"));
    const bool display = report.displayServer != "none";
    if (display) vantry::app::prepareOpenGLQuick();
    if (!display) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "vantry-cli";
    static char* argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);
    vantry::platform::installQtMainPoster();

    auto renderer = vantry::app::EngineStudioRenderer::create();
    if (display) {
        const vantry::app::OpenGLProbe probe = vantry::app::probeOpenGL33();
        report.glRenderer = probe.renderer.toStdString();
        report.glVersion = probe.version.toStdString();
    } else if (renderer) {
        report.glRenderer = renderer->engine().deviceName();
    }
    for (const QCameraDevice& camera : QMediaDevices::videoInputs())
        report.cameras.push_back({camera.description().toStdString(), camera.id().toStdString()});
    for (const QAudioDevice& input : QMediaDevices::audioInputs())
        report.audioInputs.push_back({input.description().toStdString(), input.id().toStdString()});
    for (const QAudioDevice& output : QMediaDevices::audioOutputs())
        report.audioOutputs.push_back({output.description().toStdString(), output.id().toStdString()});
    report.soundServer = soundServer();
    report.v4l2loopbackDevices = loopbackDevices();
    const vantry::platform::media::H264Decision h264 = vantry::platform::media::surveyH264();
    report.h264Encoder = vantry::platform::media::h264EncoderName(h264.backend);
    for (const auto& finding : h264.findings)
        report.hardwareEncoders.push_back(
            {vantry::platform::media::h264EncoderName(finding.backend), finding.problem});
    for (auto model :
         {vantry::platform::SegmentationModel::general, vantry::platform::SegmentationModel::landscape}) {
        const auto path = vantry::platform::segmentationModelPath(model);
        std::error_code ec;
        report.modelFiles.push_back({path.string(), std::filesystem::is_regular_file(path, ec)});
    }
    {
        // Asked after the Qt application exists: the portal is reached over its session bus.
        std::string why;
        const auto path = vantry::platform::LinuxScreenRecorder::capturePath({}, &why);
        report.screenCapture = vantry::platform::capturePathName(path);
        if (path == vantry::platform::CapturePath::none) report.screenCaptureProblem = why;
    }
    if (display && renderer) measureWindow(report, renderer, seconds);

    const std::string json = vantry::app::doctorReportJson(report);
    std::fwrite(json.data(), 1, json.size(), stdout);
    return 0;
}

const vantry::app::cli::CommandRegistrar kDoctor(
    {"doctor", "Print what a problem report needs, as JSON",
     "Usage: vantry-cli doctor [--seconds S]\n\n"
     "Prints one JSON object: the GL renderer and version, the display server, cameras, audio\n"
     "inputs and outputs, the sound server, v4l2loopback devices, the segmentation model files,\n"
     "and, with a display, the frame rates of the studio window measured over S seconds (default\n"
     "3): uiFramesPerSecond (Qt Quick, kept redrawing) and studioFramesPerSecond (the 3D picture).\n"
     "screenCapture says which way a screen recording would capture: \"portal\" (the desktop\n"
     "portal's screen cast, on Wayland), \"x11\" (x11grab) or \"none\", with screenCaptureProblem\n"
     "saying why.",
     runDoctor});

}  // namespace
