#include "tests/creator/ugc/TempHome.h"

#include <stdlib.h>

#include <atomic>
#include <stdexcept>
#include <string>

namespace vantry::testing {
namespace {

struct TempHomeGuard {
    std::filesystem::path path;

    TempHomeGuard() {
        std::string pattern = (std::filesystem::temp_directory_path() / "vantry-ugc-test-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary home");
        path = pattern;
        std::filesystem::create_directories(path / "share");
        ::setenv("HOME", path.c_str(), 1);
        ::setenv("XDG_DATA_HOME", (path / "share").c_str(), 1);
    }
    ~TempHomeGuard() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

TempHomeGuard& guard() {
    static TempHomeGuard g;
    return g;
}

// Set up before main() so nothing can resolve the real home first.
[[maybe_unused]] const bool kInstalled = (guard(), true);

}  // namespace

const std::filesystem::path& tempHome() {
    return guard().path;
}

std::filesystem::path freshFolder(const std::string& hint) {
    static std::atomic<int> counter{0};
    auto dir = tempHome() / "work" / (hint + "-" + std::to_string(counter.fetch_add(1)));
    std::filesystem::create_directories(dir);
    return dir;
}

}  // namespace vantry::testing
