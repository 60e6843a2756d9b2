#include "platform/files/IniFile.h"

#include <algorithm>

#include <sstream>

#include "platform/files/RegularFile.h"
#include "platform/files/SafeOutput.h"

namespace vantry::platform {
namespace {

std::string trimmed(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

// A value as written: plain, or in double quotes with \" and \\ escaped.
std::string unquoted(const std::string& raw) {
    if (raw.size() < 2 || raw.front() != '"' || raw.back() != '"') return raw;
    std::string out;
    for (std::size_t i = 1; i + 1 < raw.size(); ++i) {
        if (raw[i] == '\\' && i + 2 < raw.size()) ++i;
        out += raw[i];
    }
    return out;
}

// Quotes a value that would not read back as it is.
std::string quotedIfNeeded(const std::string& value) {
    const bool plain = value.find_first_of("\"\\\n\r") == std::string::npos && value == trimmed(value) &&
                       !(value.size() >= 2 && value.front() == '"');
    if (plain) return value;
    std::string out = "\"";
    for (char c : value) {
        if (c == '\n' || c == '\r') continue;  // one line per value
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + '"';
}

std::pair<std::string, std::string> split(const std::string& key) {
    const auto slash = key.find('/');
    if (slash == std::string::npos) return {std::string(), key};
    return {key.substr(0, slash), key.substr(slash + 1)};
}

}  // namespace

IniFile IniFile::load(const std::filesystem::path& file, std::string* problem) {
    const FileContents contents = readRegularFile(file, kMaxSettingsFileBytes);
    if (problem) *problem = contents.ok() || contents.missing ? std::string() : contents.error;
    return parse(contents.bytes);
}

IniFile IniFile::parse(std::string_view text) {
    IniFile ini;
    std::string section;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string line = trimmed(std::string(text.substr(0, end)));
        text.remove_prefix(std::min(end + 1, text.size()));
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line.front() == '[' && line.back() == ']') {
            section = trimmed(line.substr(1, line.size() - 2));
            if (section == "General") section.clear();
            continue;
        }
        const auto eq = line.find('=');
        if (eq == std::string::npos || eq == 0) continue;
        std::string name = trimmed(line.substr(0, eq));
        for (char& c : name)
            if (c == '\\') c = '/';
        ini.sections_[section][name] = unquoted(trimmed(line.substr(eq + 1)));
    }
    return ini;
}

std::optional<std::string> IniFile::value(const std::string& key) const {
    const auto [section, name] = split(key);
    const auto s = sections_.find(section);
    if (s == sections_.end()) return std::nullopt;
    const auto v = s->second.find(name);
    if (v == s->second.end()) return std::nullopt;
    return v->second;
}

void IniFile::setValue(const std::string& key, std::string value) {
    auto [section, name] = split(key);
    sections_[section][name] = std::move(value);
}

std::string IniFile::text() const {
    std::ostringstream out;
    for (const auto& [section, values] : sections_) {
        if (values.empty()) continue;
        if (!section.empty()) out << '[' << section << "]\n";
        for (const auto& [name, value] : values) out << name << '=' << quotedIfNeeded(value) << '\n';
        if (!section.empty()) out << '\n';
    }
    return out.str();
}

void IniFile::save(const std::filesystem::path& file, unsigned mode) const {
    SafeOutput::write(file, text(), mode);
}

}  // namespace vantry::platform
