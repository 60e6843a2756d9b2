#include "platform/media/MediaRuntime.h"

extern "C" {
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
}

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace vantry::platform::media {
namespace {

std::mutex gLogMutex;
std::vector<std::string> gSecrets;  // under gLogMutex
int gPrintPrefix = 1;               // under gLogMutex

// FFmpeg prints addresses in some of its messages: every line it logs comes through here.
void blankingLog(void* avcl, int level, const char* fmt, va_list args) {
    if (level > av_log_get_level()) return;
    char line[4096];
    std::lock_guard lock(gLogMutex);
    av_log_format_line2(avcl, level, fmt, args, line, sizeof line, &gPrintPrefix);
    std::fputs(blankSecrets(line, gSecrets).c_str(), stderr);
}

}  // namespace

void initMedia() {
    static std::once_flag once;
    std::call_once(once, [] {
        av_log_set_callback(blankingLog);
        // Encoder statistics and warnings would flood standard error; this system reports
        // through its own errors, so FFmpeg speaks up for errors alone.
        if (av_log_get_level() > AV_LOG_ERROR) av_log_set_level(AV_LOG_ERROR);
        avdevice_register_all();
        avformat_network_init();
    });
}

std::string errorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

void fail(const std::string& what, int code) {
    throw MediaError(code < 0 ? what + ": " + errorText(code) : what, code);
}

namespace {

// Characters a secret's neighbours may not be for it to stand on its own: a secret found
// inside a longer word ("x" in "0x7f", "y" in "tcp_nodelay") is some other text.
bool wordCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-';
}

}  // namespace

std::string blankSecrets(std::string text, std::vector<std::string> secrets) {
    std::sort(secrets.begin(), secrets.end(),
              [](const auto& a, const auto& b) { return a.size() > b.size(); });
    for (const std::string& secret : secrets) {
        if (secret.empty()) continue;
        for (std::size_t at = text.find(secret); at != std::string::npos;) {
            const std::size_t end = at + secret.size();
            const bool alone = (at == 0 || !wordCharacter(text[at - 1])) &&
                               (end == text.size() || !wordCharacter(text[end]));
            if (!alone) {
                at = text.find(secret, at + 1);
                continue;
            }
            text.replace(at, secret.size(), "****");
            at = text.find(secret, at + 4);
        }
    }
    return text;
}

LogSecrets::LogSecrets(std::vector<std::string> secrets) : secrets_(std::move(secrets)) {
    initMedia();
    std::lock_guard lock(gLogMutex);
    gSecrets.insert(gSecrets.end(), secrets_.begin(), secrets_.end());
}

LogSecrets::~LogSecrets() {
    std::lock_guard lock(gLogMutex);
    for (const auto& secret : secrets_) gSecrets.erase(std::find(gSecrets.begin(), gSecrets.end(), secret));
}

std::vector<std::string> LogSecrets::registered() {
    std::lock_guard lock(gLogMutex);
    return gSecrets;
}

}  // namespace vantry::platform::media
