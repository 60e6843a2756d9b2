// "vantry-cli music": writes an intensity state's synthesised loop as a float stereo WAV.
#include <cstdio>
#include <string>
#include <string_view>

#include "app/cli/Args.h"
#include "app/cli/Command.h"
#include "app/cli/StudioOptions.h"
#include "creator/cinema-music/MusicSynthesis.h"
#include "creator/cinema-music/WavFile.h"

namespace {

int runMusic(const std::vector<std::string>& args) {
    vantry::app::cli::Args parsed(args, {"state", "seconds", "out", "rate"});
    if (!parsed.positional().empty())
        throw vantry::app::cli::UsageError("unexpected argument '" + parsed.positional()[0] + "'");
    using State = vantry::creator::OruMusicIntensityStateV950;
    const std::string name = parsed.required("state");
    const auto state = State::fromRawValue(name);
    if (!state) {
        std::string names;
        for (auto s : State::allCases()) names += (names.empty() ? "" : ", ") + std::string(s.rawValue());
        throw vantry::app::cli::UsageError("unknown state '" + name + "' (one of " + names + ")");
    }
    const double seconds = parsed.number("seconds", 4.0, 0, 600, /*minExclusive=*/true);
    const int rate = parsed.integer("rate", 44100, 8000, 192000);
    const std::string outPath = parsed.required("out");

    const auto synth = vantry::creator::synthesizeStemBuffer(*state, seconds, rate);
    const auto wav = vantry::creator::encodeFloatStereoWav(synth.samplesL, synth.samplesR,
                                                           static_cast<std::uint32_t>(rate));
    vantry::app::cli::writeDestination(
        outPath, std::string_view(reinterpret_cast<const char*>(wav.data()), wav.size()));
    std::printf("%s: %s, %.0f BPM, %zu samples per channel at %d Hz, RMS %.4f\n", outPath.c_str(),
                name.c_str(), synth.snapshot.bpm, synth.samplesL.size(), rate,
                static_cast<double>(synth.snapshot.synthesizedPeakRMS));
    return 0;
}

const vantry::app::cli::CommandRegistrar kMusic(
    {"music", "Write an adaptive-music loop as a WAV file",
     "Usage: vantry-cli music --state NAME --out FILE.wav [--seconds S] [--rate HZ]\n\n"
     "Synthesises the loop of an intensity state (ambientExploration, coastalSerene, tensionPulse,\n"
     "combatDrive, heroicBossBrass, victoryResolve) for S seconds (default 4, at least 1024 samples)\n"
     "at HZ (default 44100) and writes it as a 32-bit float stereo WAV.",
     runMusic});

}  // namespace
