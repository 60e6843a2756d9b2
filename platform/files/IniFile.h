// A small settings file of "[section]" headers and "key=value" lines, read whole and written
// whole through SafeOutput, so a settings file is never half-written and never written through
// a link or into a device.
//
// Reads what Qt's INI settings wrote before (subkeys joined with '\', values in double quotes
// when they hold special characters), so settings kept by earlier versions carry over.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace vantry::platform {

class IniFile {
  public:
    // A missing or unreadable file is an empty one; lines that are neither headers nor
    // key=value pairs are ignored.
    static IniFile load(const std::filesystem::path& file);

    // `key` is "section/name" ("name" alone for the top of the file).
    std::optional<std::string> value(const std::string& key) const;
    void setValue(const std::string& key, std::string value);

    // Writes the whole file; throws std::filesystem::filesystem_error when it cannot.
    void save(const std::filesystem::path& file) const;

  private:
    std::map<std::string, std::map<std::string, std::string>> sections_;
};

}  // namespace vantry::platform
