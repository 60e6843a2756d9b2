// The desktop portal's screen cast (org.freedesktop.portal.ScreenCast) over the session bus:
// a session, the source the user picks in the desktop's own dialog (one screen or window, the
// cursor drawn into the picture), and the PipeWire remote the picture is read from.
//
// The calls wait for the desktop's answers in a local event loop and need a Qt application in
// the process. Called from another thread, they also need the application's main thread to
// keep handling events meanwhile: QtDBus hands the answers over through it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace vantry::platform {

struct PortalStream {
    std::uint32_t nodeId = 0;
    int width = 0;  // 0 when the portal did not say
    int height = 0;
};

struct PortalStart {
    enum class Status { started, cancelled, failed };
    Status status = Status::failed;
    std::string error;  // failed: what went wrong
    // started: the PipeWire remote (the caller owns the descriptor) and the streams on it.
    int pipeWireFd = -1;
    std::vector<PortalStream> streams;
    // started: the token that picks the same source next time without asking (may be empty).
    std::string restoreToken;
};

class PortalScreenCast {
  public:
    PortalScreenCast();
    // Closes the session, which ends its streams.
    ~PortalScreenCast();
    PortalScreenCast(const PortalScreenCast&) = delete;
    PortalScreenCast& operator=(const PortalScreenCast&) = delete;

    // The screen cast interface's version on the session bus; 0 when nothing answers, with
    // `why` (when given) saying why.
    static unsigned version(std::string* why = nullptr, int timeoutMs = 5000);

    // Asks the desktop for a source; `restoreToken` (empty: none) is a token of an earlier
    // start. `dialogTimeoutMs` bounds the wait for the user's choice.
    PortalStart start(const std::string& restoreToken, int dialogTimeoutMs);
    void close();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Where the restore token is kept: <config home>/vantry-pro/screencast.conf.
std::filesystem::path screenCastSettingsFile();
// Empty when the file or the token is missing.
std::string loadScreenCastRestoreToken(const std::filesystem::path& file);
// Throws std::filesystem::filesystem_error when the file cannot be written.
void saveScreenCastRestoreToken(const std::filesystem::path& file, const std::string& token);

}  // namespace vantry::platform
