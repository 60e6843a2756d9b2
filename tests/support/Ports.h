// Loopback ports for tests and benchmarks that run servers and peers on this machine.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

namespace vantry::testing {

// A port on 127.0.0.1 that was free a moment ago (SOCK_STREAM or SOCK_DGRAM).
inline int freePort(int type = SOCK_STREAM) {
    const int fd = ::socket(AF_INET, type, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

// A range of 32 beacon ports of this process's own, below the ephemeral ports, so that test
// processes run side by side never hear each other.
inline std::uint16_t processBasePort() {
    return static_cast<std::uint16_t>(20000 + (::getpid() % 350) * 32);
}

}  // namespace vantry::testing
