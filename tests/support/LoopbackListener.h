// Waiting for a test receiver (an ffmpeg process started with -listen) to open its port.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace vantry::testing {

// True once something listens on the local port, read from /proc without connecting (the
// receivers take one connection only); gives up after about 10 s. An established connection
// on the port counts too: a sender that retries may have connected the moment it could.
inline bool waitForListener(int port, bool udp = false) {
    char local[32];
    std::snprintf(local, sizeof local, ":%04X ", port);
    for (int i = 0; i < 200; ++i) {
        std::ifstream table(udp ? "/proc/net/udp" : "/proc/net/tcp");
        for (std::string line; std::getline(table, line);) {
            std::istringstream fields(line);
            std::string slot, address, remote, state;
            fields >> slot >> address >> remote >> state;
            if ((address + " ").find(local) != std::string::npos && (udp || state == "0A" || state == "01"))
                return true;
        }
        ::usleep(50'000);
    }
    return false;
}

}  // namespace vantry::testing
