// The remote control's wire format: JSON text messages over a WebSocket. Pure code, no Qt.
//
// A client sends requests {"id": ID, "request": NAME, "params": {...}} and gets one answer per
// request that echoes its id: {"id": ID, "ok": true, "result": {...}} or
// {"id": ID, "ok": false, "error": {"code": CODE, "message": TEXT}}. The server also sends
// events that no request asked for: {"event": NAME, ...} (the challenge, state changes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/Json.h"

namespace vantry::remote {

// Where the studio listens unless told otherwise.
inline constexpr std::string_view kDefaultHost = "127.0.0.1";
inline constexpr std::uint16_t kDefaultPort = 47653;

// The bounds every connection lives within.
inline constexpr std::size_t kMaxMessageBytes = 64 * 1024;
inline constexpr int kMaxClients = 8;
// Connections still to answer their challenge, beside the clients: the oldest makes way for a new one.
inline constexpr int kMaxWaitingClients = 4;
inline constexpr int kMaxMalformed = 5;  // malformed messages before the connection is closed
inline constexpr double kRequestsPerSecond = 20;
inline constexpr double kRequestBurst = 40;
inline constexpr int kAuthDeadlineMs = 5000;  // to answer the challenge
inline constexpr std::size_t kMaxIdBytes = 64;
inline constexpr std::size_t kMaxPathBytes = 4096;

// The error codes of an answer.
namespace code {
inline constexpr std::string_view badJson = "bad-json";        // not one JSON value
inline constexpr std::string_view badRequest = "bad-request";  // no object, id or request name
inline constexpr std::string_view unknownRequest = "unknown-request";
inline constexpr std::string_view badParams = "bad-params";
inline constexpr std::string_view notAuthenticated = "not-authenticated";
inline constexpr std::string_view authFailed = "auth-failed";
inline constexpr std::string_view tooLarge = "too-large";
inline constexpr std::string_view tooMany = "too-many-clients";
inline constexpr std::string_view rateLimited = "rate-limited";
inline constexpr std::string_view unavailable = "unavailable";  // the studio cannot do it now
inline constexpr std::string_view failed = "failed";            // it tried and could not
}  // namespace code

// The requests, one struct each.
struct Authenticate {
    std::string answer;  // lower-case hex HMAC-SHA256(secret, nonce)
};
struct ReadState {};
struct Subscribe {
    bool on = true;       // false: unsubscribe
    bool meters = false;  // also the sound's meters, kMetersPerSecond times a second
};
struct ListShots {};
struct RecallShot {
    int index = 0;
};
struct SelectSet {
    std::string set;
};
struct SetAngle {
    int angle = 0;
};
struct SetGains {  // each one optional; at least one given
    std::optional<double> key;
    std::optional<double> neon;
    std::optional<double> led;
};
struct SetWallImage {
    std::string path;  // absolute
};
struct StepSlide {
    bool forward = true;  // nextSlide; false: previousSlide
};
struct SetSlidePage {
    int page = 1;  // from 1
};
struct StopScreenShare {};
struct SetVisionCutout {
    bool on = false;
};
struct SetPresenterMode {
    bool inSet = false;  // "inSet" or "float"
};
struct Recording {
    bool start = false;
};
struct ExportClip {};
struct Live {
    bool goLive = false;  // false: end the stream
};
// A source of the programme sound: "mic", "desktop" or "wallVideo" (kAudioSources).
struct SetMute {
    std::string source;
    bool on = false;
};
struct SetGain {
    std::string source;
    double db = 0;  // kMinAudioGainDb..kMaxAudioGainDb
};

inline constexpr std::string_view kAudioSources[] = {"mic", "desktop", "wallVideo"};
inline constexpr double kMinAudioGainDb = -30;
inline constexpr double kMaxAudioGainDb = 20;
inline constexpr int kMetersPerSecond = 10;

using Command = std::variant<Authenticate, ReadState, Subscribe, ListShots, RecallShot, SelectSet, SetAngle,
                             SetGains, SetWallImage, SetVisionCutout, SetPresenterMode, Recording, ExportClip,
                             Live, StepSlide, SetSlidePage, StopScreenShare, SetMute, SetGain>;

struct Request {
    json::Value id;  // a string (up to kMaxIdBytes) or an integer, echoed in the answer
    Command command;
};

struct DecodeError {
    std::optional<json::Value> id;  // when the message had a usable one
    std::string_view code;
    std::string message;
};

// One client message. Never throws; anything but a well-formed request is a DecodeError.
std::variant<Request, DecodeError> decodeRequest(std::string_view text);

// Every request name the decoder knows ("state", "setAngle", ...).
const std::vector<std::string_view>& requestNames();

// A quoted JSON string; bytes that are not valid UTF-8 (some file names) become '?'.
std::string quoteText(std::string_view text);

// A value as compact JSON text.
std::string encodeValue(const json::Value& value);

// Answers and events, as text. `result` is JSON text (an object); ids are echoed as given.
std::string encodeResult(const json::Value& id, std::string_view result = "{}");
std::string encodeError(const std::optional<json::Value>& id, std::string_view code,
                        std::string_view message);
// {"event": name, <fields>}: `fields` is the inside of an object ("\"a\":1,\"b\":2") or empty.
std::string encodeEvent(std::string_view name, std::string_view fields = {});

// One server of the running stream, as the GO LIVE section shows it.
struct LiveDestinationState {
    int server = 1;          // as the section numbers them, from 1
    std::string state;       // "connecting", "live", "stalled", "reconnecting", "failed", ...
    std::string statusLine;  // its own line in the section
};

// The stream's state as a whole: "partial" while some of its servers are live and others are not
// (refused, stalled, waiting to try again); otherwise `sectionState`, the section's own.
std::string overallLiveState(const std::string& sectionState,
                             const std::vector<LiveDestinationState>& servers);

// One source of the programme sound as the AUDIO section shows it.
struct AudioSourceState {
    std::string source;  // as kAudioSources
    bool muted = false;
    double gainDb = 0;
    std::string device;  // empty: the default one
};
// A meter: peak and RMS of the last block, dBFS.
struct AudioMeter {
    std::string source;  // as kAudioSources, or "mix"
    double peakDb = -120;
    double rmsDb = -120;
};
// The fields of a meters event: "meters":{"mic":{"peakDb":..,"rmsDb":..},...}.
std::string encodeMeters(const std::vector<AudioMeter>& meters);

// What the studio shows, as the state request answers and the state event carries it.
struct StudioState {
    std::string set;
    std::string setTitle;
    int angle = 0;
    std::string angleTitle;
    double keyGain = 0;
    double neonGain = 0;
    double ledBrightness = 0;
    std::string wallImage;
    std::string wallKind = "builtIn";  // "builtIn", "picture", "pdf", "video", "screen"
    int slidePage = 1;                 // a deck's page, from 1 (1 for anything else)
    int slideCount = 1;
    bool visionCutout = false;
    bool presenterInSet = false;
    bool recording = false;
    bool recorderAvailable = false;  // Vision Cutout on: its controller records
    bool exporting = false;
    double exportProgress = 0;
    bool live = false;
    std::string liveState;   // "idle", "connecting", "live", "partial", "failed", ... (overallLiveState)
    std::string liveStatus;  // the GO LIVE section's status line
    std::vector<LiveDestinationState> liveDestinations;  // the running stream's servers, in order
    // The picture each server of the section takes, servers 1 to 4: "landscape" or "vertical".
    std::vector<std::string> canvases;
    std::string banner;  // the window's status banner
    int shotCount = 0;
    std::vector<AudioSourceState> audio;  // "audio":{"mic":{"muted":..,"gainDb":..,"device":..},...}
};
std::string encodeState(const StudioState& state);

// The names of the state's fields whose values differ (in the order encodeState writes them).
std::vector<std::string> changedFields(const StudioState& before, const StudioState& after);

}  // namespace vantry::remote
