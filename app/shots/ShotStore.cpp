#include "app/shots/ShotStore.h"

#include <chrono>
#include <ctime>
#include <fstream>
#include <iterator>
#include <system_error>

#include "app/shots/ShotCodec.h"
#include "platform/files/SafeOutput.h"
#include "platform/files/UserFolders.h"

namespace vantry::app::shots {
namespace fs = std::filesystem;
namespace {

// "20261209T001530Z"
std::string utcStamp() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &parts);
    return text;
}

// A name beside the file that is not taken yet.
fs::path asideName(const fs::path& file) {
    const std::string base = file.string() + ".damaged-" + utcStamp();
    fs::path candidate = base;
    std::error_code ignored;
    for (int n = 2; fs::symlink_status(candidate, ignored).type() != fs::file_type::not_found; ++n) {
        candidate = base + "-" + std::to_string(n);
    }
    return candidate;
}

}  // namespace

fs::path defaultShotsFile() {
    return platform::UserFolders::configHome() / "vantry-pro" / "shots.json";
}

LoadedShots loadShots(const fs::path& file) {
    LoadedShots loaded;
    std::error_code error;
    const fs::file_status status = fs::status(file, error);
    if (status.type() == fs::file_type::not_found) return loaded;
    if (error || status.type() != fs::file_type::regular) {
        loaded.damage = "it is not a file that can be read";
        loaded.blocked = true;
        return loaded;
    }
    const std::uintmax_t size = fs::file_size(file, error);
    std::string text;
    if (!error && size <= kMaxFileBytes) {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            loaded.damage = "it cannot be read";
            loaded.blocked = true;
            return loaded;
        }
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad()) {
            loaded.damage = "it cannot be read";
            loaded.blocked = true;
            return loaded;
        }
        std::string why;
        if (auto shots = decodeShots(text, &why)) {
            loaded.shots = std::move(*shots);
            return loaded;
        }
        loaded.damage = why;
    } else {
        loaded.damage = "it is larger than a shots file can be";
    }
    const fs::path aside = asideName(file);
    fs::rename(file, aside, error);
    if (error) {
        loaded.damage += "; it could not be moved aside (" + error.message() + ")";
        loaded.blocked = true;
        return loaded;
    }
    loaded.keptAside = aside;
    return loaded;
}

void saveShots(const fs::path& file, const std::vector<Shot>& shots) {
    platform::SafeOutput::write(file, encodeShots(shots));
}

}  // namespace vantry::app::shots
