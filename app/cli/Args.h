// A small option parser for vantry-cli commands: "--name value" pairs and bare flags.
#pragma once

#include <filesystem>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace vantry::app::cli {

// A bad command line; main prints "vantry-cli <command>: <message>; see 'vantry-cli <command> --help'"
// and exits 2.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A failure while running; main prints "vantry-cli <command>: <message>" and exits 1.
class CommandError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class Args {
  public:
    // valueOptions take one value ("--out FILE"); flags take none ("--mirror").
    // Unknown options, missing values and repeated options are usage errors, and so is a file
    // name (--out) with a control character in it. Numbers are decimal ("0x10" is refused).
    Args(const std::vector<std::string>& args, std::set<std::string> valueOptions,
         std::set<std::string> flags = {});

    bool helpRequested() const { return help_; }
    bool has(const std::string& name) const;
    bool flag(const std::string& name) const { return has(name); }
    std::optional<std::string> value(const std::string& name) const;
    std::string required(const std::string& name) const;
    const std::vector<std::string>& positional() const { return positional_; }

    // Typed readers: a malformed value is a usage error naming the option.
    double number(const std::string& name, double fallback) const;
    int integer(const std::string& name, int fallback) const;
    // The same within a range (inclusive, or above `min` when minExclusive); a value outside is a
    // usage error that states the range: "option --seconds expects a number from 0 to 3600, got '-1'".
    // The fallback is returned as it is.
    double number(const std::string& name, double fallback, double min, double max,
                  bool minExclusive = false) const;
    int integer(const std::string& name, int fallback, int min, int max) const;
    // A length of time that holds at least one frame at `framesPerSecond`, at most `max`: a value
    // outside is a usage error that states the range ("from 0.034 (one frame at 30 frames per
    // second) to 3600").
    double seconds(const std::string& name, double fallback, int framesPerSecond, double max) const;
    // "WxH", both from 1 to kMaxSide; anything else is a usage error that states the range.
    static constexpr int kMaxSide = 16384;
    std::pair<int, int> size(const std::string& name, std::pair<int, int> fallback) const;
    // "on" or "off".
    std::optional<bool> onOff(const std::string& name) const;

  private:
    std::vector<std::pair<std::string, std::string>> values_;
    std::set<std::string> flags_;
    std::vector<std::string> positional_;
    bool help_ = false;
};

// Creates `folder` (and its parents); CommandError "cannot create folder '<path>': <reason>"
// when it cannot be made. Every command that writes a file uses these for its folder.
void createFolder(const std::filesystem::path& folder);
// Creates the folder `file` goes into; nothing for a bare file name.
void createParentFolder(const std::filesystem::path& file);

}  // namespace vantry::app::cli
