// What a killed recording or clip export leaves behind, dealt with at the next start: a screen
// recording's scratch file (CreatorRec_<seconds>_<pid>.partial.mp4, a fragmented MP4) is cut
// back to its last complete fragment and kept under a playable name; a file with no complete
// fragment, and the hidden temporary file of an unfinished export (SafeOutput.h), cannot be
// played and is removed. A file some process still has open is left alone: it is being written.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace vantry::platform {

struct PartialFile {
    enum class Fate { recovered, removed, failed };
    Fate fate = Fate::failed;
    std::filesystem::path found;        // the unfinished file
    std::filesystem::path recoveredAs;  // recovered: the playable file it became
    std::uint64_t fragments = 0;        // recovered: its complete fragments (2 s each)
    std::string why;                    // failed: why nothing could be done with it
};

// Whether any process of this user has `file` open (from /proc/<pid>/fd).
bool fileOpenByAnyProcess(const std::filesystem::path& file);

// Deals with the unfinished files directly in `folder` (not below it); every other file is left
// alone, and so is a folder that is not there. `inUse` tells which files are still being written.
std::vector<PartialFile> recoverPartialFiles(
    const std::filesystem::path& folder,
    const std::function<bool(const std::filesystem::path&)>& inUse = fileOpenByAnyProcess);

// One sentence for the user about what was done ("" when nothing was found), for example
// "Recovered an interrupted recording as CreatorRec_1765000000_recovered.mp4; removed 1
// unfinished file that could not be played."
std::string describePartialFiles(const std::vector<PartialFile>& files);

}  // namespace vantry::platform
