// Helpers for the screen recorder tests: a private sound server, a test tone, child processes
// and reading an MP4's sound track back.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace vantry::testing {

// A PulseAudio server of this test alone, with one null sink (so its monitor is the default
// "game audio" source), reachable at address(). Stopped on destruction.
class PrivatePulseServer {
  public:
    // Empty, with `why` set, when no server can be started here.
    static std::unique_ptr<PrivatePulseServer> start(std::string& why);
    ~PrivatePulseServer();
    const std::string& address() const { return address_; }

  private:
    pid_t pid_ = -1;
    std::filesystem::path dir_;
    std::string address_;
};

// Starts argv[0] (looked up on PATH) with extra environment entries; -1 on failure.
pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});
// Sends `signal` and reaps the child.
void stopChild(pid_t pid, int signal);

// A 16-bit stereo WAV file of a sine tone.
void writeToneWav(const std::filesystem::path& path, double frequency, double seconds, int sampleRate);

// The first sound track of a media file decoded to mono float samples; empty without one.
std::vector<float> decodeSoundTrack(const std::filesystem::path& path, int& sampleRate);

// Frequency by rising zero crossings over the part of `samples` louder than `threshold`, less
// its first and last 2048 samples (an encoder smears a tone cut off there).
double dominantFrequency(const std::vector<float>& samples, int sampleRate, float threshold = 0.05f);

}  // namespace vantry::testing
