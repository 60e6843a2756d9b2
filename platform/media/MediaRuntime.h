// FFmpeg's process-wide state, set up once for every user in the process: the log level (errors
// only), the log callback that blanks registered secrets, the network and the capture devices.
// Also the one way to turn an FFmpeg error code into text.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace vantry::platform::media {

// A failure of FFmpeg set-up or I/O, with a readable message ("cannot open the H.264 encoder:
// Invalid argument"). `code` is FFmpeg's (negative), 0 when the failure has none.
class MediaError : public std::runtime_error {
  public:
    explicit MediaError(const std::string& message, int code = 0)
        : std::runtime_error(message), code_(code) {}
    int code() const { return code_; }

  private:
    int code_;
};

// Sets up FFmpeg once per process; every entry point of this library calls it, and so may anyone.
void initMedia();

// FFmpeg's text for an error code ("Connection refused").
std::string errorText(int code);

// `what` + ": " + errorText(code), thrown as MediaError.
[[noreturn]] void fail(const std::string& what, int code = 0);

// `text` with each secret replaced by "****" wherever it stands on its own (not inside a
// longer word: a short secret such as "x" leaves "0x7f" alone), longest secrets first so that
// one holding another is blanked whole.
std::string blankSecrets(std::string text, std::vector<std::string> secrets);

// Secrets blanked in every line FFmpeg logs while this object lives (a secret listed by two
// registrations stays listed until both have gone).
class LogSecrets {
  public:
    explicit LogSecrets(std::vector<std::string> secrets);
    ~LogSecrets();
    LogSecrets(const LogSecrets&) = delete;
    LogSecrets& operator=(const LogSecrets&) = delete;

    // The secrets registered in the whole process right now.
    static std::vector<std::string> registered();

  private:
    std::vector<std::string> secrets_;
};

}  // namespace vantry::platform::media
