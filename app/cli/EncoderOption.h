// The --encoder option of the commands that encode H.264 (export, record, stream).
#pragma once

#include "app/cli/Args.h"
#include "platform/media/EncoderChoice.h"

namespace vantry::app::cli {

// Reads --encoder (auto, x264, vaapi, nvenc; default auto); a bad value is a usage error.
// The help lines are platform::media::kEncoderOptionHelp.
inline platform::media::H264Choice parseEncoderOption(const Args& args) {
    const auto raw = args.value("encoder");
    if (!raw) return platform::media::H264Choice::automatic;
    const auto choice = platform::media::parseH264Choice(*raw);
    if (!choice) throw UsageError("unknown encoder '" + *raw + "' (one of auto, x264, vaapi, nvenc)");
    return *choice;
}

}  // namespace vantry::app::cli
