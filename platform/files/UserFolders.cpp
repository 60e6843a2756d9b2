#include "platform/files/UserFolders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/files/RegularFile.h"

namespace vantry::platform {
namespace fs = std::filesystem;
namespace {

std::optional<fs::path> absoluteEnv(const char* name) {
    const char* value = std::getenv(name);
    if (!value || value[0] != '/') return std::nullopt;
    return fs::path(value);
}

// One value of user-dirs.dirs: `"$HOME/Videos"` or `"/abs/path"`, quotes required.
std::optional<fs::path> parseUserDir(std::string_view value) {
    if (value.size() < 2 || value.front() != '"' || value.back() != '"') return std::nullopt;
    value = value.substr(1, value.size() - 2);
    std::string out;
    if (value.starts_with("$HOME")) {
        const std::string_view rest = value.substr(5);
        if (!rest.empty() && rest.front() != '/') return std::nullopt;
        out = UserFolders::home().string();
        value = rest;
    } else if (!value.starts_with('/')) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) ++i;
        out += value[i];
    }
    return fs::path(out);
}

std::optional<fs::path> userDirFromFile(std::string_view key) {
    const FileContents contents = readRegularFile(UserFolders::configHome() / "user-dirs.dirs", 1 << 16);
    std::istringstream in(contents.bytes);
    std::optional<fs::path> found;
    std::string line;
    while (std::getline(in, line)) {
        const auto start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#') continue;
        std::string_view view(line);
        view.remove_prefix(start);
        if (!view.starts_with(key) || view.substr(key.size()).find('=') != 0) continue;
        view.remove_prefix(key.size() + 1);
        while (!view.empty() && (view.back() == ' ' || view.back() == '\t' || view.back() == '\r'))
            view.remove_suffix(1);
        if (auto path = parseUserDir(view)) found = std::move(path);  // the last line wins
    }
    return found;
}

}  // namespace

fs::path UserFolders::home() {
    if (auto path = absoluteEnv("HOME")) return *path;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir && entry->pw_dir[0] == '/')
        return fs::path(entry->pw_dir);
    std::error_code ec;
    fs::path temp = fs::temp_directory_path(ec);
    return ec ? fs::path("/tmp") : temp;
}

fs::path UserFolders::dataHome() {
    if (auto path = absoluteEnv("XDG_DATA_HOME")) return *path;
    return home() / ".local" / "share";
}

fs::path UserFolders::configHome() {
    if (auto path = absoluteEnv("XDG_CONFIG_HOME")) return *path;
    return home() / ".config";
}

fs::path UserFolders::videos() {
    if (auto path = userDirFromFile("XDG_VIDEOS_DIR")) return *path;
    if (auto path = absoluteEnv("XDG_VIDEOS_DIR")) return *path;
    return home() / "Videos";
}

}  // namespace vantry::platform
