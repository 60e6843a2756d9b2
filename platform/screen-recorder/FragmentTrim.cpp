#include "platform/screen-recorder/FragmentTrim.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>

namespace vantry::platform {
namespace {

std::uint64_t bigEndian(const char* bytes, std::size_t n) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < n; ++i) v = (v << 8) | static_cast<unsigned char>(bytes[i]);
    return v;
}

// The top-level boxes a fragmented recording is made of.
bool knownBox(std::string_view type) {
    static constexpr std::array<std::string_view, 8> kTypes{"ftyp", "moov", "moof", "mdat",
                                                            "mfra", "free", "styp", "sidx"};
    return std::find(kTypes.begin(), kTypes.end(), type) != kTypes.end();
}

[[noreturn]] void fail(const char* what, const std::filesystem::path& file, int err) {
    throw std::filesystem::filesystem_error(what, file, std::error_code(err, std::generic_category()));
}

}  // namespace

FragmentedMp4Extent completeFragments(std::uint64_t size, const ReadAt& read) {
    FragmentedMp4Extent extent;
    std::uint64_t at = 0;
    bool inFragment = false;  // a whole moof was read; its mdat decides
    char head[16];
    while (size - at >= 8 && read(at, head, 8)) {
        std::uint64_t boxSize = bigEndian(head, 4);
        const std::string_view type(head + 4, 4);
        std::uint64_t header = 8;
        if (boxSize == 1) {
            if (size - at < 16 || !read(at + 8, head + 8, 8)) break;
            boxSize = bigEndian(head + 8, 8);
            header = 16;
        }
        // Size 0 ("to the end of the file") is never written by a fragmenting muxer.
        if (boxSize < header || !knownBox(type) || boxSize > size - at) break;
        at += boxSize;
        if (type == "moof") {
            inFragment = true;
            continue;
        }
        if (type == "mdat" && inFragment) ++extent.fragments;
        inFragment = false;
        extent.bytes = at;
    }
    return extent;
}

FragmentedMp4Extent completeFragments(std::string_view content) {
    return completeFragments(content.size(), [content](std::uint64_t offset, char* out, std::size_t n) {
        if (offset > content.size() || content.size() - offset < n) return false;
        std::memcpy(out, content.data() + offset, n);
        return true;
    });
}

FragmentedMp4Extent trimToCompleteFragments(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) fail("cannot open the recording", file, errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        fail("cannot inspect the recording", file, err);
    }
    const auto size = static_cast<std::uint64_t>(st.st_size);
    const FragmentedMp4Extent extent =
        completeFragments(size, [fd](std::uint64_t offset, char* out, std::size_t n) {
            return ::pread(fd, out, n, static_cast<off_t>(offset)) == static_cast<ssize_t>(n);
        });
    if (extent.bytes < size && ::ftruncate(fd, static_cast<off_t>(extent.bytes)) != 0) {
        const int err = errno;
        ::close(fd);
        fail("cannot truncate the recording", file, err);
    }
    ::fsync(fd);
    ::close(fd);
    return extent;
}

}  // namespace vantry::platform
