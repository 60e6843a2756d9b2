// "vantry-cli voice-selftest": the voice loopback audit (codec, spatial mix, state packet) as JSON.
#include <cstdio>

#include "app/cli/Args.h"
#include "app/cli/Command.h"
#include "creator/coop-voice/OruLive3DProximityVoiceEngineV1170.h"

namespace {

int runVoiceSelfTest(const std::vector<std::string>& args) {
    vantry::app::cli::Args parsed(args, {});
    if (!parsed.positional().empty())
        throw vantry::app::cli::UsageError("unexpected argument '" + parsed.positional()[0] + "'");
    const auto audit = vantry::creator::OruLive3DProximityVoiceEngineV1170::runSelfTestLoopbackVerification();
    std::printf("%s\n", audit.toJSON().c_str());
    return audit.passed ? 0 : 1;
}

const vantry::app::cli::CommandRegistrar kVoiceSelfTest(
    {"voice-selftest", "Run the proximity voice loopback audit",
     "Usage: vantry-cli voice-selftest\n\n"
     "Encodes and decodes a test voice, places it to the listener's right, checks the player-state\n"
     "packet, and prints the audit as one JSON object. Exits 0 when it passed, 1 otherwise.",
     runVoiceSelfTest});

}  // namespace
