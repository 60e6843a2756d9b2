// "vantry-cli remote": one request to the studio's remote control, or its events as they come.
#include <QCoreApplication>
#include <cstdio>

#include "app/cli/Args.h"
#include "app/cli/Command.h"
#include "app/remote/RemoteClient.h"
#include "app/remote/RemoteLimits.h"
#include "app/remote/RemoteProtocol.h"
#include "app/remote/RemoteSecret.h"

namespace {

using vantry::app::cli::CommandError;
using vantry::app::cli::UsageError;
namespace remote = vantry::remote;

constexpr int kAnswerTimeoutMs = 10000;

void printLine(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

bool answeredOk(const std::string& answer) {
    const auto doc = vantry::json::parse(answer);
    const bool* ok = doc && doc->object() ? vantry::json::boolMember(*doc->object(), "ok") : nullptr;
    return ok && *ok;
}

int runRemote(const std::vector<std::string>& args) {
    vantry::app::cli::Args parsed(args, {"address", "secret-file"}, {"watch"});
    const auto& positional = parsed.positional();
    const bool watch = parsed.flag("watch");
    if (positional.size() > 2) throw UsageError("unexpected argument '" + positional[2] + "'");
    if (positional.empty() && !watch) throw UsageError("name a request (for example 'state')");
    const std::string request = positional.empty() ? "subscribe" : positional[0];
    const std::string params = positional.size() > 1 ? positional[1] : std::string();
    if (!params.empty()) {
        const auto doc = vantry::json::parse(params);
        if (!doc || !doc->object()) throw UsageError("the request's parameters must be one JSON object");
    }

    std::string address = parsed.value("address").value_or(std::string(remote::kDefaultHost) + ":" +
                                                           std::to_string(remote::kDefaultPort));
    std::string why;
    const auto hostPort = remote::parseHostPort(address, &why);
    if (!hostPort) throw UsageError("--address: " + why);
    const std::filesystem::path secretFile =
        parsed.value("secret-file").value_or(remote::defaultSecretFile().string());
    std::string secret;
    try {
        secret = remote::readSecret(secretFile);
    } catch (const remote::SecretError& e) {
        throw CommandError(std::string(e.what()) + " (switch Remote Control on in the studio first)");
    }

    int argc = 1;
    char name[] = "vantry-cli";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    remote::RemoteClient client;
    if (!client.connectTo(QString::fromStdString(hostPort->host), hostPort->port, secret, kAnswerTimeoutMs,
                          &why))
        throw CommandError(why);
    if (watch && request != "subscribe") {
        // The request's answer first, then the events.
        const auto answer = client.call(request, params, kAnswerTimeoutMs, &why);
        if (!answer) throw CommandError(why);
        printLine(*answer);
    }
    const auto answer =
        client.call(watch ? "subscribe" : request, watch ? std::string() : params, kAnswerTimeoutMs, &why);
    if (!answer) throw CommandError(why);
    printLine(*answer);
    if (!watch) return answeredOk(*answer) ? 0 : 1;
    if (!answeredOk(*answer)) return 1;
    while (client.isOpen()) {
        if (auto event = client.nextMessage(1000)) printLine(*event);
    }
    throw CommandError("the studio closed the connection");
}

const vantry::app::cli::CommandRegistrar kRemote(
    {"remote", "Send a request to the studio's remote control, or watch its events",
     "Usage: vantry-cli remote [--address HOST:PORT] [--secret-file FILE] [--watch] <request> [JSON]\n"
     "\n"
     "Sends one request to a running studio whose Remote Control is on and prints the answer as\n"
     "JSON (exit status 1 when the studio refuses it). 'vantry-cli remote state' prints the whole\n"
     "state. JSON is the request's parameters, for example '{\"angle\":2}'.\n"
     "\n"
     "  --address HOST:PORT   where the studio listens (default 127.0.0.1:47653)\n"
     "  --secret-file FILE    the shared secret (default <config home>/vantry-pro/remote-secret)\n"
     "  --watch               then print every event, one JSON line each, until interrupted\n"
     "\n"
     "Requests: state, subscribe, unsubscribe, listShots, recallShot, setSet, setAngle, setGains,\n"
     "setWallImage, nextSlide, previousSlide, setSlidePage, stopScreenShare, setVisionCutout,\n"
     "setPresenterMode, startRecording, stopRecording, exportClip, goLive, endStream (see\n"
     "docs/remote-control.md).",
     runRemote});

}  // namespace
