#include "app/studio-app/LaunchOptions.h"

#include <optional>
#include <string_view>

#include "app/remote/RemoteLimits.h"

namespace vantry::app {
namespace {

// "--remote-address" or "--controller-address" when `arg` is one of them, alone or with "=VALUE".
std::optional<std::string_view> addressFlag(std::string_view arg) {
    for (std::string_view flag :
         {std::string_view("--remote-address"), std::string_view("--controller-address")}) {
        if (arg == flag || (arg.starts_with(flag) && arg.size() > flag.size() && arg[flag.size()] == '='))
            return flag;
    }
    return std::nullopt;
}

}  // namespace

LaunchOptions parseLaunchOptions(const std::vector<std::string>& args) {
    LaunchOptions options;
    const auto fail = [&options](std::string message) {
        options.error = "vantry: " + std::move(message) + " (see vantry --help)";
        return options;
    };
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (!optionsEnded && arg.size() > 1 && arg.front() == '-') {
            if (arg == "--") {
                optionsEnded = true;
            } else if (arg == "--help" || arg == "-h") {
                options.help = true;
            } else if (arg == "--version") {
                options.version = true;
            } else if (arg == "--camera" || arg.starts_with("--camera=")) {
                std::string file;
                if (arg == "--camera") {
                    if (i + 1 < args.size()) file = args[++i];
                } else {
                    file = std::string(arg.substr(9));
                }
                if (file.empty()) return fail("--camera needs a picture or video file");
                options.cameraFile = file;
            } else if (arg == "--remote") {
                options.remote = true;
            } else if (const auto flag = addressFlag(arg)) {
                std::string text;
                if (arg == *flag) {
                    if (i + 1 < args.size()) text = args[++i];
                } else {
                    text = std::string(arg.substr(flag->size() + 1));
                }
                std::string why;
                const auto address = remote::parseHostPort(text, &why);
                if (!address) return fail(std::string(*flag) + ": " + why);
                options.remote = true;
                const bool controller = *flag == "--controller-address";
                (controller ? options.controllerHost : options.remoteHost) = address->host;
                (controller ? options.controllerPort : options.remotePort) = address->port;
            } else {
                return fail("unknown option '" + std::string(arg) + "'");
            }
            continue;
        }
        if (options.picture)
            return fail("only one picture goes on the LED wall, '" + std::string(arg) + "' is one too many");
        options.picture = std::string(arg);
    }
    return options;
}

std::string launchUsage() {
    return "Usage: vantry [--camera FILE] [--remote] [--remote-address HOST:PORT]\n"
           "              [--controller-address HOST:PORT] [WALL-FILE]\n"
           "The Vantry Pro studio window.\n"
           "\n"
           "  WALL-FILE      shown on the studio's LED wall: a picture, a PDF slide deck (from its\n"
           "                 first page) or a video (mp4, mov, mkv, webm; played looped)\n"
           "  --camera FILE  the facecam plays this picture or video instead of the camera\n"
           "  --remote       switch the remote control on (listens on 127.0.0.1:47653)\n"
           "  --remote-address HOST:PORT\n"
           "                 switch it on, listening there instead\n"
           "  --controller-address HOST:PORT\n"
           "                 switch it on, with its obs-websocket endpoint there\n"
           "                 instead of 127.0.0.1:4455\n"
           "  --help         show this text and exit\n"
           "  --version      show the version and exit\n";
}

}  // namespace vantry::app
