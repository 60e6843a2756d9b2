// The one way an output file is written: into a temporary file beside the target, flushed to
// disk, then renamed over the target, so the target is always the old file or the whole new one.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vantry::platform {

// Why a new file must not be put at `target`: "it is a folder", "it is a device", "it is a
// named pipe", "it is a socket" (or why it cannot be inspected). Nothing when the target is
// absent, a regular file or a symbolic link (a link is replaced, never followed).
std::optional<std::string> whyNotReplaceable(const std::filesystem::path& target);

// Thrown when the target exists as something a file must not replace.
class OutputRefused : public std::filesystem::filesystem_error {
  public:
    OutputRefused(const std::filesystem::path& target, std::string reason, std::error_code code);
    // For example "it is a named pipe".
    const std::string& reason() const { return reason_; }

  private:
    std::string reason_;
};

// A short readable cause of a failed output: the refusal's reason, or the system error.
std::string describeOutputError(const std::filesystem::filesystem_error& error);

// Throws OutputRefused when whyNotReplaceable(target) has a reason.
void checkReplaceable(const std::filesystem::path& target);

// Failures are std::filesystem::filesystem_error naming the target and the system error.
class SafeOutput {
  public:
    // Checks the target, creates its folder and a fresh empty temporary file beside it.
    // Refuses a path without a file name and a target that exists as anything but a regular
    // file or a symbolic link (a folder, a device or a pipe is never replaced). The temporary
    // file is created with the permission bits `mode` (less the umask), so a private file
    // (0600) is never readable by others, not even for a moment.
    explicit SafeOutput(std::filesystem::path target, unsigned mode = 0644);
    // Removes the temporary file unless commit() succeeded.
    ~SafeOutput();
    SafeOutput(const SafeOutput&) = delete;
    SafeOutput& operator=(const SafeOutput&) = delete;

    const std::filesystem::path& target() const { return target_; }
    // Where the producer writes; a hidden name in the target's folder.
    const std::filesystem::path& temporaryPath() const { return temporary_; }

    // Flushes the temporary file to disk and renames it over the target (a link at the target
    // is replaced, not followed). On failure the temporary file is removed and the error thrown.
    void commit();
    // Removes the temporary file now; commit() is then no longer possible.
    void discard() noexcept;

    // The whole new content of target, written the safe way.
    static void write(const std::filesystem::path& target, std::string_view bytes, unsigned mode = 0644);

  private:
    std::filesystem::path target_;
    std::filesystem::path temporary_;
    bool open_ = false;
};

}  // namespace vantry::platform
