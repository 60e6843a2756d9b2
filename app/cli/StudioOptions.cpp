#include "app/cli/StudioOptions.h"

#include <cmath>
#include <memory>
#include <string>

#include "app/cli/WallSlide.h"
#include "platform/wall-feed/VideoWallFrames.h"

namespace vantry::app::cli {
namespace {

std::optional<float> gain(const Args& args, const std::string& name) {
    if (!args.has(name)) return std::nullopt;
    return static_cast<float>(args.number(name, 0, 0, 100));
}

// "a, b, c": the set ids of the catalogue, the default first.
std::string setIds() {
    std::string ids;
    for (const BroadcastStudioSet& set : BroadcastStudioSet::allCases())
        ids += (ids.empty() ? "" : ", ") + std::string(set.rawValue());
    return ids;
}

}  // namespace

void parseSetAndAngle(const Args& args, StudioOptions& o) {
    if (auto raw = args.value("set")) {
        auto set = BroadcastStudioSet::fromRawValue(*raw);
        if (!set) throw UsageError("unknown set '" + *raw + "' (one of " + setIds() + ")");
        o.set = *set;
    }
    if (args.has("angle")) {
        o.angle = *BroadcastCameraAngle::fromRawValue(args.integer("angle", 0, 0, 3));
    }
}

std::string setAndAngleHelp() {
    std::string ids = setIds();
    const auto comma = ids.find(',');
    if (comma != std::string::npos) ids.insert(comma, " (default)");
    return "  --set ID         studio set: " + ids + "\n" +
           "  --angle N        camera angle 0..3: 0 Desk (default), 1 Screen, 2 Host, 3 Crane\n";
}

StudioOptions parseStudioOptions(const Args& args) {
    StudioOptions o;
    parseSetAndAngle(args, o);
    o.key = gain(args, "key");
    o.neon = gain(args, "neon");
    o.led = gain(args, "led");
    parseSlideOptions(args, o);
    return o;
}

std::string studioOptionsHelp() {
    return setAndAngleHelp() +
           "  --key G          key light gain (default 1.35)\n"
           "  --neon G         neon rim glow gain (default 1.25)\n"
           "  --led G          LED wall brightness (default 1.15)\n" +
           slideOptionsHelp(false);
}

std::unique_ptr<VantryMetalEngine> makeStudioEngine(const StudioOptions& o, EngineServices services) {
    std::shared_ptr<platform::wall::VideoWallFrames> video;
    if (o.slide && o.slideKind == SlideKind::video) {
        std::string error;
        video = platform::wall::VideoWallFrames::open(*o.slide, error);
        if (!video) throw CommandError(error);
    }
    // An export asks for each frame in turn: the video's picture at that frame's time goes on
    // the wall just before it is drawn.
    auto engineOfHook = std::make_shared<VantryMetalEngine*>(nullptr);
    if (video) {
        services.exportFrame = [video, engineOfHook, inner = std::move(services.exportFrame)](
                                   std::int64_t frame, const std::function<ExportFrame()>& render) {
            if (*engineOfHook)
                (*engineOfHook)->showLEDWallPicture(video->pictureAt(double(frame) / 30.0), video->name());
            return inner ? inner(frame, render) : render();
        };
    }
    auto engine = VantryMetalEngine::create(std::move(services));
    if (!engine) throw CommandError("no GPU: could not create an OpenGL 3.3 core context through EGL");
    engine->loadSet(o.set);
    engine->setCameraAngle(o.angle);
    if (o.key) engine->setKeyLightGain(*o.key);
    if (o.neon) engine->setNeonAccentGain(*o.neon);
    if (o.led) engine->setLedWallBrightness(*o.led);
    if (o.slide && o.slideKind == SlideKind::picture && !engine->loadLEDWallImage(*o.slide)) {
        throw CommandError("cannot read slide image '" + o.slide->string() + "'");
    }
    if (o.slide && o.slideKind == SlideKind::pdf) showPdfSlide(o, *engine);
    if (video) {
        engine->showLEDWallPicture(video->pictureAt(o.slideTime), video->name());
        *engineOfHook = engine.get();
    }
    return engine;
}

namespace {

// Usage or command errors for an --out that names no file or something a file must not replace.
void checkDestination(const std::filesystem::path& out) {
    if (out.filename().empty())
        throw UsageError("option --out needs a file name, got '" + out.string() + "'");
    // The folder first: a path under a file then names the folder that cannot be made.
    createParentFolder(out);
    if (auto why = platform::whyNotReplaceable(out))
        throw CommandError("cannot write '" + out.string() + "': " + *why);
}

[[noreturn]] void cannotWrite(const std::filesystem::path& out, const std::filesystem::filesystem_error& e) {
    throw CommandError("cannot write '" + out.string() + "': " + platform::describeOutputError(e));
}

}  // namespace

std::unique_ptr<platform::SafeOutput> openDestination(const std::filesystem::path& out) {
    checkDestination(out);
    try {
        return std::make_unique<platform::SafeOutput>(out);
    } catch (const std::filesystem::filesystem_error& e) {
        cannotWrite(out, e);
    }
}

void commitDestination(platform::SafeOutput& output) {
    try {
        output.commit();
    } catch (const std::filesystem::filesystem_error& e) {
        cannotWrite(output.target(), e);
    }
}

void writeDestination(const std::filesystem::path& out, std::string_view bytes) {
    checkDestination(out);
    try {
        platform::SafeOutput::write(out, bytes);
    } catch (const std::filesystem::filesystem_error& e) {
        cannotWrite(out, e);
    }
}

}  // namespace vantry::app::cli
