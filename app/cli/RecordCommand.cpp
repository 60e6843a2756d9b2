// "vantry-cli record": records the screen (with game audio, optionally the microphone) to MP4,
// through x11grab on X11 or the desktop portal's screen cast on Wayland.
#include <QCoreApplication>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <mutex>
#include <optional>
#include <string>

#include "app/cli/Args.h"
#include "app/cli/Command.h"
#include "app/cli/EncoderOption.h"
#include "app/cli/SoundOptions.h"
#include "creator/clips-and-juice/OruViralAutoClipper9x16V1030.h"
#include "creator/studio-overlay/CreatorStudioMath.h"
#include "platform/files/SafeOutput.h"
#include "platform/screen-recorder/CaptureSource.h"
#include "platform/screen-recorder/LinuxScreenRecorder.h"

namespace {

namespace fs = std::filesystem;
using vantry::app::cli::CommandError;
using vantry::app::cli::UsageError;
using vantry::platform::LinuxScreenRecorder;
using vantry::platform::ScreenRecorderError;

// Runs one recorder call and waits for its completion.
template <typename Call>
std::optional<ScreenRecorderError> await(Call call) {
    std::promise<std::optional<ScreenRecorderError>> done;
    auto result = done.get_future();
    call([&done](std::optional<ScreenRecorderError> e) { done.set_value(std::move(e)); });
    // Qt's events keep flowing meanwhile (the desktop portal's answers come through them).
    while (result.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return result.get();
}

// Takes "--mic SOURCE" out of `args` (a bare "--mic" stays: the default microphone); the source,
// empty when none was named.
std::string takeMicSource(std::vector<std::string>& args) {
    std::string source;
    for (std::size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] != "--mic" || args[i + 1].rfind("--", 0) == 0) continue;
        if (!source.empty()) throw UsageError("option --mic given more than once");
        source = args[i + 1];
        args.erase(args.begin() + std::ptrdiff_t(i) + 1);
    }
    return source;
}

int runRecord(const std::vector<std::string>& arguments) {
    std::vector<std::string> args = arguments;
    const std::string micSource = takeMicSource(args);
    vantry::app::cli::Args parsed(
        args, {"seconds", "out", "encoder", "source", "desktop-audio", "voice-filters"}, {"mic"});
    if (!parsed.positional().empty())
        throw UsageError("unexpected argument '" + parsed.positional()[0] + "'");
    if (!parsed.has("seconds")) throw UsageError("option --seconds is required");
    // A shorter recording holds no frame, and no player opens the file.
    const double seconds =
        parsed.seconds("seconds", 0, vantry::platform::LinuxScreenRecorderOptions{}.fps, 3600);

    const double now =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    fs::path out;
    if (auto o = parsed.value("out")) {
        if (o->empty()) throw UsageError("option --out needs a file name");
        out = fs::absolute(*o);
    } else {
        out = vantry::creator::OruViralAutoClipper9x16V1030::defaultClipsDirectory() /
              vantry::creator::studio::recordingFileName("Screen", now);
    }
    // Refused now rather than after the whole recording: a folder, device or pipe is never replaced.
    if (auto why = vantry::platform::whyNotReplaceable(out))
        throw CommandError("cannot write '" + out.string() + "': " + *why);

    vantry::platform::LinuxScreenRecorderOptions options;
    options.encoder = vantry::app::cli::parseEncoderOption(parsed);
    const bool mic = parsed.flag("mic");
    auto soundOptions = vantry::app::cli::parseSoundOptions(parsed, mic ? "default" : "", true);
    if (!micSource.empty()) soundOptions.micSource = micSource;
    if (auto s = parsed.value("source")) {
        const auto choice = vantry::platform::parseCaptureSourceChoice(*s);
        if (!choice) throw UsageError("option --source expects auto, portal or x11");
        options.source = *choice;
    }
    // The desktop portal is reached over Qt's session bus connection.
    std::unique_ptr<QCoreApplication> app;
    if (!QCoreApplication::instance()) {
        static int argc = 1;
        static char name[] = "vantry-cli";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    std::string why;
    const auto path = LinuxScreenRecorder::capturePath(options, &why);
    if (path == vantry::platform::CapturePath::none) {
        const bool wayland = vantry::platform::isWaylandSession(std::getenv("XDG_SESSION_TYPE"),
                                                                std::getenv("WAYLAND_DISPLAY"));
        if (options.source == vantry::platform::CaptureSourceChoice::portal ||
            (options.source == vantry::platform::CaptureSourceChoice::automatic && wayland))
            throw CommandError("the desktop portal cannot record the screen: " + why);
        throw CommandError(
            "no X display to record: DISPLAY is not set (a Wayland session needs the "
            "desktop portal)");
    }
    const std::string display = path == vantry::platform::CapturePath::portal
                                    ? std::string("the desktop portal's screen cast")
                                    : "display " + LinuxScreenRecorder::displayName(options);
    // The programme sound: the desktop's ("game audio") and, with --mic, the microphone, mixed.
    options.sound = std::make_shared<vantry::platform::ProgrammeSound>(soundOptions);
    // A recording that fails on its own (the disk is full) ends the wait at once.
    std::mutex failureMutex;
    std::condition_variable failed;
    bool failure = false;
    LinuxScreenRecorder recorder(options);
    recorder.setFailureHandler([&](ScreenRecorderError) {
        std::lock_guard lock(failureMutex);
        failure = true;
        failed.notify_all();
    });
    if (!recorder.isAvailable()) throw CommandError("cannot capture the screen of " + display);

    vantry::app::cli::createParentFolder(out);
    recorder.setScratchFolder(out.parent_path());  // same file system: the final move is a rename
    recorder.setMicrophoneEnabled(mic);
    recorder.setCameraEnabled(false);
    if (auto e = await([&](auto done) { recorder.startRecording(done); })) {
        if (e->cancelled) {
            // Not a failure: the user chose not to record.
            std::fprintf(stderr, "record: %s\n", e->localizedDescription.c_str());
            return 3;
        }
        throw CommandError(e->localizedDescription);
    }

    const auto running = recorder.lastStats();
    std::fprintf(stderr, "record: %dx%d of %s for %g s, writing %s\n", running.width, running.height,
                 display.c_str(), seconds, running.scratchFile.c_str());
    std::fflush(stderr);
    {
        std::unique_lock lock(failureMutex);
        failed.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return failure; });
    }

    if (auto e = await([&](auto done) { recorder.stopRecording(out, done); }))
        throw CommandError(e->localizedDescription);
    const auto stats = recorder.lastStats();
    std::fprintf(stderr, "record: %lld frames at %d fps (%lld repeated), %.1f Mbit/s H.264, sound: %s\n",
                 static_cast<long long>(stats.framesWritten), options.fps,
                 static_cast<long long>(stats.framesRepeated), double(stats.videoBitRate) / 1e6,
                 !stats.hasAudio         ? "none"
                 : stats.microphoneMixed ? "game audio + microphone"
                                         : "game audio");
    std::printf("%s\n", out.c_str());
    std::fflush(stdout);
    return 0;
}

const vantry::app::cli::CommandRegistrar kRecord(
    {"record", "Record the screen with its sound to an MP4 file",
     "Usage: vantry-cli record --seconds N [--mic [SOURCE]] [--source auto|portal|x11] [--out FILE.mp4]\n"
     "\n"
     "Records the screen at 30 frames per second (H.264, a key frame every 2 s) with the sound\n"
     "server's output (\"game audio\", AAC), and prints where the file went. On X11 the whole\n"
     "screen of $DISPLAY is recorded; on Wayland the screen or window picked in the desktop's\n"
     "dialog (asked once: the choice is kept in ~/.config/vantry-pro/screencast.conf).\n"
     "While recording the file is written under a .partial.mp4 name beside the destination;\n"
     "it plays up to its last 2-second fragment even if the recording is cut off.\n"
     "Without a sound server the recording has no sound (a line on standard error says so).\n"
     "\n"
     "Options:\n"
     "  --seconds N      how long to record, from 0.034 (one frame) to 3600 (required)\n"
     "  --mic [SOURCE]   mix the microphone into the sound track: the default input, or the\n"
     "                   sound-server source named ('vantry-cli audio-devices' lists them)\n"
     "  --desktop-audio on|off  the sound server's output (\"game audio\", default on)\n"
     "  --voice-filters on|off  the microphone's voice filters (default on)\n"
     "  --source S       auto (default: the desktop portal on Wayland, else x11grab), portal or x11\n" +
         std::string(vantry::platform::media::kEncoderOptionHelp) +
         "  --out FILE.mp4   destination; an existing file (or a link, not what it points to) is\n"
         "                   replaced; a folder, device or pipe is refused. Default: the CorvellaClips\n"
         "                   folder in your videos folder, named Screen_CreatorRec_UNIXTIME.mp4\n"
         "\n"
         "When the file cannot be written (a full disk) the recording stops at once and keeps its\n"
         "complete fragments under the .partial.mp4 name.\n"
         "Exits 1 when there is nothing to record, or the recording could not be saved; exits 3\n"
         "when the screen choice was cancelled in the desktop's dialog (no file is written).",
     runRecord});

}  // namespace
