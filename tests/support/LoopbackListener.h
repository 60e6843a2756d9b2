// Waiting for a test receiver (an ffmpeg process started with -listen) to open its port, and a
// server on 127.0.0.1 that takes connections and never answers.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

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

// A TCP server on 127.0.0.1 that accepts every connection and never sends a byte (nor reads
// one): a server that leaves the handshake unanswered. Its connections stay open until it goes.
class SilentListener {
  public:
    SilentListener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(fd_, 8) == 0 &&
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] {
            while (true) {
                const int connection = ::accept(fd_, nullptr, nullptr);
                if (connection < 0) return;  // shut down
                std::lock_guard lock(mutex_);
                held_.push_back(connection);
            }
        });
    }
    ~SilentListener() {
        ::shutdown(fd_, SHUT_RDWR);  // ends the accept
        thread_.join();
        ::close(fd_);
        for (const int connection : held_) ::close(connection);
    }
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;

    int port() const { return port_; }  // 0 when it could not listen
    // Connections taken so far.
    int accepted() {
        std::lock_guard lock(mutex_);
        return int(held_.size());
    }

  private:
    int fd_ = -1;
    int port_ = 0;
    std::mutex mutex_;
    std::vector<int> held_;  // under mutex_
    std::thread thread_;
};

}  // namespace vantry::testing
