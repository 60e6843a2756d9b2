// What screen recording costs: CPU seconds per second of recording and frames that had to be
// repeated (grabbed late), for the recorder and, as the baseline in the same run, the ffmpeg
// command line recording the same display with the same settings (x11grab at 30 fps, libx264
// veryfast at the recorder's bit rate, a key frame every 2 s, fragmented MP4, no sound).
// A window animates on the display meanwhile; its drawing cost, measured while the baseline
// runs, is taken out of the recorder's figure. Run under a 1920x1080 display, e.g.
//   xvfb-run -a -s "-screen 0 1920x1080x24" bench_screen_recorder
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QPainter>
#include <QRasterWindow>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <regex>
#include <string>
#include <vector>

#include "bench/support/BenchSupport.h"
#include "platform/screen-recorder/LinuxScreenRecorder.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using vantry::platform::LinuxScreenRecorder;
using Clock = std::chrono::steady_clock;
constexpr double kSeconds = 4.0;

class MovingWindow : public QRasterWindow {
  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(QRect(0, 0, width(), height()), QColor::fromHsv((tick_ * 5) % 360, 160, 200));
        p.fillRect((tick_ * 17) % width(), 0, 80, height(), Qt::white);
        ++tick_;
    }

  private:
    int tick_ = 0;
};

// Animates the window until `done` returns true.
template <typename Done>
void animateUntil(MovingWindow& window, Done done) {
    auto next = Clock::now();
    while (!done()) {
        if (Clock::now() >= next) {
            window.update();
            next += std::chrono::milliseconds(33);
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

MovingWindow& window() {
    static MovingWindow* w = [] {
        auto* m = new MovingWindow;
        m->setGeometry(0, 0, 800, 600);
        m->show();
        return m;
    }();
    return *w;
}

// Drawing cost of the animation per second, from the baseline run (set there).
double gAnimationCpuPerSecond = -1;

void BM_FfmpegCommandLine(benchmark::State& state) {
    const std::string display = LinuxScreenRecorder::displayName({});
    const fs::path out = fs::temp_directory_path() / ("bench-ffmpeg-" + std::to_string(::getpid()) + ".mp4");
    const fs::path log = out.string() + ".log";
    const std::string rate = std::to_string(LinuxScreenRecorder::bitRateFor(1920, 1080, 30));
    for (auto _ : state) {
        std::vector<std::string> args{"ffmpeg",
                                      "-nostdin",
                                      "-y",
                                      "-loglevel",
                                      "info",
                                      "-f",
                                      "x11grab",
                                      "-framerate",
                                      "30",
                                      "-draw_mouse",
                                      "1",
                                      "-i",
                                      display,
                                      "-t",
                                      std::to_string(kSeconds),
                                      "-c:v",
                                      "libx264",
                                      "-preset",
                                      "veryfast",
                                      "-b:v",
                                      rate,
                                      "-maxrate",
                                      rate,
                                      "-bufsize",
                                      rate,
                                      "-g",
                                      "60",
                                      "-x264-params",
                                      "open-gop=0:scenecut=0",
                                      "-pix_fmt",
                                      "yuv420p",
                                      "-r",
                                      "30",
                                      "-movflags",
                                      "+frag_keyframe+empty_moov+default_base_moof",
                                      "-an",
                                      out.string()};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const double selfBefore = vantry::bench::cpuSeconds(vantry::bench::CpuOf::self);
        const double childBefore = vantry::bench::cpuSeconds(vantry::bench::CpuOf::children);
        const auto started = Clock::now();
        pid_t pid = -1;
        if (posix_spawnp(&pid, "ffmpeg", &files, nullptr, argv.data(), environ) != 0) {
            state.SkipWithError("ffmpeg is not installed");
            return;
        }
        int status = 0;
        animateUntil(window(), [&] { return ::waitpid(pid, &status, WNOHANG) == pid; });
        const double wall = std::chrono::duration<double>(Clock::now() - started).count();
        posix_spawn_file_actions_destroy(&files);
        gAnimationCpuPerSecond = (vantry::bench::cpuSeconds(vantry::bench::CpuOf::self) - selfBefore) / wall;
        state.counters["cpu_s_per_s"] =
            (vantry::bench::cpuSeconds(vantry::bench::CpuOf::children) - childBefore) / kSeconds;
        std::ifstream in(log);
        const std::string text{std::istreambuf_iterator<char>(in), {}};
        // ffmpeg's own progress line: frames it duplicated to keep the rate, and frames it dropped.
        auto lastCount = [&text](const char* key) {
            const std::regex pattern(std::string(key) + "=(\\d+)");
            double value = 0;
            for (auto it = std::sregex_iterator(text.begin(), text.end(), pattern);
                 it != std::sregex_iterator(); ++it)
                value = std::stod((*it)[1]);
            return value;
        };
        state.counters["frames_repeated"] = lastCount("dup");
        state.counters["frames_dropped"] = lastCount("drop");
        state.counters["frames"] = kSeconds * 30;
    }
    fs::remove(out);
    fs::remove(log);
}

void BM_LinuxScreenRecorder(benchmark::State& state) {
    vantry::platform::LinuxScreenRecorderOptions options;
    options.captureAudio = false;
    options.log = [](const std::string&) {};
    LinuxScreenRecorder recorder(options);
    const fs::path dir = fs::temp_directory_path();
    const fs::path out = dir / ("bench-recorder-" + std::to_string(::getpid()) + ".mp4");
    recorder.setScratchFolder(dir);
    for (auto _ : state) {
        const double before = vantry::bench::cpuSeconds(vantry::bench::CpuOf::self);
        std::promise<bool> started;
        recorder.startRecording([&](auto e) { started.set_value(!e); });
        if (!started.get_future().get()) {
            state.SkipWithError("the recorder could not start");
            return;
        }
        const auto t0 = Clock::now();
        animateUntil(window(), [&] { return Clock::now() - t0 >= std::chrono::duration<double>(kSeconds); });
        std::promise<bool> stopped;
        recorder.stopRecording(out, [&](auto e) { stopped.set_value(!e); });
        animateUntil(window(), [] { return true; });
        stopped.get_future().get();
        const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
        const double animation = gAnimationCpuPerSecond > 0 ? gAnimationCpuPerSecond * wall : 0;
        state.counters["cpu_s_per_s"] =
            (vantry::bench::cpuSeconds(vantry::bench::CpuOf::self) - before - animation) / kSeconds;
        state.counters["frames_repeated"] = double(recorder.lastStats().framesRepeated);
        state.counters["frames"] = double(recorder.lastStats().framesWritten);
    }
    fs::remove(out);
}

BENCHMARK(BM_FfmpegCommandLine)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_LinuxScreenRecorder)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("DISPLAY")) {
        std::fprintf(stderr, "bench_screen_recorder: needs an X display (run under xvfb-run)\n");
        return 0;
    }
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
