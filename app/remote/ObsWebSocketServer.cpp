#include "app/remote/ObsWebSocketServer.h"

#include <sys/resource.h>

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QPointer>
#include <QStorageInfo>
#include <QSysInfo>
#include <QUuid>
#include <QWebSocket>
#include <QWebSocketServer>
#include <algorithm>
#include <cmath>
#include <fstream>

#include "app/remote/RemoteAdmission.h"
#include "app/remote/RemoteLimits.h"
#include "app/remote/RemoteSecret.h"
#include "studio/StudioCatalogue.h"

namespace vantry::remote {

using namespace obs;

namespace {

constexpr std::string_view kMicInputKind = "pulse_input_capture";

// The programme mix's sources as inputs: its id, the input's name and kind.
struct MixInput {
    std::string_view source;
    std::string_view name;
    std::string_view kind;
};
constexpr MixInput kMixInputs[] = {{"mic", kMicInputName, kMicInputKind},
                                   {"desktop", "Desktop Audio", "pulse_output_capture"},
                                   {"wallVideo", "Wall Video", "ffmpeg_source"}};

const MixInput* mixInputOf(std::string_view source) {
    for (const MixInput& input : kMixInputs)
        if (input.source == source) return &input;
    return nullptr;
}
// The picture clients are told of (the program feed's largest size and rate).
constexpr int kBaseWidth = 1920;
constexpr int kBaseHeight = 1080;
constexpr int kFps = 30;

const std::vector<std::string_view>& requestTypes() {
    static const std::vector<std::string_view> names{"GetVersion",
                                                     "GetStats",
                                                     "GetSceneList",
                                                     "GetCurrentProgramScene",
                                                     "SetCurrentProgramScene",
                                                     "GetCurrentPreviewScene",
                                                     "GetStreamStatus",
                                                     "StartStream",
                                                     "StopStream",
                                                     "ToggleStream",
                                                     "GetRecordStatus",
                                                     "StartRecord",
                                                     "StopRecord",
                                                     "ToggleRecord",
                                                     "GetInputList",
                                                     "GetInputMute",
                                                     "SetInputMute",
                                                     "ToggleInputMute",
                                                     "GetInputVolume",
                                                     "SetInputVolume",
                                                     "GetSourceScreenshot",
                                                     "GetStudioModeEnabled",
                                                     "GetHotkeyList",
                                                     "GetOutputList",
                                                     "GetMonitorList",
                                                     "GetVideoSettings",
                                                     "GetReplayBufferStatus",
                                                     "GetInputKindList",
                                                     "GetProfileList",
                                                     "GetSceneCollectionList",
                                                     "GetSceneTransitionList",
                                                     "GetSpecialInputs"};
    return names;
}

std::string base64(const QByteArray& bytes) {
    return bytes.toBase64().toStdString();
}

QByteArray sha256(const std::string& text) {
    return QCryptographicHash::hash(QByteArray::fromStdString(text), QCryptographicHash::Sha256);
}

// base64(sha256(base64(sha256(password + salt)) + challenge))
std::string authenticationString(const std::string& password, const std::string& salt,
                                 const std::string& challenge) {
    return base64(sha256(base64(sha256(password + salt)) + challenge));
}

std::string uuidOf(const std::string& name) {
    static const QUuid space = QUuid::fromString(QStringLiteral("{5b0e4f0c-43a2-4d35-9d8e-7f0c2b1a9e61}"));
    return QUuid::createUuidV5(space, QString::fromStdString(name))
        .toString(QUuid::WithoutBraces)
        .toStdString();
}

double decibels(double mul) {
    return mul > 0 ? std::max(-100.0, 20.0 * std::log10(mul)) : -100.0;
}

double multiplier(double db) {
    return db <= -100 ? 0.0 : std::pow(10.0, db / 20.0);
}

json::Object data(std::initializer_list<std::pair<const std::string, json::Value>> members) {
    return json::Object(members);
}

// An object as a value (built in place: GCC sees a copied variant as maybe uninitialized).
json::Value wrap(json::Object o) {
    json::Value v;
    v.data.emplace<json::Object>(std::move(o));
    return v;
}

Result ok(json::Object responseData = {}) {
    Result r;
    r.responseData = std::move(responseData);
    return r;
}

std::string outputState(std::string_view phase) {
    std::string upper(phase);
    std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) { return char(std::toupper(c)); });
    return "OBS_WEBSOCKET_OUTPUT_" + upper;
}

// The process's CPU time in seconds.
double cpuSeconds() {
    rusage usage{};
    if (::getrusage(RUSAGE_SELF, &usage) != 0) return 0;
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// The resident memory in MB.
double residentMegabytes() {
    std::ifstream statm("/proc/self/statm");
    long long pages = 0, resident = 0;
    if (!(statm >> pages >> resident)) return 0;
    return double(resident) * double(::sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

}  // namespace

struct ObsWebSocketServer::Client {
    QWebSocket* socket = nullptr;
    Encoding encoding = Encoding::json;
    std::string salt;
    std::string challenge;
    bool identified = false;
    bool closing = false;
    std::uint32_t subscriptions = subscription::all;
    int refusedInARow = 0;
    TokenBucket bucket;
    TokenBucket screenshots;
    QTimer deadline;
    std::int64_t incoming = 0;
    std::int64_t outgoing = 0;

    Client(QWebSocket* s, const Options& o)
        : socket(s), bucket(o.requestsPerSecond, o.requestBurst), screenshots(o.screenshotsPerSecond, 1) {}
};

ObsWebSocketServer::ObsWebSocketServer(RemoteStudio& studio, RemoteShots* shots, Options options,
                                       QObject* parent)
    : QObject(parent), studio_(studio), shots_(shots), options_(std::move(options)) {
    clock_.start();
    cpuAtStart_ = cpuSeconds();
    updateTimer_.setSingleShot(true);
    updateTimer_.setInterval(0);
    connect(&updateTimer_, &QTimer::timeout, this, &ObsWebSocketServer::update);
    meterTimer_.setInterval(options_.metersIntervalMs);
    connect(&meterTimer_, &QTimer::timeout, this, &ObsWebSocketServer::sendMeters);
    connect(&studio_, &RemoteStudio::changed, this, &ObsWebSocketServer::scheduleUpdate);
    // What clients are told from now on starts from the studio as it is.
    toldProgram_ = programScene();
    toldScenes_ = sceneNames();
    toldRecording_ = studio_.isRecording();
    if (toldRecording_) recordClock_.start();
    if (studio_.isLive()) {
        streamPhase_ = "started";
        streamClock_.start();
    }
    toldMicMuted_ = studio_.micMuted();
    toldAudio_ = studio_.audioSources();
}

ObsWebSocketServer::~ObsWebSocketServer() {
    close();
}

bool ObsWebSocketServer::listen(QString* error) {
    if (server_) return true;
    server_ = listenForClients(
        this, options_.host, options_.port,
        {QString::fromUtf8(kJsonSubprotocol.data(), qsizetype(kJsonSubprotocol.size())),
         QString::fromUtf8(kMsgPackSubprotocol.data(), qsizetype(kMsgPackSubprotocol.size()))},
        [this] { accept(); }, error);
    return server_ != nullptr;
}

void ObsWebSocketServer::close() {
    meterTimer_.stop();
    closeClients(clients_, server_, this);
}

bool ObsWebSocketServer::isListening() const {
    return server_ && server_->isListening();
}

quint16 ObsWebSocketServer::port() const {
    return server_ ? server_->serverPort() : 0;
}

int ObsWebSocketServer::clientCount() const {
    return int(clients_.size());
}

int ObsWebSocketServer::identifiedCount() const {
    return admittedCount(clients_, &Client::identified);
}

ObsWebSocketServer::Client* ObsWebSocketServer::find(QWebSocket* socket) {
    return findOpen(clients_, socket);
}

void ObsWebSocketServer::accept() {
    while (QWebSocket* socket = nextConnection(server_, this)) {
        if (identifiedCount() >= options_.maxClients) {
            socket->close(QWebSocketProtocol::CloseCodePolicyViolated,
                          QString::fromStdString(tooManyClientsText(options_.maxClients)));
            socket->deleteLater();
            continue;
        }
        for (QWebSocket* waiting : waitingToMakeWay(clients_, &Client::identified, options_.maxWaiting))
            drop(waiting, closeCode::notIdentified, "too many connections waiting to identify");

        auto client = std::make_unique<Client>(socket, options_);
        client->encoding = encodingOf(socket->subprotocol().toStdString()).value_or(Encoding::json);
        client->salt = base64(QByteArray::fromHex(QByteArray::fromStdString(randomHex(32))));
        client->challenge = base64(QByteArray::fromHex(QByteArray::fromStdString(randomHex(32))));
        client->deadline.setSingleShot(true);
        connect(&client->deadline, &QTimer::timeout, this,
                [this, socket] { drop(socket, closeCode::notIdentified, "no Identify in time"); });
        client->deadline.start(options_.identifyDeadlineMs);
        connect(socket, &QWebSocket::textMessageReceived, this, [this, socket](const QString& text) {
            if (Client* c = find(socket)) receive(*c, text.toStdString(), false);
        });
        connect(socket, &QWebSocket::binaryMessageReceived, this, [this, socket](const QByteArray& bytes) {
            if (Client* c = find(socket))
                receive(*c, std::string_view(bytes.constData(), std::size_t(bytes.size())), true);
        });
        forgetOnDisconnect(socket, this, clients_, [this] { updateMeterTimer(); });
        Client& added = *client;
        clients_.push_back(std::move(client));
        send(added, op::hello,
             data({{"obsWebSocketVersion", text(kWebSocketVersion)},
                   {"rpcVersion", integer(kRpcVersion)},
                   {"authentication",
                    object({{"challenge", text(added.challenge)}, {"salt", text(added.salt)}})}}));
    }
}

void ObsWebSocketServer::drop(QWebSocket* socket, std::uint16_t code, const std::string& reason) {
    Client* client = find(socket);
    if (!client) return;
    client->closing = true;
    client->deadline.stop();
    socket->flush();
    // Close codes 4000 to 4999 belong to the application; Qt passes them on as given.
    socket->close(static_cast<QWebSocketProtocol::CloseCode>(code),
                  QString::fromStdString(reason.size() <= 123 ? reason : reason.substr(0, 123)));
    cutAfterCloseGrace(socket);
    updateMeterTimer();
}

void ObsWebSocketServer::send(Client& client, int op, json::Object d) {
    if (client.closing) return;
    ++client.outgoing;
    const std::string bytes = encodeMessage(op, std::move(d), client.encoding);
    if (client.encoding == Encoding::json)
        client.socket->sendTextMessage(QString::fromStdString(bytes));
    else
        client.socket->sendBinaryMessage(QByteArray::fromStdString(bytes));
}

void ObsWebSocketServer::event(std::uint32_t intent, std::string_view type, json::Object eventData) {
    json::Object d{{"eventType", text(type)}, {"eventIntent", integer(intent)}};
    if (!eventData.empty()) d.emplace("eventData", json::Value{std::move(eventData)});
    for (auto& client : clients_) {
        if (client->identified && (client->subscriptions & intent)) send(*client, op::event, d);
    }
}

void ObsWebSocketServer::receive(Client& client, std::string_view bytes, bool binary) {
    ++client.incoming;
    const bool identifiedAlready = client.identified;
    if (!client.bucket.take(double(clock_.nsecsElapsed()) * 1e-9)) {
        if (!identifiedAlready || ++client.refusedInARow >= kMaxRefusedInARow) {
            drop(client.socket, closeCode::unknownReason, "too many messages");
            return;
        }
        // Refused without reading it: a flood costs the studio as little as possible.
        return;
    }
    client.refusedInARow = 0;
    if (binary != (client.encoding == Encoding::msgpack)) {
        drop(client.socket, closeCode::messageDecodeError,
             binary ? "binary frames carry MessagePack: ask for obswebsocket.msgpack"
                    : "text frames are not MessagePack");
        return;
    }
    auto decoded = decodeMessage(bytes, client.encoding);
    if (const auto* failure = std::get_if<Failure>(&decoded)) {
        drop(client.socket, failure->closeCode, failure->reason);
        return;
    }
    Message& message = std::get<Message>(decoded);
    if (!client.identified) {
        if (const auto* identifyMessage = std::get_if<Identify>(&message))
            identify(client, *identifyMessage);
        else
            drop(client.socket, closeCode::notIdentified, "send Identify first");
        return;
    }
    std::visit(
        [&](auto& m) {
            using T = std::decay_t<decltype(m)>;
            if constexpr (std::is_same_v<T, Identify>) {
                drop(client.socket, closeCode::alreadyIdentified, "already identified");
            } else if constexpr (std::is_same_v<T, Reidentify>) {
                client.subscriptions = m.eventSubscriptions;
                updateMeterTimer();
                send(client, op::identified, data({{"negotiatedRpcVersion", integer(kRpcVersion)}}));
            } else if constexpr (std::is_same_v<T, Call>) {
                // Answered when done: at once, or when the recorder or renderer has answered.
                handle(client, m,
                       [self = QPointer<ObsWebSocketServer>(this),
                        socket = QPointer<QWebSocket>(client.socket), call = m](const Result& result) {
                           if (!self || !socket) return;
                           if (Client* c = self->find(socket))
                               self->send(*c, op::requestResponse, responseData(call, result));
                       });
            } else {
                // Each request of a batch counts against the budget, as if sent alone.
                const double now = double(clock_.nsecsElapsed()) * 1e-9;
                for (std::size_t i = 1; i < m.requests.size(); ++i) {
                    if (!client.bucket.take(now)) {
                        drop(client.socket, closeCode::unknownReason, "a batch beyond the request budget");
                        return;
                    }
                }
                runBatch(client, std::make_shared<Batch>(std::move(m)), 0, std::make_shared<json::Array>());
            }
        },
        message);
}

void ObsWebSocketServer::identify(Client& client, const Identify& message) {
    const std::string expected = authenticationString(options_.password, client.salt, client.challenge);
    if (!message.authentication || !sameAnswer(*message.authentication, expected)) {
        drop(client.socket, closeCode::authenticationFailed, "authentication failed");
        return;
    }
    if (message.rpcVersion != kRpcVersion) {
        drop(client.socket, closeCode::unsupportedRpcVersion, "the studio speaks RPC version 1");
        return;
    }
    client.deadline.stop();
    if (identifiedCount() >= options_.maxClients) {
        drop(client.socket, QWebSocketProtocol::CloseCodePolicyViolated,
             tooManyClientsText(options_.maxClients));
        return;
    }
    client.identified = true;
    client.subscriptions = message.eventSubscriptions;
    send(client, op::identified, data({{"negotiatedRpcVersion", integer(kRpcVersion)}}));
    updateMeterTimer();
}

void ObsWebSocketServer::runBatch(Client& client, std::shared_ptr<Batch> batch, std::size_t next,
                                  std::shared_ptr<json::Array> results) {
    // Synchronous requests run in this loop; one answered later continues the batch from its answer.
    for (; next < batch->requests.size(); ++next) {
        const Call& call = batch->requests[next];
        // Set by an answer given at once; an answer given later finds `waiting` set instead.
        auto now = std::make_shared<std::optional<Result>>();
        auto waiting = std::make_shared<bool>(false);
        handle(client, call,
               [now, waiting, self = QPointer<ObsWebSocketServer>(this),
                socket = QPointer<QWebSocket>(client.socket), batch, results, next](const Result& result) {
                   if (!*waiting) {
                       *now = result;
                       return;
                   }
                   if (!self || !socket) return;
                   Client* c = self->find(socket);
                   if (!c) return;
                   results->push_back(wrap(responseData(batch->requests[next], result)));
                   const bool halt = batch->haltOnFailure && !result.ok();
                   self->runBatch(*c, batch, halt ? batch->requests.size() : next + 1, results);
               });
        if (!*now) {
            *waiting = true;
            return;
        }
        results->push_back(wrap(responseData(call, **now)));
        if (batch->haltOnFailure && !(*now)->ok()) break;
    }
    send(client, op::requestBatchResponse,
         data({{"requestId", text(batch->requestId)}, {"results", json::Value{*results}}}));
}

void ObsWebSocketServer::handle(Client& client, const Call& call, Done done) {
    if (auto result = handleNow(client, call, done)) done(std::move(*result));
}

// The result at once, or absent when `done` was handed on to be called later.
std::optional<Result> ObsWebSocketServer::handleNow(Client& client, const Call& call, Done& done) {
    const std::string& type = call.requestType;
    const json::Object& in = call.requestData;
    Result bad;
    // The programme mix's sources, or none: then the one input is the recorder's microphone.
    const std::vector<AudioSourceState> mix = studio_.audioSources();
    const AudioSourceState* mixSource = nullptr;
    const auto needInput = [&]() -> std::optional<Result> {
        const std::string* name = json::stringMember(in, "inputName");
        const std::string* uuid = name ? nullptr : json::stringMember(in, "inputUuid");
        if (!name && !uuid) {
            if (json::member(in, "inputName"))
                return failure(status::invalidRequestFieldType,
                               "The field value of `inputName` must be a string.");
            return failure(status::missingRequestField, "Your request is missing the `inputName` field.");
        }
        const auto named = [&](std::string_view input) {
            return name ? *name == input : *uuid == uuidOf(std::string(input));
        };
        if (mix.empty()) {
            if (named(kMicInputName)) return std::nullopt;
        } else {
            for (const AudioSourceState& s : mix) {
                const MixInput* input = mixInputOf(s.source);
                if (input && named(input->name)) {
                    mixSource = &s;
                    return std::nullopt;
                }
            }
        }
        if (!name)
            return failure(status::resourceNotFound, "No source was found by the UUID of `" + *uuid + "`.");
        return failure(status::resourceNotFound, "No source was found by the name of `" + *name + "`.");
    };
    const auto micReady = [&]() -> std::optional<Result> {
        if (!studio_.micAvailable())
            return failure(status::invalidResourceState,
                           "The microphone is taken while Vision Cutout is on.");
        return std::nullopt;
    };

    if (type == "GetVersion") {
        json::Array available;
        for (std::string_view name : requestTypes()) available.push_back(text(name));
        return ok(data({{"obsVersion", text("Vantry Pro")},
                        {"obsWebSocketVersion", text(kWebSocketVersion)},
                        {"rpcVersion", integer(kRpcVersion)},
                        {"availableRequests", json::Value{std::move(available)}},
                        {"supportedImageFormats", array({text("png"), text("jpg")})},
                        {"platform", text("linux")},
                        {"platformDescription", text(QSysInfo::prettyProductName().toStdString())}}));
    }
    if (type == "GetStats") {
        // The CPU time the process took since the server started, against the time that passed.
        const double seconds = std::max(1e-3, double(clock_.nsecsElapsed()) * 1e-9);
        const QStorageInfo home(QDir::homePath());
        return ok(data({{"cpuUsage", number(100.0 * (cpuSeconds() - cpuAtStart_) / seconds)},
                        {"memoryUsage", number(residentMegabytes())},
                        {"availableDiskSpace", number(double(home.bytesAvailable()) / (1024.0 * 1024.0))},
                        {"activeFps", number(0)},
                        {"averageFrameRenderTime", number(0)},
                        {"renderSkippedFrames", integer(0)},
                        {"renderTotalFrames", integer(0)},
                        {"outputSkippedFrames", integer(0)},
                        {"outputTotalFrames", integer(0)},
                        {"webSocketSessionIncomingMessages", integer(client.incoming)},
                        {"webSocketSessionOutgoingMessages", integer(client.outgoing)}}));
    }
    if (type == "GetSceneList") {
        const std::string program = programScene();
        return ok(data({{"currentProgramSceneName", text(program)},
                        {"currentProgramSceneUuid", text(uuidOf(program))},
                        {"currentPreviewSceneName", null()},
                        {"currentPreviewSceneUuid", null()},
                        {"scenes", sceneArray()}}));
    }
    if (type == "GetCurrentProgramScene") {
        const std::string program = programScene();
        return ok(data({{"currentProgramSceneName", text(program)},
                        {"currentProgramSceneUuid", text(uuidOf(program))},
                        {"sceneName", text(program)},
                        {"sceneUuid", text(uuidOf(program))}}));
    }
    if (type == "SetCurrentProgramScene") {
        const std::string* name = json::stringMember(in, "sceneName");
        if (!name) {
            // A scene may be named by its uuid instead.
            if (const std::string* uuid = json::stringMember(in, "sceneUuid")) {
                for (const std::string& scene : sceneNames())
                    if (uuidOf(scene) == *uuid) return setProgramScene(scene);
                return failure(status::resourceNotFound,
                               "No scene was found by the UUID of `" + *uuid + "`.");
            }
            stringField(in, "sceneName", bad);
            return bad;
        }
        return setProgramScene(*name);
    }
    if (type == "GetCurrentPreviewScene") return failure(506, "Studio mode is not enabled.");
    if (type == "GetStreamStatus") return ok(streamStatus());
    if (type == "StartStream") return stream(true);
    if (type == "StopStream") return stream(false);
    if (type == "ToggleStream") {
        Result r = stream(!studio_.isLive());
        if (r.ok()) r.responseData = data({{"outputActive", boolean(studio_.isLive())}});
        return r;
    }
    if (type == "GetRecordStatus") return ok(recordStatus());
    if (type == "StartRecord" || type == "StopRecord" || type == "ToggleRecord") {
        const bool toggled = type == "ToggleRecord";
        const bool start = toggled ? !studio_.isRecording() : type == "StartRecord";
        record(start, toggled, std::move(done));
        return std::nullopt;
    }
    if (type == "GetInputList") {
        const std::string* kind = json::stringMember(in, "inputKind");
        json::Array inputs;
        const auto add = [&](std::string_view name, std::string_view inputKind) {
            if (kind && *kind != inputKind) return;
            inputs.push_back(object({{"inputName", text(name)},
                                     {"inputUuid", text(uuidOf(std::string(name)))},
                                     {"inputKind", text(inputKind)},
                                     {"unversionedInputKind", text(inputKind)}}));
        };
        if (mix.empty()) add(kMicInputName, kMicInputKind);
        for (const AudioSourceState& s : mix)
            if (const MixInput* input = mixInputOf(s.source)) add(input->name, input->kind);
        return ok(data({{"inputs", json::Value{std::move(inputs)}}}));
    }
    if (type == "GetInputMute") {
        if (auto f = needInput()) return f;
        return ok(data({{"inputMuted", boolean(mixSource ? mixSource->muted : studio_.micMuted())}}));
    }
    if (type == "SetInputMute" || type == "ToggleInputMute") {
        if (auto f = needInput()) return f;
        bool muted = !(mixSource ? mixSource->muted : studio_.micMuted());
        if (type == "SetInputMute") {
            const auto given = boolField(in, "inputMuted", bad);
            if (!given) return bad;
            muted = *given;
        }
        if (mixSource) {
            if (!studio_.setAudioMute(mixSource->source, muted))
                return failure(status::invalidResourceState, "The programme sound is not running.");
            // A muted microphone is left out of the recording too.
            if (mixSource->source == "mic" && studio_.micAvailable()) studio_.setMicMuted(muted);
        } else {
            if (auto f = micReady()) return f;
            studio_.setMicMuted(muted);
        }
        scheduleUpdate();
        if (type == "SetInputMute") return ok();
        return ok(data({{"inputMuted", boolean(muted)}}));
    }
    if (type == "GetInputVolume") {
        if (auto f = needInput()) return f;
        const double mul = mixSource ? multiplier(mixSource->gainDb) : micVolume_;
        return ok(data({{"inputVolumeMul", number(mul)}, {"inputVolumeDb", number(decibels(mul))}}));
    }
    if (type == "SetInputVolume") {
        if (auto f = needInput()) return f;
        const auto mul = numberField(in, "inputVolumeMul", 0, 20, false, bad);
        if (!bad.ok()) return bad;
        const auto db = numberField(in, "inputVolumeDb", -100, 26, false, bad);
        if (!bad.ok()) return bad;
        if (mul && db) return failure(404, "Give `inputVolumeMul` or `inputVolumeDb`, not both.");
        if (!mul && !db)
            return failure(status::missingRequestField,
                           "Your request is missing the `inputVolumeMul` or `inputVolumeDb` field.");
        const double value = mul ? *mul : multiplier(*db);
        if (mixSource) {
            // The mix's gain spans kMinAudioGainDb..kMaxAudioGainDb: a volume below is its
            // lowest gain (silence is the mute's), one above its highest. The InputVolumeChanged
            // event tells the gain the mix took.
            const double gain = std::clamp(decibels(value), kMinAudioGainDb, kMaxAudioGainDb);
            if (!studio_.setAudioGain(mixSource->source, gain))
                return failure(status::invalidResourceState, "The programme sound is not running.");
            scheduleUpdate();
            return ok();
        }
        if (value != micVolume_) {
            micVolume_ = value;
            event(subscription::inputs, "InputVolumeChanged",
                  data({{"inputName", text(kMicInputName)},
                        {"inputUuid", text(uuidOf(std::string(kMicInputName)))},
                        {"inputVolumeMul", number(micVolume_)},
                        {"inputVolumeDb", number(decibels(micVolume_))}}));
        }
        return ok();
    }
    if (type == "GetSourceScreenshot") {
        const std::string* source = stringField(in, "sourceName", bad);
        if (!source) {
            if (!json::member(in, "sourceUuid")) return bad;
        }
        const std::string program = programScene();
        const std::string* uuid = json::stringMember(in, "sourceUuid");
        const std::string name = source ? *source : std::string();
        const std::vector<std::string> scenes = sceneNames();
        const bool known = source ? std::find(scenes.begin(), scenes.end(), name) != scenes.end()
                                  : std::any_of(scenes.begin(), scenes.end(),
                                                [&](const std::string& s) { return uuidOf(s) == *uuid; });
        if (!known)
            return failure(status::resourceNotFound,
                           "No source was found by the name of `" + (source ? name : *uuid) + "`.");
        if (source ? name != program : *uuid != uuidOf(program))
            return failure(status::invalidResourceState,
                           "Only the program scene `" + program + "` can be captured.");
        const std::string* format = stringField(in, "imageFormat", bad);
        if (!format) return bad;
        if (*format != "png" && *format != "jpg" && *format != "jpeg")
            return failure(status::invalidRequestField,
                           "Unsupported image format: " + *format + " (png or jpg).");
        const auto width = numberField(in, "imageWidth", 8, 4096, false, bad);
        if (!bad.ok()) return bad;
        const auto height = numberField(in, "imageHeight", 8, 4096, false, bad);
        if (!bad.ok()) return bad;
        const auto quality = numberField(in, "imageCompressionQuality", -1, 100, false, bad);
        if (!bad.ok()) return bad;
        if (!client.screenshots.take(double(clock_.nsecsElapsed()) * 1e-9))
            return failure(
                status::requestProcessingFailed,
                "At most " + json::formatDouble(options_.screenshotsPerSecond) + " screenshots a second.");
        // The program's aspect ratio is kept when one side is given.
        int w = kBaseWidth, h = kBaseHeight;
        if (width && height) {
            w = int(*width);
            h = int(*height);
        } else if (width) {
            w = int(*width);
            h = std::max(8, int(std::lround(*width * kBaseHeight / kBaseWidth)));
        } else if (height) {
            h = int(*height);
            w = std::max(8, int(std::lround(*height * kBaseWidth / kBaseHeight)));
        }
        const QByteArray fmt = *format == "png" ? QByteArrayLiteral("PNG") : QByteArrayLiteral("JPG");
        const std::string mime = *format == "png" ? "image/png" : "image/jpeg";
        const int q = quality ? int(*quality) : -1;
        const bool asked = studio_.requestProgramPicture(w, h, [done, fmt, mime, q](const QImage& picture) {
            if (picture.isNull())
                return done(
                    failure(status::requestProcessingFailed, "The program picture could not be rendered."));
            QByteArray bytes;
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::WriteOnly);
            if (!picture.convertToFormat(QImage::Format_RGB32).save(&buffer, fmt.constData(), q))
                return done(failure(status::requestProcessingFailed, "The picture could not be encoded."));
            done(ok(
                data({{"imageData", text("data:" + mime + ";base64," + bytes.toBase64().toStdString())}})));
        });
        if (!asked)
            return failure(status::requestProcessingFailed, "The program picture cannot be rendered here.");
        return std::nullopt;
    }
    if (type == "GetStudioModeEnabled") return ok(data({{"studioModeEnabled", boolean(false)}}));
    if (type == "GetHotkeyList") return ok(data({{"hotkeys", array({})}}));
    if (type == "GetOutputList") return ok(data({{"outputs", array({})}}));
    if (type == "GetMonitorList") return ok(data({{"monitors", array({})}}));
    if (type == "GetVideoSettings")
        return ok(data({{"fpsNumerator", integer(kFps)},
                        {"fpsDenominator", integer(1)},
                        {"baseWidth", integer(kBaseWidth)},
                        {"baseHeight", integer(kBaseHeight)},
                        {"outputWidth", integer(kBaseWidth)},
                        {"outputHeight", integer(kBaseHeight)}}));
    if (type == "GetReplayBufferStatus") return ok(data({{"outputActive", boolean(false)}}));
    if (type == "GetInputKindList") {
        json::Array kinds;
        if (mix.empty()) kinds.push_back(text(kMicInputKind));
        for (const AudioSourceState& s : mix)
            if (const MixInput* input = mixInputOf(s.source)) kinds.push_back(text(input->kind));
        return ok(data({{"inputKinds", json::Value{std::move(kinds)}}}));
    }
    if (type == "GetProfileList")
        return ok(data({{"currentProfileName", text("")}, {"profiles", array({})}}));
    if (type == "GetSceneCollectionList")
        return ok(data({{"currentSceneCollectionName", text("")}, {"sceneCollections", array({})}}));
    if (type == "GetSceneTransitionList")
        return ok(data({{"currentSceneTransitionName", null()},
                        {"currentSceneTransitionUuid", null()},
                        {"currentSceneTransitionKind", null()},
                        {"transitions", array({})}}));
    if (type == "GetSpecialInputs")
        return ok(data({{"desktop1", mixInputOf("desktop") && std::any_of(mix.begin(), mix.end(),
                                                                          [](const AudioSourceState& s) {
                                                                              return s.source == "desktop";
                                                                          })
                                         ? text("Desktop Audio")
                                         : null()},
                        {"desktop2", null()},
                        {"mic1", text(kMicInputName)},
                        {"mic2", null()},
                        {"mic3", null()},
                        {"mic4", null()}}));
    return failure(status::unknownRequestType, "Your request type is not valid.");
}

// ---- scenes

ObsWebSocketServer::Look ObsWebSocketServer::currentLook() const {
    return Look{studio_.setId(), studio_.angle(), studio_.keyGain(), studio_.neonGain(),
                studio_.ledBrightness()};
}

std::optional<std::string> ObsWebSocketServer::shotName(int index) const {
    if (!shots_ || index < 0 || index >= shots_->shotCount()) return std::nullopt;
    const auto shot = json::parse(shots_->shotJson(index));
    const json::Object* o = shot ? shot->object() : nullptr;
    const std::string* name = o ? json::stringMember(*o, "name") : nullptr;
    if (!name) return std::nullopt;
    return *name;
}

std::vector<std::string> ObsWebSocketServer::sceneNames() const {
    std::vector<std::string> out;
    const int count = shots_ ? shots_->shotCount() : 0;
    for (int i = 0; i < count; ++i) {
        if (auto name = shotName(i)) out.push_back(std::move(*name));
    }
    for (auto angle : BroadcastCameraAngle::allCases()) out.emplace_back(angle.title());
    return out;
}

std::string ObsWebSocketServer::programScene() const {
    if (recalled_ && !pendingRecall_) return recalled_->name;
    if (pendingRecall_)
        if (auto name = shotName(*pendingRecall_)) return *name;
    return studio_.angleTitle();
}

json::Value ObsWebSocketServer::sceneArray() const {
    json::Array scenes;
    const std::vector<std::string> names = sceneNames();
    for (std::size_t i = 0; i < names.size(); ++i)
        scenes.push_back(object({{"sceneIndex", integer(std::int64_t(i))},
                                 {"sceneName", text(names[i])},
                                 {"sceneUuid", text(uuidOf(names[i]))}}));
    return json::Value{std::move(scenes)};
}

Result ObsWebSocketServer::setProgramScene(const std::string& name) {
    const int count = shots_ ? shots_->shotCount() : 0;
    for (int i = 0; i < count; ++i) {
        if (shotName(i) != name) continue;
        std::string why;
        if (!shots_->recallShot(i, &why))
            return failure(status::requestProcessingFailed,
                           why.empty() ? "The shot could not be recalled." : why);
        // The look the shot leaves on screen is read once its changes have landed.
        pendingRecall_ = i;
        scheduleUpdate();
        return ok();
    }
    for (auto angle : BroadcastCameraAngle::allCases()) {
        if (angle.title() != name) continue;
        recalled_.reset();
        pendingRecall_.reset();
        studio_.setAngle(int(angle.id()));
        scheduleUpdate();
        return ok();
    }
    return failure(status::resourceNotFound, "No source was found by the name of `" + name + "`.");
}

void ObsWebSocketServer::shotsChanged() {
    scheduleUpdate();
}

void ObsWebSocketServer::shotRecalled(int index) {
    pendingRecall_ = index;
    scheduleUpdate();
}

// ---- outputs

json::Object ObsWebSocketServer::streamStatus() const {
    const bool active = studio_.isLive();
    const std::int64_t ms = active && streamClock_.isValid() ? streamClock_.elapsed() : 0;
    return data({{"outputActive", boolean(active)},
                 {"outputReconnecting", boolean(active && streamPhase_ == "reconnecting")},
                 {"outputTimecode", text(timecode(ms))},
                 {"outputDuration", integer(ms)},
                 {"outputCongestion", number(0)},
                 {"outputBytes", integer(0)},
                 {"outputSkippedFrames", integer(0)},
                 {"outputTotalFrames", integer(0)}});
}

json::Object ObsWebSocketServer::recordStatus() const {
    const bool active = studio_.isRecording();
    const std::int64_t ms = active && recordClock_.isValid() ? recordClock_.elapsed() : 0;
    return data({{"outputActive", boolean(active)},
                 {"outputPaused", boolean(false)},
                 {"outputTimecode", text(timecode(ms))},
                 {"outputDuration", integer(ms)},
                 {"outputBytes", integer(0)}});
}

Result ObsWebSocketServer::stream(bool start) {
    if (start) {
        if (studio_.isLive()) return failure(status::outputRunning, "The stream output is already running.");
        // The GO LIVE section's own address and key.
        studio_.goLive();
        if (studio_.liveState() == "failed")
            return failure(status::requestProcessingFailed, studio_.liveStatus());
    } else {
        if (!studio_.isLive()) return failure(status::outputNotRunning, "The stream output is not running.");
        studio_.endStream();
    }
    scheduleUpdate();
    return ok();
}

void ObsWebSocketServer::record(bool start, bool toggled, Done done) {
    using Kind = RecordingReply::Kind;
    if (start && studio_.isRecording())
        return done(failure(status::outputRunning, "The record output is already running."));
    if (!start && !studio_.isRecording())
        return done(failure(status::outputNotRunning, "The record output is not running."));
    const bool asked = studio_.requestRecording(start, [self = QPointer<ObsWebSocketServer>(this), start,
                                                        toggled, done](const RecordingReply& reply) {
        switch (reply.kind) {
            case Kind::started:
                done(toggled ? ok(data({{"outputActive", boolean(true)}})) : ok());
                break;
            case Kind::saved:
                if (self) {
                    self->savedRecording_ = reply.file.string();
                    self->scheduleUpdate();
                }
                done(toggled ? ok(data({{"outputActive", boolean(false)}}))
                             : ok(data({{"outputPath", text(reply.file.string())}})));
                break;
            case Kind::alreadyRunning:
                done(failure(status::outputRunning, "The record output is already running."));
                break;
            case Kind::notRunning:
                done(failure(status::outputNotRunning, "The record output is not running."));
                break;
            case Kind::starting:
                done(failure(status::notReady, "The recording is still starting."));
                break;
            case Kind::saving:
                done(failure(status::notReady, "The last recording is still being saved."));
                break;
            case Kind::unavailable:
                done(failure(status::notReady, reply.reason));
                break;
            case Kind::failed:
                done(failure(status::requestProcessingFailed,
                             reply.reason.empty()
                                 ? (start ? "The recording did not start." : "The recording was not saved.")
                                 : reply.reason));
                break;
        }
    });
    if (!asked) done(failure(status::notReady, "Recording needs Vision Cutout on (its controller records)."));
}

// ---- events

void ObsWebSocketServer::scheduleUpdate() {
    if (!updateTimer_.isActive()) updateTimer_.start();
}

void ObsWebSocketServer::update() {
    // Scenes: a recall's look is what the shot put on screen; any change of it leaves the shot.
    if (pendingRecall_) {
        if (auto name = shotName(*pendingRecall_)) recalled_ = Recalled{std::move(*name), currentLook()};
        pendingRecall_.reset();
    } else if (recalled_) {
        const std::vector<std::string> names = sceneNames();
        const bool stillThere = std::find(names.begin(), names.end() - 4, recalled_->name) != names.end() - 4;
        if (!stillThere || !(recalled_->look == currentLook())) recalled_.reset();
    }
    const std::vector<std::string> scenes = sceneNames();
    if (scenes != toldScenes_) {
        toldScenes_ = scenes;
        event(subscription::scenes, "SceneListChanged", data({{"scenes", sceneArray()}}));
    }
    const std::string program = programScene();
    if (program != toldProgram_) {
        toldProgram_ = program;
        event(subscription::scenes, "CurrentProgramSceneChanged",
              data({{"sceneName", text(program)}, {"sceneUuid", text(uuidOf(program))}}));
    }

    // The stream: the GO LIVE section's state as the protocol's output states.
    const std::string state = studio_.liveState();
    std::string phase = "stopped";
    if (studio_.isLive()) {
        if (state == "live" || state == "partial")
            phase = streamPhase_ == "reconnecting" ? "reconnected" : "started";
        else if (state == "connecting")
            phase = streamPhase_ == "stopped" || streamPhase_ == "starting" ? "starting" : "reconnecting";
        else
            phase = streamPhase_ == "stopped" ? "starting" : "reconnecting";
    }
    const std::string told = streamPhase_ == "reconnected" ? "started" : streamPhase_;
    const std::string now = phase == "reconnected" ? "started" : phase;
    if (now != told || phase == "reconnected") {
        const auto tell = [this](const std::string& p, bool active) {
            event(subscription::outputs, "StreamStateChanged",
                  data({{"outputActive", boolean(active)}, {"outputState", text(outputState(p))}}));
        };
        if (told == "stopped") streamClock_.start();
        if (phase == "stopped") {
            tell("stopping", false);
            tell("stopped", false);
            streamClock_.invalidate();
        } else {
            tell(phase, phase != "starting");
        }
        streamPhase_ = phase == "reconnected" ? "started" : phase;
    }

    // The recording.
    const bool recording = studio_.isRecording();
    if (recording != toldRecording_) {
        toldRecording_ = recording;
        if (recording) {
            recordClock_.start();
            savedRecording_.clear();
            event(subscription::outputs, "RecordStateChanged",
                  data({{"outputActive", boolean(true)},
                        {"outputState", text(outputState("started"))},
                        {"outputPath", null()}}));
        } else {
            recordClock_.invalidate();
            event(subscription::outputs, "RecordStateChanged",
                  data({{"outputActive", boolean(false)},
                        {"outputState", text(outputState("stopped"))},
                        {"outputPath", savedRecording_.empty() ? null() : text(savedRecording_)}}));
        }
    }

    // The inputs: the mix's sources, or without a mix the recorder's microphone.
    const std::vector<AudioSourceState> mix = studio_.audioSources();
    const auto tellMute = [this](std::string_view name, bool muted) {
        event(subscription::inputs, "InputMuteStateChanged",
              data({{"inputName", text(name)},
                    {"inputUuid", text(uuidOf(std::string(name)))},
                    {"inputMuted", boolean(muted)}}));
    };
    if (mix.empty()) {
        const bool muted = studio_.micMuted();
        if (muted != toldMicMuted_) {
            toldMicMuted_ = muted;
            tellMute(kMicInputName, muted);
        }
    }
    for (const AudioSourceState& now : mix) {
        const MixInput* input = mixInputOf(now.source);
        if (!input) continue;
        auto was = std::find_if(toldAudio_.begin(), toldAudio_.end(),
                                [&](const AudioSourceState& s) { return s.source == now.source; });
        if (was == toldAudio_.end() || was->muted != now.muted) tellMute(input->name, now.muted);
        if (was == toldAudio_.end() || was->gainDb != now.gainDb) {
            const double mul = multiplier(now.gainDb);
            event(subscription::inputs, "InputVolumeChanged",
                  data({{"inputName", text(input->name)},
                        {"inputUuid", text(uuidOf(std::string(input->name)))},
                        {"inputVolumeMul", number(mul)},
                        {"inputVolumeDb", number(decibels(mul))}}));
        }
    }
    toldAudio_ = mix;
}

void ObsWebSocketServer::updateMeterTimer() {
    const bool wanted = std::any_of(clients_.begin(), clients_.end(), [](const auto& c) {
        return c->identified && !c->closing && (c->subscriptions & subscription::inputVolumeMeters);
    });
    if (wanted && !meterTimer_.isActive()) meterTimer_.start();
    if (!wanted) meterTimer_.stop();
}

void ObsWebSocketServer::sendMeters() {
    // One entry per channel: magnitude, peak and input peak (before the volume).
    json::Array inputs;
    const auto add = [&inputs](std::string_view name, double magnitude, double peak, double inputPeak) {
        const json::Value channel = array({number(magnitude), number(peak), number(inputPeak)});
        inputs.push_back(object({{"inputName", text(name)},
                                 {"inputUuid", text(uuidOf(std::string(name)))},
                                 {"inputLevelsMul", array({channel, channel})}}));
    };
    const std::vector<AudioSourceState> mix = studio_.audioSources();
    if (mix.empty()) {
        const double level = studio_.micMuted() ? 0.0 : std::clamp(studio_.micLevel(), 0.0, 1.0);
        add(kMicInputName, level * micVolume_, level * micVolume_, level);
    } else {
        // The mix measures each source after its gain and mute, in dBFS.
        const std::vector<AudioMeter> meters = studio_.audioMeters();
        for (const AudioSourceState& s : mix) {
            const MixInput* input = mixInputOf(s.source);
            if (!input) continue;
            auto meter = std::find_if(meters.begin(), meters.end(),
                                      [&](const AudioMeter& m) { return m.source == s.source; });
            const double rms = meter == meters.end() ? 0.0 : multiplier(std::max(-100.0, meter->rmsDb));
            const double peak = meter == meters.end() ? 0.0 : multiplier(std::max(-100.0, meter->peakDb));
            add(input->name, rms, peak, s.muted ? 0.0 : peak / multiplier(s.gainDb));
        }
    }
    json::Object d{{"eventType", text("InputVolumeMeters")},
                   {"eventIntent", integer(subscription::inputVolumeMeters)},
                   {"eventData", object({{"inputs", json::Value{std::move(inputs)}}})}};
    for (auto& client : clients_) {
        if (client->identified && (client->subscriptions & subscription::inputVolumeMeters))
            send(*client, op::event, d);
    }
}

}  // namespace vantry::remote
