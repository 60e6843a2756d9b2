// The one way an input file is read: opened without blocking (a named pipe or a device never
// holds the reader up), checked on the opened file itself to be a regular file within a size
// limit, and only then read. Files handed to a library by name (FFmpeg, Qt's image readers) are
// checked the same way first.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace vantry::platform {

// What a reader found: the bytes, or why there are none ("it is a named pipe", "it is a
// folder", "it is a device", "it is larger than 1048576 bytes", "it does not exist", ...).
struct FileContents {
    std::string bytes;
    std::string error;     // empty when the bytes were read
    bool missing = false;  // nothing is at the path
    bool ok() const { return error.empty(); }
};

// The problem with a file of this type: "it is a folder", "it is a device", "it is a named
// pipe", "it is a socket", "it is not a regular file"; nothing for a regular file.
std::optional<std::string> whyNotRegular(unsigned statMode);

// The rules for a private file (a stream key, the remote secret): a symbolic link, a file of
// another user or one the group or others may read is refused too.
enum class FileRules { regular, privateToUser };

// Reads the whole file when it is a regular file (links followed, unless the rules are private)
// of at most maxBytes.
FileContents readRegularFile(const std::filesystem::path& file, std::uintmax_t maxBytes,
                             FileRules rules = FileRules::regular);

// The same checks without reading: why `file` must not be handed to a reader, or nothing.
std::optional<std::string> whyNotReadable(const std::filesystem::path& file, std::uintmax_t maxBytes);

}  // namespace vantry::platform
