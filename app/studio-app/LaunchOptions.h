// The studio window's command line: vantry [--camera FILE] [--remote] [--remote-address HOST:PORT]
// [--controller-address HOST:PORT] [WALL-FILE], --help, --version.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vantry::app {

struct LaunchOptions {
    std::optional<std::string> cameraFile;  // --camera FILE or --camera=FILE
    std::optional<std::string> picture;  // the one positional argument: a picture, deck or video for the wall
    bool remote = false;                 // --remote: the remote control starts switched on
    std::string remoteHost;              // --remote-address HOST:PORT (implies --remote);
    std::uint16_t remotePort = 0;        // empty and 0: the default address
    std::string controllerHost;          // --controller-address HOST:PORT, the obs-websocket
    std::uint16_t controllerPort = 0;    // endpoint (implies --remote); empty and 0: the default
    bool help = false;
    bool version = false;
    // Why the command line cannot be used ("vantry: ..."); empty when it can.
    std::string error;
};

// `args` are the arguments after the program name. "--" ends the options, so a picture whose
// name starts with "-" can still be given. The first problem found ends the parse.
LaunchOptions parseLaunchOptions(const std::vector<std::string>& args);

// The text --help prints.
std::string launchUsage();

}  // namespace vantry::app
