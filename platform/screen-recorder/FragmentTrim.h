// Cuts a fragmented MP4 whose writing broke off back to its last complete fragment.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string_view>

namespace vantry::platform {

struct FragmentedMp4Extent {
    std::uint64_t bytes = 0;      // the length of the whole boxes up to the last complete fragment
    std::uint64_t fragments = 0;  // complete moof + mdat pairs within them
};

// Reads `bytes` bytes at `offset` into `out`; false when they are not there.
using ReadAt = std::function<bool(std::uint64_t offset, char* out, std::size_t bytes)>;

// Walks the top-level boxes of a fragmented MP4 of `size` bytes (reading only their headers):
// the header (ftyp, moov) and every fragment (moof followed by its mdat) that is whole. Stops
// at the first box that is cut off, unknown or malformed; a moof without its whole mdat is
// not counted.
FragmentedMp4Extent completeFragments(std::uint64_t size, const ReadAt& read);
// The same over bytes in memory.
FragmentedMp4Extent completeFragments(std::string_view content);

// Truncates `file` to completeFragments() of its content and returns that extent.
// Throws std::filesystem::filesystem_error when the file cannot be read or truncated.
FragmentedMp4Extent trimToCompleteFragments(const std::filesystem::path& file);

}  // namespace vantry::platform
