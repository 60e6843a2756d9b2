// Paths that a reader must refuse without waiting or reading without bound: a named pipe, a
// link to /dev/zero, a folder and a file larger than a limit. For table-driven tests of every
// reader of the programs.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace vantry::testing {

struct AwkwardFile {
    std::string what;    // "a named pipe", ...
    std::string reason;  // what the reader says: "named pipe", "device", "folder", "larger than"
    std::filesystem::path path;
};

// Makes each awkward kind of file under `folder` named `name` plus a suffix (or, with
// `folderPerCase`, as `name` inside a folder of its own, for readers that take a folder). The
// oversized file is sparse: `largerThan` + 1 bytes that take no disk space.
inline std::vector<AwkwardFile> makeAwkwardFiles(const std::filesystem::path& folder, const std::string& name,
                                                 std::uintmax_t largerThan, bool folderPerCase = false) {
    namespace fs = std::filesystem;
    std::vector<AwkwardFile> files;
    const auto place = [&](const std::string& kind) {
        if (!folderPerCase) return folder / (name + "." + kind);
        fs::create_directories(folder / kind);
        return folder / kind / name;
    };
    fs::create_directories(folder);
    const fs::path pipe = place("fifo");
    ::mkfifo(pipe.c_str(), 0600);
    ::chmod(pipe.c_str(), 0600);
    files.push_back({"a named pipe", "named pipe", pipe});
    const fs::path zero = place("zero");
    fs::create_symlink("/dev/zero", zero);
    files.push_back({"a link to /dev/zero", "device", zero});
    const fs::path dir = place("folder");
    fs::create_directories(dir);
    files.push_back({"a folder", "folder", dir});
    const fs::path big = place("big");
    {
        const int fd = ::open(big.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd >= 0) ::close(fd);
    }
    fs::resize_file(big, largerThan + 1);
    ::chmod(big.c_str(), 0600);
    files.push_back({"an oversized file", "larger than", big});
    return files;
}

}  // namespace vantry::testing
