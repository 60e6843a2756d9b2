// "vantry-cli coop": a headless co-op peer. Joins a room, walks a slow circle around the spawn point,
// prints the published session state as one JSON line per change, and leaves after N seconds.
#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>

#include "app/cli/Args.h"
#include "app/cli/Command.h"
#include "common/JsonText.h"
#include "creator/coop-voice/OruLiveMultipeerCoopManagerV1170.h"
#include "platform/p2p/PeerNode.h"

namespace {

using Manager = vantry::creator::OruLiveMultipeerCoopManagerV1170;

std::atomic<bool> gLeave{false};

void requestLeave(int) {
    gLeave = true;
}

std::string stateJSON(const Manager& m) {
    using vantry::json::appendQuoted;
    std::string out = "{\"isSessionActive\":";
    out += m.isSessionActive() ? "true" : "false";
    out += ",\"isVoiceMicEnabled\":";
    out += m.isVoiceMicEnabled() ? "true" : "false";
    out += ",\"roomCode\":";
    appendQuoted(out, m.roomCode());
    out += ",\"connectedPeerNames\":[";
    for (std::size_t i = 0; i < m.connectedPeerNames().size(); ++i) {
        if (i) out += ",";
        appendQuoted(out, m.connectedPeerNames()[i]);
    }
    out += "],\"remoteAvatars\":[";
    bool first = true;
    for (const auto& avatar : m.remoteAvatars()) {
        try {
            const std::string json = avatar.toJSON();
            if (!first) out += ",";
            out += json;
            first = false;
        } catch (const vantry::creator::AvatarEncodingError&) {
            // An avatar JSON cannot hold is left out of the line.
        }
    }
    out += "],\"gameCenterPlayerName\":";
    if (m.gameCenterPlayerName())
        appendQuoted(out, *m.gameCenterPlayerName());
    else
        out += "null";
    out += ",\"statusText\":";
    appendQuoted(out, m.statusText());
    out += "}";
    return out;
}

int runCoop(const std::vector<std::string>& args) {
    vantry::app::cli::Args parsed(args, {"room", "name", "seconds"}, {"mic", "bots", "loopback"});
    if (!parsed.positional().empty())
        throw vantry::app::cli::UsageError("unexpected argument '" + parsed.positional()[0] + "'");
    const std::string room = parsed.required("room");
    if (room.empty() || room.size() > 16)
        throw vantry::app::cli::UsageError("option --room expects 1 to 16 characters");
    const double seconds = parsed.number("seconds", 30.0, 0, 86400, true);

    std::unique_ptr<QCoreApplication> app;
    if (!QCoreApplication::instance()) {
        static int argc = 1;
        static char name[] = "vantry-cli";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<QCoreApplication>(argc, argv);
    }

    vantry::creator::CoopManagerOptions options;
    options.displayName = parsed.value("name").value_or("");
    options.loopback = parsed.flag("loopback");
    options.loopbackBasePort =
        vantry::platform::p2p::loopbackBasePortFromEnvironment(options.loopbackBasePort);
    Manager manager(options);

    std::string lastLine;
    bool printQueued = false;
    auto print = [&] {
        printQueued = false;
        std::string line = stateJSON(manager);
        if (line == lastLine) return;
        std::fprintf(stdout, "%s\n", line.c_str());
        std::fflush(stdout);
        lastLine = std::move(line);
    };
    // Several properties often change together: one line per turn of the event loop.
    auto queuePrint = [&] {
        if (printQueued) return;
        printQueued = true;
        QTimer::singleShot(0, &manager, print);
    };
    for (auto signal :
         {&Manager::isSessionActiveChanged, &Manager::isVoiceMicEnabledChanged, &Manager::roomCodeChanged,
          &Manager::connectedPeerNamesChanged, &Manager::remoteAvatarsChanged,
          &Manager::gameCenterPlayerNameChanged, &Manager::statusTextChanged})
        QObject::connect(&manager, signal, &manager, queuePrint);

    print();
    manager.startCoopLobby(room);
    if (const auto& error = manager.discoveryError()) {
        // Nobody could find this peer: show the state once and fail rather than wait for no one.
        print();
        std::fprintf(stderr, "vantry-cli coop: cannot start discovery for room %s: %s\n",
                     manager.roomCode().c_str(), error->c_str());
        return 1;
    }
    if (parsed.flag("bots")) manager.toggleSoloConvoyBotPreview();
    if (parsed.flag("mic")) manager.setVoiceMicEnabled(true);

    gLeave = false;
    std::signal(SIGINT, requestLeave);
    std::signal(SIGTERM, requestLeave);
    const auto start = std::chrono::steady_clock::now();
    QTimer walk;
    QObject::connect(&walk, &QTimer::timeout, &manager, [&] {
        const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (gLeave || t >= seconds) {
            walk.stop();
            manager.stopCoopLobby();
            print();
            QCoreApplication::quit();
            return;
        }
        // A 3 m circle around the spawn point, once every 12 seconds, facing along the path.
        const double angle = t * 2 * M_PI / 12.0;
        const vantry::Float3 pos{static_cast<float>(3 * std::cos(angle)), 1.7f,
                                 static_cast<float>(-14 + 3 * std::sin(angle))};
        manager.broadcastLocalState(pos, static_cast<float>(-angle), false, false, -1);
    });
    walk.start(10);
    QCoreApplication::exec();
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    return 0;
}

const vantry::app::cli::CommandRegistrar kCoop(
    {"coop", "Run a headless co-op peer and print its session state",
     "Usage: vantry-cli coop --room CODE [--name NAME] [--seconds N] [--mic] [--bots] [--loopback]\n\n"
     "Joins room CODE (upper-cased) as NAME (default: the host name, first 20 characters), walks a\n"
     "slow circle around the spawn point and broadcasts it at up to 20 Hz, and prints one JSON line\n"
     "per change of the session state (keys: isSessionActive, isVoiceMicEnabled, roomCode,\n"
     "connectedPeerNames, remoteAvatars, gameCenterPlayerName, statusText). Leaves after N seconds\n"
     "(default 30) or on Ctrl-C. Exits 1, saying why on standard error, when discovery cannot start\n"
     "(for instance when every beacon port is taken).\n"
     "  --mic       talk through the default microphone when there is one\n"
     "  --bots      add the two simulated convoy bots\n"
     "  --loopback  discover and talk on 127.0.0.1 only (beacon ports from VANTRY_COOP_LOOPBACK_PORT,\n"
     "              default 29810, sixteen of them)",
     runCoop});

}  // namespace
