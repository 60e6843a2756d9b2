// A test stream server: an ffmpeg process that receives one stream on 127.0.0.1 and copies it
// into a file, and a free local port for it.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/LoopbackListener.h"
#include "tests/support/Ports.h"

extern char** environ;

namespace vantry::testing {

class Receiver {
  public:
    // Listens at `url` (TCP with -listen, or a UDP listener address) and writes `out`.
    Receiver(const std::string& url, const std::filesystem::path& out, bool udp, int port) {
        std::vector<std::string> args{"ffmpeg", "-hide_banner", "-loglevel", "error", "-y"};
        if (!udp) args.insert(args.end(), {"-listen", "1"});
        args.insert(args.end(), {"-i", url, "-c", "copy", out.string()});
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        // Its own messages (which name the key it listens for) go to a file beside the output.
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, 2, (out.string() + ".log").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        EXPECT_EQ(::posix_spawnp(&pid_, "ffmpeg", &files, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&files);
        EXPECT_TRUE(waitForListener(port, udp)) << "receiver did not start listening";
    }
    ~Receiver() { kill(SIGKILL); }
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;

    // Waits up to `limit` for the receiver to finish its file; kills it after that.
    void finish(std::chrono::seconds limit = std::chrono::seconds(10)) {
        for (auto until = std::chrono::steady_clock::now() + limit;
             std::chrono::steady_clock::now() < until;) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = 0;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        kill(SIGINT);
    }
    // Freezes the receiver: its connection stays open and nothing more is read.
    void freeze() { ::kill(pid_, SIGSTOP); }
    void kill(int signal) {
        if (pid_ <= 0) return;
        ::kill(pid_, signal);
        ::waitpid(pid_, nullptr, 0);
        pid_ = 0;
    }

  private:
    pid_t pid_ = 0;
};

}  // namespace vantry::testing
