// "vantry-cli replay-dump": prints a stored replay clip as JSON.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/cli/Args.h"
#include "app/cli/Command.h"
#include "common/JsonText.h"
#include "creator/replay-raids/OruDeterministicReplayClipV1250.h"
#include "platform/files/RegularFile.h"

namespace {

// A replay clip larger than this is not read.
constexpr std::uintmax_t kMaxReplayBytes = std::uintmax_t(64) << 20;

int runReplayDump(const std::vector<std::string>& args) {
    vantry::app::cli::Args parsed(args, {});
    if (parsed.positional().size() != 1) throw vantry::app::cli::UsageError("expects exactly one FILE");
    const std::filesystem::path path = parsed.positional()[0];
    const auto contents = vantry::platform::readRegularFile(path, kMaxReplayBytes);
    if (!contents.ok())
        throw vantry::app::cli::CommandError("cannot read " + path.string() + ": " + contents.error);
    const std::vector<std::uint8_t> bytes(contents.bytes.begin(), contents.bytes.end());

    using Clip = vantry::creator::OruDeterministicReplayClipV1250;
    const auto clip = Clip::decodeCompactBinary(bytes, path.stem().string());
    if (!clip) {
        throw vantry::app::cli::CommandError(
            path.string() + " is not a replay clip (too short, another format, or truncated)");
    }
    std::string out =
        "{\"title\":" + vantry::json::quotedText(clip->title) + ",\"seed\":" + std::to_string(clip->seed) +
        ",\"frameCount\":" + std::to_string(clip->frames.size()) +
        ",\"bookmarkCount\":" + std::to_string(clip->highlightTickBookmarks.size()) + ",\"frames\":[";
    for (std::size_t i = 0; i < clip->frames.size(); ++i) {
        const auto& f = clip->frames[i];
        if (i) out += ',';
        out += "{\"dtMs\":" + std::to_string(f.dtMs) + ",\"moveForwardQ\":" + std::to_string(f.moveForwardQ) +
               ",\"moveStrafeQ\":" + std::to_string(f.moveStrafeQ) +
               ",\"yawDeltaQ\":" + std::to_string(f.yawDeltaQ) +
               ",\"actionMask\":" + std::to_string(f.actionMask) + "}";
    }
    out += "],\"highlightTickBookmarks\":[";
    for (std::size_t i = 0; i < clip->highlightTickBookmarks.size(); ++i) {
        if (i) out += ',';
        out += std::to_string(clip->highlightTickBookmarks[i]);
    }
    out += "]}";
    std::printf("%s\n", out.c_str());
    return 0;
}

const vantry::app::cli::CommandRegistrar kReplayDump(
    {"replay-dump", "Print a stored replay clip as JSON",
     "Usage: vantry-cli replay-dump FILE\n\n"
     "Reads a replay clip in its compact binary form and prints its seed,\n"
     "input frames and highlight bookmarks as JSON (the title is the\n"
     "file's name without extension).",
     runReplayDump});

}  // namespace
