// A small settings file of "[section]" headers and "key=value" lines, read whole and written
// whole through SafeOutput, so a settings file is never half-written and never written through
// a link or into a device.
//
// Reads what Qt's INI settings wrote before (subkeys joined with '\', values in double quotes
// when they hold special characters), so settings kept by earlier versions carry over.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace vantry::platform {

// Settings files are small; anything larger is not one of ours.
inline constexpr std::uintmax_t kMaxSettingsFileBytes = 1 << 20;

class IniFile {
  public:
    // A missing or unreadable file is an empty one, and so is anything but a regular file of at
    // most kMaxSettingsFileBytes (a named pipe or a device is never waited on); lines that are
    // neither headers nor key=value pairs are ignored. `problem`, when given, receives why a
    // file that is there could not be read (empty otherwise).
    static IniFile load(const std::filesystem::path& file, std::string* problem = nullptr);
    // The same from a file's text.
    static IniFile parse(std::string_view text);

    // `key` is "section/name" ("name" alone for the top of the file).
    std::optional<std::string> value(const std::string& key) const;
    void setValue(const std::string& key, std::string value);

    // The file's text: sections in name order, then their names in order.
    std::string text() const;
    // Writes the whole file; throws std::filesystem::filesystem_error when it cannot.
    void save(const std::filesystem::path& file, unsigned mode = 0644) const;

  private:
    std::map<std::string, std::map<std::string, std::string>> sections_;
};

}  // namespace vantry::platform
