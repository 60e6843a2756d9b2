#include "app/remote/RemoteProtocol.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>

namespace vantry::remote {
namespace {

// Text from the studio (file names) is not always valid UTF-8: such bytes become '?'.
std::string quoted(std::string_view text) {
    try {
        return json::quote(text);
    } catch (const json::EncodingError&) {
        std::string ascii(text);
        for (char& c : ascii) {
            if (static_cast<unsigned char>(c) >= 0x80) c = '?';
        }
        return json::quote(ascii);
    }
}

void appendValue(std::string& out, const json::Value& value) {
    if (value.object()) {
        out += '{';
        bool first = true;
        for (const auto& [key, member] : *value.object()) {
            if (!first) out += ',';
            first = false;
            out += quoted(key);
            out += ':';
            appendValue(out, member);
        }
        out += '}';
    } else if (value.array()) {
        out += '[';
        bool first = true;
        for (const json::Value& item : *value.array()) {
            if (!first) out += ',';
            first = false;
            appendValue(out, item);
        }
        out += ']';
    } else if (value.string()) {
        out += quoted(*value.string());
    } else if (value.number()) {
        out += value.number()->text;
    } else if (value.boolean()) {
        out += *value.boolean() ? "true" : "false";
    } else {
        out += "null";
    }
}

struct ParamError {
    std::string message;
};

// Reads the params object of one request; a ParamError names what is wrong.
class Params {
  public:
    explicit Params(const json::Object* object) : object_(object) {}

    bool has(std::string_view key) const { return object_ && json::member(*object_, key); }

    std::string text(std::string_view key, std::size_t maxBytes) const {
        const json::Value* v = find(key);
        if (!v || !v->string()) throw ParamError{"\"" + std::string(key) + "\" must be a string"};
        if (v->string()->empty() || v->string()->size() > maxBytes)
            throw ParamError{"\"" + std::string(key) + "\" must hold 1 to " + std::to_string(maxBytes) +
                             " bytes"};
        return *v->string();
    }
    bool flag(std::string_view key) const {
        const json::Value* v = find(key);
        if (!v || !v->boolean()) throw ParamError{"\"" + std::string(key) + "\" must be true or false"};
        return *v->boolean();
    }
    int integer(std::string_view key, int min, int max) const {
        const json::Value* v = find(key);
        const auto n = v && v->number() ? json::toInt64(*v->number()) : std::nullopt;
        if (!n || *n < min || *n > max)
            throw ParamError{"\"" + std::string(key) + "\" must be a whole number from " +
                             std::to_string(min) + " to " + std::to_string(max)};
        return int(*n);
    }
    std::optional<double> optionalNumber(std::string_view key) const {
        if (!has(key)) return std::nullopt;
        const json::Value* v = find(key);
        const auto n = v->number() ? json::toDouble(*v->number()) : std::nullopt;
        if (!n || !std::isfinite(*n)) throw ParamError{"\"" + std::string(key) + "\" must be a number"};
        return n;
    }

  private:
    const json::Value* find(std::string_view key) const {
        return object_ ? json::member(*object_, key) : nullptr;
    }
    const json::Object* object_;
};

using Builder = std::function<Command(const Params&)>;

// The "source" of an audio request, one of kAudioSources.
std::string audioSource(const Params& p) {
    const std::string source = p.text("source", 16);
    for (std::string_view known : kAudioSources)
        if (source == known) return source;
    throw ParamError{"\"source\" must be \"mic\", \"desktop\" or \"wallVideo\""};
}

const std::vector<std::pair<std::string_view, Builder>>& builders() {
    static const std::vector<std::pair<std::string_view, Builder>> table = {
        {"authenticate", [](const Params& p) -> Command { return Authenticate{p.text("answer", 128)}; }},
        {"state", [](const Params&) -> Command { return ReadState{}; }},
        {"subscribe",
         [](const Params& p) -> Command {
             return Subscribe{true, p.has("meters") && p.flag("meters")};
         }},
        {"unsubscribe", [](const Params&) -> Command { return Subscribe{false}; }},
        {"listShots", [](const Params&) -> Command { return ListShots{}; }},
        {"recallShot", [](const Params& p) -> Command { return RecallShot{p.integer("index", 0, 1000)}; }},
        {"setSet", [](const Params& p) -> Command { return SelectSet{p.text("set", 64)}; }},
        {"setAngle", [](const Params& p) -> Command { return SetAngle{p.integer("angle", 0, 1000)}; }},
        {"setGains",
         [](const Params& p) -> Command {
             SetGains g{p.optionalNumber("key"), p.optionalNumber("neon"), p.optionalNumber("led")};
             if (!g.key && !g.neon && !g.led)
                 throw ParamError{"give at least one of \"key\", \"neon\", \"led\""};
             return g;
         }},
        {"setWallImage",
         [](const Params& p) -> Command {
             std::string path = p.text("path", kMaxPathBytes);
             if (path.front() != '/') throw ParamError{"\"path\" must be an absolute path"};
             if (path.find('\0') != std::string::npos) throw ParamError{"\"path\" holds a NUL character"};
             return SetWallImage{std::move(path)};
         }},
        {"setVisionCutout", [](const Params& p) -> Command { return SetVisionCutout{p.flag("on")}; }},
        {"nextSlide", [](const Params&) -> Command { return StepSlide{true}; }},
        {"previousSlide", [](const Params&) -> Command { return StepSlide{false}; }},
        {"setSlidePage",
         [](const Params& p) -> Command { return SetSlidePage{p.integer("page", 1, 100000)}; }},
        {"stopScreenShare", [](const Params&) -> Command { return StopScreenShare{}; }},
        {"setPresenterMode",
         [](const Params& p) -> Command {
             const std::string mode = p.text("mode", 16);
             if (mode != "inSet" && mode != "float")
                 throw ParamError{"\"mode\" must be \"inSet\" or \"float\""};
             return SetPresenterMode{mode == "inSet"};
         }},
        {"startRecording", [](const Params&) -> Command { return Recording{true}; }},
        {"stopRecording", [](const Params&) -> Command { return Recording{false}; }},
        {"exportClip", [](const Params&) -> Command { return ExportClip{}; }},
        {"goLive", [](const Params&) -> Command { return Live{true}; }},
        {"endStream", [](const Params&) -> Command { return Live{false}; }},
        {"setMute",
         [](const Params& p) -> Command {
             return SetMute{audioSource(p), p.flag("on")};
         }},
        {"setGain",
         [](const Params& p) -> Command {
             std::string source = audioSource(p);
             const auto db = p.optionalNumber("db");
             if (!db || *db < kMinAudioGainDb || *db > kMaxAudioGainDb)
                 throw ParamError{"\"db\" must be a number from -30 to 20"};
             return SetGain{std::move(source), *db};
         }},
    };
    return table;
}

}  // namespace

std::string quoteText(std::string_view text) {
    return quoted(text);
}

const std::vector<std::string_view>& requestNames() {
    static const std::vector<std::string_view> names = [] {
        std::vector<std::string_view> out;
        for (const auto& entry : builders()) out.push_back(entry.first);
        return out;
    }();
    return names;
}

std::variant<Request, DecodeError> decodeRequest(std::string_view text) {
    if (text.size() > kMaxMessageBytes)
        return DecodeError{std::nullopt, code::tooLarge, "a message holds at most 64 KiB"};
    json::ParseOptions options;
    options.rejectDuplicateKeys = true;
    const std::optional<json::Value> doc = json::parse(text, options);
    if (!doc) {
        // Well-formed but for a member given twice: a malformed request, not malformed JSON.
        if (json::parse(text))
            return DecodeError{std::nullopt, code::badRequest, "a member may not be given twice"};
        return DecodeError{std::nullopt, code::badJson, "the message is not one JSON value"};
    }
    const json::Object* object = doc->object();
    if (!object) return DecodeError{std::nullopt, code::badRequest, "a request is a JSON object"};

    const json::Value* id = json::member(*object, "id");
    const bool idUsable = id && ((id->string() && id->string()->size() <= kMaxIdBytes) ||
                                 (id->number() && json::toInt64(*id->number())));
    if (!idUsable)
        return DecodeError{std::nullopt, code::badRequest,
                           "a request needs an \"id\": a string of up to 64 bytes or a whole number"};
    const std::string* name = json::stringMember(*object, "request");
    if (!name) return DecodeError{*id, code::badRequest, "a request needs a \"request\" name"};
    for (const auto& [key, unused] : *object) {
        if (key != "id" && key != "request" && key != "params")
            return DecodeError{*id, code::badRequest, "unknown member " + quoted(key) + " in a request"};
    }
    const json::Value* params = json::member(*object, "params");
    if (params && !params->object()) return DecodeError{*id, code::badParams, "\"params\" must be an object"};

    for (const auto& [known, build] : builders()) {
        if (known != *name) continue;
        try {
            return Request{*id, build(Params(params ? params->object() : nullptr))};
        } catch (const ParamError& e) {
            return DecodeError{*id, code::badParams, e.message};
        }
    }
    return DecodeError{*id, code::unknownRequest, "no request is called " + quoted(*name)};
}

std::string encodeValue(const json::Value& value) {
    std::string out;
    appendValue(out, value);
    return out;
}

std::string encodeResult(const json::Value& id, std::string_view result) {
    return "{\"id\":" + encodeValue(id) + ",\"ok\":true,\"result\":" + std::string(result) + "}";
}

std::string encodeError(const std::optional<json::Value>& id, std::string_view code,
                        std::string_view message) {
    return "{\"id\":" + (id ? encodeValue(*id) : std::string("null")) +
           ",\"ok\":false,\"error\":{\"code\":" + quoted(code) + ",\"message\":" + quoted(message) + "}}";
}

std::string encodeEvent(std::string_view name, std::string_view fields) {
    std::string out = "{\"event\":" + quoted(name);
    if (!fields.empty()) out += "," + std::string(fields);
    return out + "}";
}

namespace {

// [{"server":1,"state":"live","statusLine":"..."}, ...]
std::string destinations(const std::vector<LiveDestinationState>& servers) {
    std::string out = "[";
    for (const LiveDestinationState& d : servers) {
        if (out.size() > 1) out += ',';
        out += "{\"server\":" + std::to_string(d.server) + ",\"state\":" + quoted(d.state) +
               ",\"statusLine\":" + quoted(d.statusLine) + "}";
    }
    return out + "]";
}

// ["landscape","vertical",...]
std::string texts(const std::vector<std::string>& values) {
    std::string out = "[";
    for (const std::string& v : values) {
        if (out.size() > 1) out += ',';
        out += quoted(v);
    }
    return out + "]";
}

std::string number(double v) {
    return std::isfinite(v) ? json::formatDouble(v) : std::string("null");
}

// {"mic":{"muted":false,"gainDb":0,"device":""},...}
std::string audioObject(const std::vector<AudioSourceState>& sources) {
    std::string out = "{";
    for (const AudioSourceState& a : sources) {
        if (out.size() > 1) out += ',';
        out += quoted(a.source) + ":{\"muted\":" + (a.muted ? "true" : "false") +
               ",\"gainDb\":" + number(a.gainDb) + ",\"device\":" + quoted(a.device) + "}";
    }
    return out + "}";
}

// The state's fields in order: name and JSON text.
std::vector<std::pair<std::string, std::string>> stateFields(const StudioState& s) {
    const auto number = [](double v) {
        return std::isfinite(v) ? json::formatDouble(v) : std::string("null");
    };
    const auto flag = [](bool v) { return std::string(v ? "true" : "false"); };
    return {
        {"set", quoted(s.set)},
        {"setTitle", quoted(s.setTitle)},
        {"angle", std::to_string(s.angle)},
        {"angleTitle", quoted(s.angleTitle)},
        {"keyGain", number(s.keyGain)},
        {"neonGain", number(s.neonGain)},
        {"ledBrightness", number(s.ledBrightness)},
        {"wallImage", quoted(s.wallImage)},
        {"wallKind", quoted(s.wallKind)},
        {"slidePage", std::to_string(s.slidePage)},
        {"slideCount", std::to_string(s.slideCount)},
        {"visionCutout", flag(s.visionCutout)},
        {"presenterMode", quoted(s.presenterInSet ? "inSet" : "float")},
        {"recording", flag(s.recording)},
        {"recorderAvailable", flag(s.recorderAvailable)},
        {"exporting", flag(s.exporting)},
        {"exportProgress", number(s.exportProgress)},
        {"live", flag(s.live)},
        {"liveState", quoted(s.liveState)},
        {"liveStatus", quoted(s.liveStatus)},
        {"liveDestinations", destinations(s.liveDestinations)},
        {"canvases", texts(s.canvases)},
        {"banner", quoted(s.banner)},
        {"shotCount", std::to_string(s.shotCount)},
        {"audio", audioObject(s.audio)},
    };
}

}  // namespace

std::string encodeMeters(const std::vector<AudioMeter>& meters) {
    std::string out = "\"meters\":{";
    bool first = true;
    for (const AudioMeter& m : meters) {
        if (!first) out += ',';
        first = false;
        out += quoted(m.source) + ":{\"peakDb\":" + number(m.peakDb) + ",\"rmsDb\":" + number(m.rmsDb) + "}";
    }
    return out + "}";
}

std::string overallLiveState(const std::string& sectionState,
                             const std::vector<LiveDestinationState>& servers) {
    const auto live = std::count_if(servers.begin(), servers.end(),
                                    [](const LiveDestinationState& d) { return d.state == "live"; });
    if (live > 0 && std::size_t(live) < servers.size()) return "partial";
    return sectionState;
}

std::string encodeState(const StudioState& state) {
    std::string out = "{";
    for (const auto& [name, value] : stateFields(state)) {
        if (out.size() > 1) out += ',';
        out += quoted(name) + ":" + value;
    }
    return out + "}";
}

std::vector<std::string> changedFields(const StudioState& before, const StudioState& after) {
    const auto a = stateFields(before);
    const auto b = stateFields(after);
    std::vector<std::string> out;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].second != b[i].second) out.push_back(a[i].first);
    }
    return out;
}

}  // namespace vantry::remote
