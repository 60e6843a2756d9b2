// "vantry-cli stream": sends the program feed (studio, and a presenter from a file camera) live
// to an RTMP, RTMPS or SRT server, without a window.
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/cli/Args.h"
#include "app/cli/CanvasOption.h"
#include "app/cli/Command.h"
#include "app/cli/EncoderOption.h"
#include "app/cli/PresenterOptions.h"
#include "app/cli/SoundOptions.h"
#include "app/cli/StudioOptions.h"
#include "app/cli/WallSlide.h"
#include "app/program-feed/GoLiveSettings.h"
#include "app/program-feed/ProgramFeed.h"
#include "creator/studio-overlay/OruCreatorCameraFeedV1045.h"
#include "platform/audio-mix/ProgrammeSound.h"
#include "platform/camera/FileCameraBackend.h"
#include "platform/segmentation/PersonSegmenter.h"
#include "platform/stream/LiveStream.h"

namespace {

using vantry::app::cli::CommandError;
using vantry::app::cli::UsageError;
using vantry::platform::LiveStreamState;
using vantry::platform::LiveStreamStatus;

constexpr const char* kKeyVariable = "VANTRY_STREAM_KEY";

std::atomic<bool> interrupted{false};

void onInterrupt(int) {
    interrupted.store(true);
}

std::string stateName(LiveStreamState state) {
    switch (state) {
        case LiveStreamState::connecting:
            return "connecting";
        case LiveStreamState::live:
            return "live";
        case LiveStreamState::stalled:
            return "stalled";
        case LiveStreamState::reconnecting:
            return "reconnecting";
        case LiveStreamState::ended:
            return "ended";
        case LiveStreamState::failed:
            return "failed";
    }
    return "";
}

std::string megabytes(std::int64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f MB", double(bytes) / 1e6);
    return text;
}

// One server's part of a progress line or the summary: "rtmp://host/app: live, 2.10 Mbit/s,
// 1.20 MB delivered (message)".
std::string destinationLine(const vantry::platform::LiveStreamDestinationStatus& d) {
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.2f Mbit/s", d.measuredBitRate / 1e6);
    std::string line = d.shownAddress + ": " + stateName(d.state) + ", " + rate + ", " +
                       megabytes(d.bytesDelivered) + " delivered";
    if (d.packetsDropped > 0) line += ", " + std::to_string(d.packetsDropped) + " packets dropped";
    if (d.state == LiveStreamState::stalled)
        line += " (the server has taken nothing for " + std::to_string(int(d.secondsWithoutDelivery)) + " s)";
    else if (!d.message.empty())
        line += " (" + d.message + ")";
    if (d.state == LiveStreamState::connecting && d.retryInSeconds > 0)
        line += " · retry in " + std::to_string(int(std::ceil(d.retryInSeconds))) + " s";
    return line;
}

// The presenter from a picture or video file, cut out by the segmentation network.
class FileCameraPresenter {
  public:
    // inSet: each picture goes into the studio engine (standing in the set, so in every canvas
    // it films) instead of over the feeds. Each feed lays a floating presenter over its own canvas.
    FileCameraPresenter(const std::filesystem::path& file, bool refineEdges,
                        std::vector<vantry::app::feed::ProgramFeed*> feeds,
                        vantry::VantryMetalEngine* inSet) {
        try {
            (void)vantry::platform::openCameraFileSource(file);
        } catch (const std::exception& e) {
            throw CommandError("cannot read camera file '" + file.string() + "': " + e.what());
        }
        auto segmenter = std::make_shared<std::unique_ptr<vantry::platform::PersonSegmenter>>();
        try {
            *segmenter = std::make_unique<vantry::platform::OnnxPersonSegmenter>();
        } catch (const vantry::platform::SegmentationModelError& e) {
            throw CommandError(std::string("cannot cut out the presenter: ") + e.what());
        }
        camera_ = std::make_unique<vantry::creator::OruCreatorCameraFeedV1045>(
            std::make_shared<vantry::platform::FileCameraBackend>(file),
            [segmenter] { return std::move(*segmenter); });
        camera_->updateSettings(vantry::creator::OruFacecamBackgroundModeV1045::cutoutNoBackground, true);
        camera_->setRefineEdges(refineEdges);
        vantry::app::feed::ProgramPresenter presenter;
        presenter.visible = true;
        presenter.inSet = inSet != nullptr;
        presenter.look.viewportWidth = vantry::app::feed::kReferenceViewportWidth;
        presenter.look.viewportHeight = vantry::app::feed::kReferenceViewportHeight;
        camera_->setOnFrameReady([feeds = std::move(feeds), presenter, inSet](const QImage& picture) mutable {
            if (inSet) inSet->setInSetPresenter(picture);
            presenter.picture = picture;
            for (vantry::app::feed::ProgramFeed* feed : feeds) feed->setPresenter(presenter);
        });
        camera_->start([](bool, const std::string&) {});
    }
    ~FileCameraPresenter() {
        if (camera_) camera_->stop();
    }

  private:
    std::unique_ptr<vantry::creator::OruCreatorCameraFeedV1045> camera_;
};

// The options every run takes at most once; --url and --stream-key may come again (one
// destination each) and are taken out before these are read.
const std::set<std::string> kValueOptions{"seconds",    "size",   "bitrate",       "set",          "angle",
                                          "camera",     "refine", "encoder",       "presenter",    "slide",
                                          "slide-page", "mic",    "desktop-audio", "voice-filters"};

// The stream's destinations, each --url with its --stream-key and --canvas (in the same order).
struct Destinations {
    std::vector<std::string> urls, keys;
    std::vector<vantry::ProgramCanvas> canvases;  // one for each URL (landscape unless given)
};

// Takes every --url, --stream-key and --canvas out of `args`, leaving the rest.
Destinations takeDestinations(std::vector<std::string>& args) {
    Destinations d;
    std::vector<std::string> rest;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool url = a == "--url", key = a == "--stream-key", canvas = a == "--canvas";
        if (url || key || canvas) {
            if (i + 1 >= args.size()) throw UsageError("option " + a + " needs a value");
            if (canvas)
                d.canvases.push_back(vantry::app::cli::parseCanvasValue(args[++i]));
            else
                (url ? d.urls : d.keys).push_back(args[++i]);
            continue;
        }
        rest.push_back(a);
        // Another option's value stays with it, whatever it looks like.
        if (a.rfind("--", 0) == 0 && kValueOptions.count(a.substr(2)) && i + 1 < args.size())
            rest.push_back(args[++i]);
    }
    args = std::move(rest);
    if (d.urls.empty()) throw UsageError("missing required option --url");
    if (d.urls.size() > std::size_t(vantry::platform::kMaxStreamDestinations))
        throw UsageError("option --url given more than " +
                         std::to_string(vantry::platform::kMaxStreamDestinations) + " times");
    if (d.urls.size() == 1 && d.keys.size() > 1) throw UsageError("option --stream-key given more than once");
    if (!d.keys.empty() && d.keys.size() != d.urls.size())
        throw UsageError("give --stream-key once for each --url, in the same order, or not at all");
    if (!d.canvases.empty() && d.canvases.size() != d.urls.size())
        throw UsageError("give --canvas once for each --url, in the same order, or not at all");
    if (d.canvases.empty()) d.canvases.assign(d.urls.size(), vantry::ProgramCanvas::landscape);
    return d;
}

// The key for destination `index` when none was given: none for an address that carries its
// own; else the first takes $VANTRY_STREAM_KEY, then the key saved in the window for its
// address, then the window's first key; the others the key saved for their address, else none.
std::string defaultKey(const std::string& url, std::size_t index) {
    // An address that carries its own key ("rtmp://host/app/KEY") takes no other.
    if (vantry::platform::streamAddressCarriesKey(url)) return {};
    if (const char* fromEnvironment = std::getenv(kKeyVariable); fromEnvironment && index == 0)
        return fromEnvironment;
    const auto saved = vantry::app::feed::loadGoLiveDestinations(vantry::app::feed::goLiveFolder());
    for (const auto& d : saved) {
        if (d.url != url) continue;
        // A key file that is refused is said, never silently replaced by another key.
        if (!d.keyProblem.empty()) throw CommandError(d.keyProblem);
        if (!d.streamKey.empty()) return d.streamKey;
    }
    if (index != 0 || saved.empty()) return std::string();
    if (!saved.front().keyProblem.empty()) throw CommandError(saved.front().keyProblem);
    return saved.front().streamKey;
}

// One canvas's part of the stream: its feed, drawn once, and its stream to every destination
// that takes it.
struct CanvasStream {
    vantry::ProgramCanvas canvas = vantry::ProgramCanvas::landscape;
    std::vector<std::size_t> destinations;  // indexes into the --url list
    vantry::platform::LiveStreamSettings settings;
    std::unique_ptr<vantry::platform::LiveStream> stream;
    // Hands its pictures to `stream`, so it goes first.
    std::unique_ptr<vantry::app::feed::ProgramFeed> feed;
    LiveStreamStatus last;  // as the stream was before it was stopped
    std::string label;      // " (vertical 720x1280)" beside its lines when there are several
};

int runStream(const std::vector<std::string>& arguments) {
    std::vector<std::string> args = arguments;
    const Destinations destinations = takeDestinations(args);
    const vantry::app::cli::Args parsed(args, kValueOptions, {"slide-screen"});
    if (!parsed.positional().empty())
        throw UsageError("unexpected argument '" + parsed.positional()[0] + "'");
    vantry::app::cli::StudioOptions studio;
    vantry::app::cli::parseSetAndAngle(parsed, studio);
    vantry::app::cli::parseSlideOptions(parsed, studio);
    const auto encoder = vantry::app::cli::parseEncoderOption(parsed);
    const bool inSet = vantry::app::cli::parsePresenterMode(parsed) == vantry::app::cli::PresenterMode::inSet;
    const double seconds = parsed.number("seconds", 0, 0, 86400);
    const auto [width, height] = parsed.size("size", {1280, 720});
    if (!vantry::app::feed::isGoLiveSize(width, height))
        throw UsageError("option --size expects 1280x720 or 1920x1080");
    const bool refineEdges = parsed.onOff("refine").value_or(true);
    const auto soundOptions = vantry::app::cli::parseSoundOptions(parsed, "default", true);
    const double bitRate =
        parsed.number("bitrate", double(vantry::app::feed::defaultBitRate(height)),
                      double(vantry::platform::kMinVideoBitRate), double(vantry::platform::kMaxVideoBitRate));

    std::vector<std::string> keys;
    for (std::size_t i = 0; i < destinations.urls.size(); ++i)
        keys.push_back(destinations.keys.empty() ? defaultKey(destinations.urls[i], i)
                                                 : destinations.keys[i]);

    // A malformed address is the command line's fault; one that names no usable device is not.
    try {
        for (const std::string& url : destinations.urls) (void)vantry::platform::liveStreamKind(url);
    } catch (const vantry::platform::LiveStreamAddressError& e) {
        throw UsageError(e.what());
    } catch (const std::exception& e) {
        throw CommandError(e.what());
    }

    // So is a passphrase SRT cannot take.
    for (const std::string& url : destinations.urls)
        if (const std::string fault = vantry::platform::srtPassphraseFault(url); !fault.empty())
            throw UsageError(fault);

    // One stream for each canvas in use, landscape first: drawn and encoded once, with every
    // destination that takes that canvas. A canvas nobody takes is never drawn.
    std::vector<CanvasStream> canvases;
    for (const vantry::ProgramCanvas canvas :
         {vantry::ProgramCanvas::landscape, vantry::ProgramCanvas::vertical}) {
        CanvasStream c;
        c.canvas = canvas;
        for (std::size_t i = 0; i < destinations.urls.size(); ++i)
            if (destinations.canvases[i] == canvas) c.destinations.push_back(i);
        if (c.destinations.empty()) continue;
        const auto size = vantry::programCanvasSize(canvas, width, height);
        c.settings.width = size.width;
        c.settings.height = size.height;
        c.settings.fps = 30;
        c.settings.videoBitRate = std::llround(bitRate);
        c.settings.encoder = encoder;
        for (const std::size_t i : c.destinations) {
            if (i == c.destinations.front()) {
                c.settings.url = destinations.urls[i];
                c.settings.streamKey = keys[i];
            } else {
                c.settings.moreDestinations.push_back({destinations.urls[i], keys[i]});
            }
        }
        canvases.push_back(std::move(c));
    }
    const bool severalCanvases = canvases.size() > 1;
    // A server given twice is refused as one stream refuses it, across the canvases too.
    if (severalCanvases) {
        std::vector<vantry::platform::LiveStreamTarget> targets;
        try {
            for (std::size_t i = 0; i < destinations.urls.size(); ++i) {
                targets.push_back(vantry::platform::liveStreamTarget(destinations.urls[i], keys[i]));
                if (targets.back().kind == "v4l2")
                    throw UsageError("A virtual camera cannot be one of several stream destinations");
                for (std::size_t j = 0; j + 1 < targets.size(); ++j)
                    if (targets[j].address == targets.back().address)
                        throw UsageError("The stream goes to " + targets.back().shownAddress +
                                         " twice: give each server once");
            }
        } catch (const vantry::platform::LiveStreamAddressError& e) {
            throw UsageError(e.what());
        } catch (const UsageError&) {
            throw;
        } catch (const std::exception& e) {
            throw CommandError(e.what());
        }
    }

    auto engine = vantry::app::cli::makeStudioEngine(studio);
    // A video or the shared screen plays on the wall while the stream runs (and stops first).
    const auto wall = vantry::app::cli::startLiveSlide(studio, *engine, [](const std::string& why) {
        std::fprintf(stderr, "LED wall: %s\n", why.c_str());
        std::fflush(stderr);
    });
    const auto start = std::chrono::steady_clock::now();
    const auto elapsed = [start] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    std::vector<vantry::app::feed::ProgramFeed*> feeds;
    for (CanvasStream& c : canvases) {
        const vantry::ProgramCanvas canvas = c.canvas;
        c.feed = std::make_unique<vantry::app::feed::ProgramFeed>(
            c.settings.width, c.settings.height, c.settings.fps,
            [&engine, elapsed, canvas](int w, int h) {
                return engine->renderOffscreenShared(w, h, float(elapsed()), canvas);
            },
            canvas);
        feeds.push_back(c.feed.get());
    }
    std::unique_ptr<FileCameraPresenter> presenter;
    if (auto camera = parsed.value("camera"))
        presenter = std::make_unique<FileCameraPresenter>(*camera, refineEdges, feeds,
                                                          inSet ? engine.get() : nullptr);

    // The programme sound: the microphone and the desktop's sound, mixed; every canvas's stream
    // takes it from a tap of its own.
    const auto sound = std::make_shared<vantry::platform::ProgrammeSound>(soundOptions);
    for (CanvasStream& c : canvases) {
        c.settings.sound = sound;
        // The stream's errors, status messages and logs name none of the address's secrets
        // (key, password, tokens), so they are printed as they come.
        try {
            // The loop below reads the stream's counters as they are, so no status callback.
            c.stream = std::make_unique<vantry::platform::LiveStream>(c.settings, nullptr);
        } catch (const vantry::platform::LiveStreamAddressError& e) {
            throw UsageError(e.what());
        } catch (const std::exception& e) {
            throw CommandError(e.what());
        }
        vantry::platform::LiveStream* out = c.stream.get();
        c.feed->setOutput(
            vantry::app::feed::ProgramFeed::Slot::stream,
            [out](const std::uint8_t* pixels, std::ptrdiff_t stride) { out->offerBGRA(pixels, stride); });
        c.last = c.stream->status();  // as the stream was before it was stopped
        // With several canvases, each line of the progress and the summary names its own.
        if (severalCanvases)
            c.label = " (" + std::string(vantry::programCanvasName(c.canvas)) + " " +
                      std::to_string(c.settings.width) + "x" + std::to_string(c.settings.height) + ")";
    }
    const bool severalDestinations = destinations.urls.size() > 1;

    struct sigaction action {};
    action.sa_handler = onInterrupt;
    ::sigemptyset(&action.sa_mask);
    struct sigaction oldInt {
    }, oldTerm{};
    ::sigaction(SIGINT, &action, &oldInt);
    ::sigaction(SIGTERM, &action, &oldTerm);
    interrupted.store(false);

    if (severalCanvases)
        std::fprintf(stderr,
                     "Streaming %dx%d (landscape) and %dx%d (vertical) at 30 fps, %.1f Mbit/s each "
                     "(Ctrl-C ends the stream)\n",
                     canvases[0].settings.width, canvases[0].settings.height, canvases[1].settings.width,
                     canvases[1].settings.height, bitRate / 1e6);
    else
        std::fprintf(stderr, "Streaming %dx%d at 30 fps, %.1f Mbit/s (Ctrl-C ends the stream)\n",
                     canvases[0].settings.width, canvases[0].settings.height,
                     double(canvases[0].settings.videoBitRate) / 1e6);
    for (CanvasStream& c : canvases) c.feed->start();
    std::string failure;
    double nextReport = 1.0;
    std::string soundLine;  // the sound's message as last printed
    while (!interrupted.load() && (seconds <= 0 || elapsed() < seconds)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        bool allEnded = true;
        for (CanvasStream& c : canvases) {
            const LiveStreamStatus s = c.last = c.stream->status();
            if (s.state == LiveStreamState::failed && failure.empty())
                failure = s.message.empty() ? "the stream failed" : s.message;
            allEnded = allEnded && s.state == LiveStreamState::ended;
        }
        if (!failure.empty() || allEnded) break;
        // A device that goes away or returns, or no sound server: said once when it changes.
        if (std::string line = sound->message(); line != soundLine) {
            soundLine = line;
            std::fprintf(stderr, "%s\n",
                         line.empty() ? "Sound: every device is back" : ("Sound: " + line).c_str());
            std::fflush(stderr);
        }
        if (elapsed() >= nextReport) {
            nextReport += 1.0;
            for (const CanvasStream& c : canvases) {
                const LiveStreamStatus& s = c.last;
                std::string line = stateName(s.state) + " " + std::to_string(int(elapsed())) + " s" +
                                   c.label + ": " + std::to_string(s.framesSent) + " frames sent, " +
                                   std::to_string(s.framesDropped) + " dropped, ";
                char rate[32];
                std::snprintf(rate, sizeof rate, "%.2f Mbit/s", s.measuredBitRate / 1e6);
                line += rate;
                // Waiting to try again, a first connection too: why, and when.
                if ((s.state == LiveStreamState::reconnecting || s.state == LiveStreamState::connecting) &&
                    !s.message.empty())
                    line += " (" + s.message + ")";
                if (s.state == LiveStreamState::connecting && s.retryInSeconds > 0)
                    line += " · retry in " + std::to_string(int(std::ceil(s.retryInSeconds))) + " s";
                if (s.state == LiveStreamState::stalled)
                    line += " (the server has taken nothing for " +
                            std::to_string(int(s.secondsWithoutDelivery)) + " s)";
                std::fprintf(stderr, "%s\n", line.c_str());
                if (severalDestinations)
                    for (const auto& d : s.destinations)
                        std::fprintf(stderr, "  %s\n", destinationLine(d).c_str());
            }
            std::fflush(stderr);
        }
    }
    for (CanvasStream& c : canvases) c.feed->stop();
    presenter.reset();
    for (CanvasStream& c : canvases) c.stream->stop();
    ::sigaction(SIGINT, &oldInt, nullptr);
    ::sigaction(SIGTERM, &oldTerm, nullptr);
    if (!failure.empty()) throw CommandError(failure);
    const double streamed = elapsed();
    std::vector<LiveStreamStatus> ended;
    for (const CanvasStream& c : canvases) {
        const LiveStreamStatus s = c.stream->status();
        const auto stats = c.feed->stats();
        std::printf(
            "Streamed %.1f s%s: %lld frames sent (%lld repeated, %lld skipped), %lld dropped, %lld rendered; "
            "%.2f MB delivered\n",
            streamed, c.label.c_str(), (long long)s.framesSent, (long long)s.framesRepeated,
            (long long)s.framesSkipped, (long long)s.framesDropped, (long long)stats.rendered,
            double(s.bytesDelivered) / 1e6);
        ended.push_back(s);
    }
    std::fflush(stdout);
    if (severalDestinations) {
        // Each server as it was when the stream ended, in the order given; success means every
        // one was taking it.
        bool allTaking = true;
        for (std::size_t url = 0; url < destinations.urls.size(); ++url) {
            for (std::size_t k = 0; k < canvases.size(); ++k) {
                const auto& given = canvases[k].destinations;
                const auto at = std::find(given.begin(), given.end(), url);
                const LiveStreamStatus& s = ended[k];
                const std::size_t i = std::size_t(at - given.begin());
                if (at == given.end() || i >= s.destinations.size()) continue;
                const LiveStreamStatus& last = canvases[k].last;
                auto d = i < last.destinations.size() ? last.destinations[i] : s.destinations[i];
                d.bytesDelivered = s.destinations[i].bytesDelivered;
                std::printf("  %s\n", destinationLine(d).c_str());
                allTaking = allTaking && d.state == LiveStreamState::live && d.bytesDelivered > 0;
            }
        }
        std::fflush(stdout);
        if (!allTaking) throw CommandError("not every server was taking the stream as it ended");
        return 0;
    }
    // Success means the server was taking the stream when it ended.
    const LiveStreamStatus& s = ended.front();
    const LiveStreamStatus& last = canvases.front().last;
    if (s.bytesDelivered == 0)
        throw CommandError(last.message.empty() ? "nothing reached the server"
                                                : "nothing reached the server (" + last.message + ")");
    if (last.state != LiveStreamState::live) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "the stream ended while %s: nothing reached the server for its last %.1f s",
                      stateName(last.state).c_str(), last.secondsWithoutDelivery);
        throw CommandError(last.message.empty() ? text : std::string(text) + " (" + last.message + ")");
    }
    return 0;
}

const vantry::app::cli::CommandRegistrar kStream(
    {"stream", "Stream the studio live to an RTMP, RTMPS or SRT server",
     "Usage: vantry-cli stream --url URL [--url URL ...] [options]\n\n"
     "Renders the program feed offscreen (no display needed) and sends it live as H.264 + AAC\n"
     "at 30 frames per second, with a key frame every 2 seconds. A lost connection is retried\n"
     "while the studio keeps running, and so is a server that refuses or does not answer the\n"
     "first connection (one not up yet). A progress line goes to standard error every second;\n"
     "Ctrl-C ends the stream cleanly. The summary says how much the server took; the exit\n"
     "status is 1 when the server was not taking the stream (stalled, or the connection\n"
     "lost) as it ended.\n\n"
     "Up to 4 servers take the same stream at once: give --url once for each. The pictures and\n"
     "sound are encoded once; each server has its own connection, reconnection and line in the\n"
     "progress and the summary, and one that fails or stalls never holds up the others. The exit\n"
     "status is 1 when any server was not taking the stream as it ended (stalled, reconnecting\n"
     "or failed).\n\n"
     "Each server takes the landscape program picture or the vertical one (9:16, --size stood on\n"
     "end, filmed by a camera of its own in the set): --canvas, once for each --url. Each picture\n"
     "in use is drawn and encoded once for all its servers, both carry the same sound and the\n"
     "presenter, and with both the progress and the summary give each its own line.\n\n"
     "Options:\n"
     "  --url URL        rtmp://, rtmps:// or srt:// address of the server (required); again\n"
     "                   for each further server, up to 4\n"
     "  --stream-key KEY stream key (default: $VANTRY_STREAM_KEY, else the key saved in the\n"
     "                   window's GO LIVE section); never printed. The variable or the saved\n"
     "                   key keep it out of the process list. With several --url: once for\n"
     "                   each, in the same order (\"\" for an address that carries its own key,\n"
     "                   as rtmp://host/app/KEY), or not at all: then the first server takes the\n"
     "                   default key and each other the key saved in the window for its\n"
     "                   address, else none\n"
     "  --canvas NAME    landscape or vertical: the picture the --url in the same place takes;\n"
     "                   once for each --url, in the same order, or not at all (all landscape)\n"
     "  --seconds S      stop after S seconds, 0 to 86400 (default 0: until Ctrl-C)\n"
     "  --size WxH       1280x720 (default) or 1920x1080; the vertical picture is this stood on\n"
     "                   end (720x1280 or 1080x1920)\n"
     "  --bitrate BPS    video bit rate in bits per second (default 4500000 at 720p,\n"
     "                   6000000 at 1080p)\n" +
         vantry::app::cli::setAndAngleHelp() + vantry::app::cli::slideOptionsHelp(true) +
         vantry::platform::media::kEncoderOptionHelp +
         "  --camera FILE    presenter from a picture or video file, cut out, at the facecam's\n"
         "                   default place\n" +
         vantry::app::cli::presenterOptionHelp() +
         "  --refine on|off  steady, picture-fitted presenter edges (default on); off shows the\n"
         "                   raw segmentation mask\n" +
         vantry::app::cli::kSoundOptionHelp +
         "                   (--desktop-audio default on)\n"
         "  --help           show this help\n",
     runStream});

}  // namespace
