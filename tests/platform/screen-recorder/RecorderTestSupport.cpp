#include "tests/platform/screen-recorder/RecorderTestSupport.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <thread>

extern char** environ;

namespace vantry::testing {
namespace fs = std::filesystem;

pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e) envStrings.emplace_back(*e);
    for (const auto& e : env) envStrings.push_back(e);
    std::vector<char*> args, envp;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const auto& e : envStrings) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), envp.data()) != 0) return -1;
    return pid;
}

void stopChild(pid_t pid, int signal) {
    if (pid <= 0) return;
    ::kill(pid, signal);
    int status = 0;
    ::waitpid(pid, &status, 0);
}

std::unique_ptr<PrivatePulseServer> PrivatePulseServer::start(std::string& why) {
    char pattern[] = "/tmp/vantry-pulse-XXXXXX";
    if (!::mkdtemp(pattern)) {
        why = "cannot make a folder for the sound server";
        return nullptr;
    }
    auto server = std::unique_ptr<PrivatePulseServer>(new PrivatePulseServer);
    server->dir_ = pattern;
    const std::string socket = (server->dir_ / "native").string();
    const std::string d = server->dir_.string();
    server->pid_ =
        spawn({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
               "--log-target=file:" + d + "/log", "--load=module-null-sink sink_name=vantry_test rate=48000",
               "--load=module-native-protocol-unix auth-anonymous=1 socket=" + socket},
              {"HOME=" + d, "XDG_RUNTIME_DIR=" + d, "PULSE_RUNTIME_PATH=" + d + "/runtime",
               "PULSE_STATE_PATH=" + d + "/state"});
    if (server->pid_ <= 0) {
        why = "pulseaudio is not installed";
        return nullptr;
    }
    for (int i = 0; i < 100; ++i) {
        if (fs::exists(socket)) {
            server->address_ = "unix:" + socket;
            return server;
        }
        int status = 0;
        if (::waitpid(server->pid_, &status, WNOHANG) == server->pid_) {
            server->pid_ = -1;
            why = "pulseaudio exited at once (see " + d + "/log)";
            return nullptr;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    why = "pulseaudio did not open its socket within 10 s";
    return nullptr;
}

PrivatePulseServer::~PrivatePulseServer() {
    stopChild(pid_, SIGTERM);
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
}

void writeToneWav(const fs::path& path, double frequency, double seconds, int sampleRate) {
    const auto frames = static_cast<std::uint32_t>(seconds * sampleRate);
    std::ofstream out(path, std::ios::binary);
    auto u32 = [&](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    out.write("RIFF", 4);
    u32(36 + frames * 4);
    out.write("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(2);
    u32(std::uint32_t(sampleRate));
    u32(std::uint32_t(sampleRate) * 4);
    u16(4);
    u16(16);
    out.write("data", 4);
    u32(frames * 4);
    for (std::uint32_t i = 0; i < frames; ++i) {
        const auto v =
            static_cast<std::int16_t>(std::lround(12000 * std::sin(2 * M_PI * frequency * i / sampleRate)));
        u16(std::uint16_t(v));
        u16(std::uint16_t(v));
    }
}

std::vector<float> decodeSoundTrack(const fs::path& path, int& sampleRate) {
    std::vector<float> samples;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) return samples;
    avformat_find_stream_info(format, nullptr);
    const AVCodec* codec = nullptr;
    const int index = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (index < 0 || !codec) {
        avformat_close_input(&format);
        return samples;
    }
    AVCodecContext* decoder = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(decoder, format->streams[index]->codecpar);
    avcodec_open2(decoder, codec, nullptr);
    sampleRate = decoder->sample_rate;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto drain = [&] {
        while (avcodec_receive_frame(decoder, frame) == 0) {
            // The AAC decoder gives planar float; the first channel is enough.
            if (frame->format == AV_SAMPLE_FMT_FLTP) {
                const float* left = reinterpret_cast<const float*>(frame->data[0]);
                samples.insert(samples.end(), left, left + frame->nb_samples);
            }
        }
    };
    while (av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == index && avcodec_send_packet(decoder, packet) >= 0) drain();
        av_packet_unref(packet);
    }
    avcodec_send_packet(decoder, nullptr);
    drain();
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    avformat_close_input(&format);
    return samples;
}

double dominantFrequency(const std::vector<float>& samples, int sampleRate, float threshold) {
    std::size_t first = 0, last = 0;
    bool found = false;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (std::fabs(samples[i]) > threshold) {
            if (!found) first = i;
            last = i;
            found = true;
        }
    }
    if (!found || sampleRate <= 0) return 0;
    // A tone that starts or stops inside the recording (capture that began late, the stream's
    // end) is cut abruptly there, and the encoder spreads that cut over a frame or two of
    // other frequencies: the two AAC frames at each end of the sound are left out of the count.
    constexpr std::size_t kEdge = 2048;
    if (last - first > 4 * kEdge) {
        first += kEdge;
        last -= kEdge;
    }
    std::int64_t crossings = 0;
    std::size_t firstCross = 0, lastCross = 0;
    for (std::size_t i = first + 1; i <= last; ++i) {
        if (samples[i - 1] < 0 && samples[i] >= 0) {
            if (crossings == 0) firstCross = i;
            lastCross = i;
            ++crossings;
        }
    }
    if (crossings < 2) return 0;
    return double(crossings - 1) * sampleRate / double(lastCross - firstCross);
}

}  // namespace vantry::testing
