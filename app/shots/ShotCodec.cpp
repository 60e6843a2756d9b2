#include "app/shots/ShotCodec.h"

#include <algorithm>
#include <cmath>

#include "common/Json.h"
#include "common/Utf8.h"
#include "studio/gpu/StudioCamera.h"

namespace vantry::app::shots {
namespace {

constexpr std::int64_t kVersion = 1;

// Numbers are written as their shortest float text.
void number(json::Writer& w, std::string_view key, float value) {
    w.key(key);
    w.rawNumber(json::formatFloat(value));
}

// Reads one shot; a failure names what is wrong.
class ShotReader {
  public:
    explicit ShotReader(const json::Object& object) : object_(object) {}

    const std::string* string(std::string_view key) {
        const std::string* s = json::stringMember(object_, key);
        if (!s) fail(key, "is not a string");
        return s;
    }
    std::optional<bool> boolean(std::string_view key) {
        const bool* b = json::boolMember(object_, key);
        if (!b) {
            fail(key, "is not true or false");
            return std::nullopt;
        }
        return *b;
    }
    // A finite number, clamped to lo..hi.
    std::optional<float> number(const json::Object& in, std::string_view key, float lo, float hi) {
        const std::optional<double> n = json::numberMember(in, key);
        if (!n || !std::isfinite(*n)) {
            fail(key, "is not a number");
            return std::nullopt;
        }
        return static_cast<float>(std::clamp(*n, double(lo), double(hi)));
    }
    std::optional<float> number(std::string_view key, float lo, float hi) {
        return number(object_, key, lo, hi);
    }

    void fail(std::string_view key, std::string_view problem) {
        if (error.empty()) error = "\"" + std::string(key) + "\" " + std::string(problem);
    }

    std::string error;

  private:
    const json::Object& object_;
};

std::optional<Shot> readShot(const json::Value& value, std::string& error) {
    const json::Object* object = value.object();
    if (!object) {
        error = "is not an object";
        return std::nullopt;
    }
    ShotReader r(*object);
    Shot shot;
    if (const std::string* name = r.string("name")) {
        shot.name = cleanShotName(*name);
        if (shot.name.empty() || name->size() > kMaxNameBytes) r.fail("name", "is empty or too long");
    }
    if (const std::string* set = r.string("set")) {
        if (auto known = BroadcastStudioSet::fromRawValue(*set)) {
            shot.set = *known;
        } else {
            r.fail("set", "names no studio set");
        }
    }
    const json::Value* angle = json::member(*object, "angle");
    const std::optional<std::int64_t> angleId =
        angle && angle->number() ? json::toInt64(*angle->number()) : std::nullopt;
    if (auto known = angleId ? BroadcastCameraAngle::fromRawValue(*angleId) : std::nullopt) {
        shot.angle = *known;
    } else {
        r.fail("angle", "is not a camera angle (0 to 3)");
    }
    if (auto v = r.number("keyGain", kMinKeyGain, kMaxKeyGain)) shot.keyGain = *v;
    if (auto v = r.number("neonGain", kMinNeonGain, kMaxNeonGain)) shot.neonGain = *v;
    if (auto v = r.number("ledBrightness", kMinLedBrightness, kMaxLedBrightness)) shot.ledBrightness = *v;
    if (const std::string* wall = r.string("wallImage")) {
        if (wall->size() > kMaxPathBytes || wall->find('\0') != std::string::npos) {
            r.fail("wallImage", "is not a file path");
        }
        shot.wallImage = *wall;
    }
    // Shots of earlier versions name no kind of wall source: wallShows() reads them.
    if (const json::Value* kind = json::member(*object, "wallKind")) {
        const auto known = kind->string() ? wallKindFromName(*kind->string()) : std::nullopt;
        if (known) {
            shot.wallKind = *known;
        } else {
            r.fail("wallKind", "is not \"builtIn\", \"picture\", \"pdf\", \"video\" or \"screen\"");
        }
    }
    if (const json::Value* page = json::member(*object, "slidePage")) {
        const auto n = page->number() ? json::toInt64(*page->number()) : std::nullopt;
        if (n && *n >= 1 && *n <= kMaxSlidePage) {
            shot.slidePage = int(*n);
        } else {
            r.fail("slidePage", "is not a page number");
        }
    }
    if (auto v = r.boolean("visionCutout")) shot.visionCutout = *v;
    if (auto v = r.boolean("presenterInSet")) shot.presenterInSet = *v;
    if (const json::Value* place = json::member(*object, "presenterPlace"); place && place->object()) {
        const json::Object& p = *place->object();
        studio::PresenterPlace read;
        if (auto v = r.number(p, "x", studio::kPresenterMinX, studio::kPresenterMaxX)) read.x = *v;
        if (auto v = r.number(p, "z", studio::kPresenterMinZ, studio::kPresenterMaxZ)) read.z = *v;
        if (auto v = r.number(p, "height", studio::kPresenterMinHeight, studio::kPresenterMaxHeight)) {
            read.height = *v;
        }
        shot.presenterPlace = read;
    } else {
        r.fail("presenterPlace", "is not an object");
    }
    if (const std::string* transition = r.string("transition")) {
        if (*transition == "cut") {
            shot.transition = Transition::cut;
        } else if (*transition == "move") {
            shot.transition = Transition::move;
        } else {
            r.fail("transition", "is neither \"cut\" nor \"move\"");
        }
    }
    if (auto v = r.number("moveSeconds", studio::camera::kMinMoveSeconds, studio::camera::kMaxMoveSeconds))
        shot.moveSeconds = *v;
    if (!r.error.empty()) {
        error = r.error;
        return std::nullopt;
    }
    return shot;
}

}  // namespace

std::string cleanShotName(std::string_view name) {
    std::string out;
    for (const char32_t c : utf8::decodeLenient(name)) {
        const bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F);
        const bool bidi =
            c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
        if (!control && !bidi) utf8::append(out, c);
    }
    return out;
}

const char* transitionName(Transition transition) {
    return transition == Transition::move ? "move" : "cut";
}

const char* wallKindName(WallKind kind) {
    switch (kind) {
        case WallKind::builtIn:
            return "builtIn";
        case WallKind::picture:
            return "picture";
        case WallKind::pdf:
            return "pdf";
        case WallKind::video:
            return "video";
        case WallKind::screen:
            return "screen";
    }
    return "builtIn";
}

std::optional<WallKind> wallKindFromName(std::string_view name) {
    for (const WallKind kind :
         {WallKind::builtIn, WallKind::picture, WallKind::pdf, WallKind::video, WallKind::screen}) {
        if (name == wallKindName(kind)) return kind;
    }
    return std::nullopt;
}

WallKind wallShows(const Shot& shot) {
    if (shot.wallKind == WallKind::screen) return WallKind::screen;
    if (shot.wallImage.empty()) return WallKind::builtIn;
    return shot.wallKind == WallKind::builtIn ? WallKind::picture : shot.wallKind;
}

std::string encodeShots(const std::vector<Shot>& shots) {
    json::Writer w(true);
    w.beginObject();
    w.key("version");
    w.rawNumber(std::to_string(kVersion));
    w.key("shots");
    w.beginArray();
    for (const Shot& shot : shots) {
        w.beginObject();
        w.key("name");
        w.string(shot.name);
        w.key("set");
        w.string(shot.set.id());
        w.key("angle");
        w.rawNumber(std::to_string(shot.angle.id()));
        number(w, "keyGain", shot.keyGain);
        number(w, "neonGain", shot.neonGain);
        number(w, "ledBrightness", shot.ledBrightness);
        w.key("wallImage");
        w.string(shot.wallImage);
        w.key("wallKind");
        w.string(wallKindName(shot.wallKind));
        w.key("slidePage");
        w.rawNumber(std::to_string(shot.slidePage));
        w.key("visionCutout");
        w.boolean(shot.visionCutout);
        w.key("presenterInSet");
        w.boolean(shot.presenterInSet);
        w.key("presenterPlace");
        w.beginObject();
        number(w, "x", shot.presenterPlace.x);
        number(w, "z", shot.presenterPlace.z);
        number(w, "height", shot.presenterPlace.height);
        w.endObject();
        w.key("transition");
        w.string(transitionName(shot.transition));
        number(w, "moveSeconds", shot.moveSeconds);
        w.endObject();
    }
    w.endArray();
    w.endObject();
    return w.finish() + "\n";
}

std::optional<std::vector<Shot>> decodeShots(std::string_view text, std::string* why) {
    const auto failed = [why](std::string reason) -> std::optional<std::vector<Shot>> {
        if (why) *why = std::move(reason);
        return std::nullopt;
    };
    const std::optional<json::Value> root = json::parse(text);
    if (!root) return failed("it is not JSON");
    const json::Object* object = root->object();
    if (!object) return failed("it is not a JSON object");
    const json::Value* version = json::member(*object, "version");
    const std::optional<std::int64_t> v =
        version && version->number() ? json::toInt64(*version->number()) : std::nullopt;
    if (v != kVersion) return failed("its \"version\" is not 1");
    const json::Value* list = json::member(*object, "shots");
    if (!list || !list->array()) return failed("its \"shots\" is not a list");
    if (list->array()->size() > kMaxShots) return failed("it holds more than 9 shots");
    std::vector<Shot> shots;
    for (const json::Value& item : *list->array()) {
        std::string error;
        std::optional<Shot> shot = readShot(item, error);
        if (!shot) return failed("shot " + std::to_string(shots.size() + 1) + ": " + error);
        shots.push_back(std::move(*shot));
    }
    return shots;
}

}  // namespace vantry::app::shots
