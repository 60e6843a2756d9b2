#include "app/remote/RemoteServer.h"

#include <QStandardPaths>
#include <QWebSocket>
#include <QWebSocketServer>
#include <algorithm>
#include <system_error>

#include "app/remote/RemoteAdmission.h"
#include "app/remote/RemoteLimits.h"
#include "app/remote/RemoteSecret.h"
#include "studio/StudioCatalogue.h"

namespace vantry::remote {
namespace {

// The window's slider ranges: a client sets the gains within them, as a user can.
struct Range {
    double from;
    double to;
};
constexpr Range kKeyGain{0.4, 2.4};
constexpr Range kNeonGain{0.2, 2.5};
constexpr Range kLedBrightness{0.5, 1.8};

// A float as the double its shortest text stands for (1.35f reads 1.35, not 1.350000023841858).
double shortest(float value) {
    return json::toDouble(json::Number{json::formatFloat(value)}).value_or(value);
}

std::string utf8(const QString& s) {
    return s.toStdString();
}

std::string rangeText(const char* name, Range r) {
    return "\"" + std::string(name) + "\" must be from " + json::formatDouble(r.from) + " to " +
           json::formatDouble(r.to);
}

// A file that is not there yet: `name`, else "<stem> 2<ext>", "<stem> 3<ext>", ...
std::filesystem::path unusedFile(const std::filesystem::path& folder, const std::filesystem::path& name) {
    std::error_code ec;
    std::filesystem::path candidate = folder / name;
    for (int n = 2; std::filesystem::exists(std::filesystem::symlink_status(candidate, ec)) && n < 10000;
         ++n) {
        candidate = folder / (name.stem().string() + " " + std::to_string(n) + name.extension().string());
    }
    return candidate;
}

// The answer to a start or stop: what the recorder really did.
std::string recordingAnswer(const json::Value& id, const RecordingReply& outcome) {
    using Kind = RecordingReply::Kind;
    switch (outcome.kind) {
        case Kind::started:
            return encodeResult(id, "{}");
        case Kind::alreadyRunning:
            return encodeResult(id, "{\"alreadyRecording\":true}");
        case Kind::saved:
            return encodeResult(id, "{\"file\":" + quoteText(outcome.file.string()) + "}");
        case Kind::notRunning:
            return encodeError(id, code::unavailable, "no recording is running");
        case Kind::starting:
            return encodeError(id, code::unavailable, "the recording is still starting");
        case Kind::saving:
            return encodeError(id, code::unavailable, "the last recording is still being saved");
        case Kind::unavailable:
            return encodeError(id, code::unavailable, outcome.reason);
        case Kind::failed:
            break;
    }
    return encodeError(id, code::failed, outcome.reason);
}

}  // namespace

struct RemoteServer::Client {
    QWebSocket* socket = nullptr;
    std::string nonce;
    bool authenticated = false;
    bool subscribed = false;
    bool meters = false;  // subscribed to the meters too
    bool closing = false;
    int malformed = 0;
    int refusedInARow = 0;
    TokenBucket bucket;
    QTimer deadline;

    Client(QWebSocket* s, double perSecond, double burst) : socket(s), bucket(perSecond, burst) {}
};

RemoteServer::RemoteServer(RemoteStudio& studio, RemoteShots* shots, Options options, QObject* parent)
    : QObject(parent), studio_(studio), shots_(shots), options_(std::move(options)) {
    clock_.start();
    stateTimer_.setSingleShot(true);
    stateTimer_.setInterval(0);
    connect(&stateTimer_, &QTimer::timeout, this, &RemoteServer::sendStateEvent);
    connect(&studio_, &RemoteStudio::changed, this, &RemoteServer::scheduleStateEvent);
    metersTimer_.setInterval(1000 / kMetersPerSecond);
    connect(&metersTimer_, &QTimer::timeout, this, &RemoteServer::sendMeters);
    scheduleStateEvent();
    lastState_ = currentState();
}

RemoteServer::~RemoteServer() {
    close();
}

bool RemoteServer::listen(QString* error) {
    if (server_) return true;
    server_ = listenForClients(
        this, options_.host, options_.port, {}, [this] { accept(); }, error);
    if (!server_) return false;
    lastState_ = currentState();
    return true;
}

void RemoteServer::close() {
    closeClients(clients_, server_, this);
}

bool RemoteServer::isListening() const {
    return server_ && server_->isListening();
}

quint16 RemoteServer::port() const {
    return server_ ? server_->serverPort() : 0;
}

int RemoteServer::clientCount() const {
    return int(clients_.size());
}

int RemoteServer::authenticatedCount() const {
    return admittedCount(clients_, &Client::authenticated);
}

RemoteServer::Client* RemoteServer::find(QWebSocket* socket) {
    return findOpen(clients_, socket);
}

void RemoteServer::accept() {
    while (QWebSocket* socket = nextConnection(server_, this)) {
        if (authenticatedCount() >= options_.maxClients) {
            socket->sendTextMessage(QString::fromStdString(
                encodeError(std::nullopt, code::tooMany, tooManyClientsText(options_.maxClients))));
            socket->close(QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("too many clients"));
            socket->deleteLater();
            continue;
        }
        for (QWebSocket* waiting : waitingToMakeWay(clients_, &Client::authenticated, options_.maxWaiting))
            drop(waiting, encodeError(std::nullopt, code::notAuthenticated,
                                      "too many connections waiting to authenticate"));
        auto client = std::make_unique<Client>(socket, options_.requestsPerSecond, options_.requestBurst);
        client->nonce = randomHex(32);
        client->deadline.setSingleShot(true);
        connect(&client->deadline, &QTimer::timeout, this, [this, socket] {
            drop(socket,
                 encodeError(std::nullopt, code::notAuthenticated, "no answer to the challenge in time"));
        });
        client->deadline.start(options_.authDeadlineMs);
        connect(socket, &QWebSocket::textMessageReceived, this, [this, socket](const QString& text) {
            if (Client* c = find(socket)) receive(*c, text);
        });
        connect(socket, &QWebSocket::binaryMessageReceived, this, [this, socket](const QByteArray&) {
            if (Client* c = find(socket)) receive(*c, QString());
        });
        forgetOnDisconnect(socket, this, clients_);
        Client& added = *client;
        clients_.push_back(std::move(client));
        send(added, encodeEvent("challenge", "\"nonce\":\"" + added.nonce + "\",\"protocol\":1"));
    }
}

void RemoteServer::drop(QWebSocket* socket, const std::string& lastWords) {
    Client* client = find(socket);
    if (!client) return;
    client->closing = true;
    client->deadline.stop();
    // The last words go out after every answer already sent; the close frame carries their message.
    QString reason = QStringLiteral("closed by the studio");
    if (!lastWords.empty()) {
        socket->sendTextMessage(QString::fromStdString(lastWords));
        const auto words = json::parse(lastWords);
        const json::Object* object = words ? words->object() : nullptr;
        const json::Value* error = object ? json::member(*object, "error") : nullptr;
        const std::string* message =
            error && error->object() ? json::stringMember(*error->object(), "message") : nullptr;
        // A close frame's reason holds at most 123 bytes.
        if (message && !message->empty() && message->size() <= 123) reason = QString::fromStdString(*message);
    }
    socket->flush();
    socket->close(QWebSocketProtocol::CloseCodePolicyViolated, reason);
    cutAfterCloseGrace(socket);
}

void RemoteServer::send(Client& client, const std::string& text) {
    if (!client.closing) client.socket->sendTextMessage(QString::fromStdString(text));
}

void RemoteServer::broadcast(const std::string& text) {
    for (auto& client : clients_) {
        if (client->authenticated && client->subscribed) send(*client, text);
    }
}

void RemoteServer::receive(Client& client, const QString& text) {
    if (!client.bucket.take(double(clock_.nsecsElapsed()) * 1e-9)) {
        if (++client.refusedInARow >= kMaxRefusedInARow) {
            drop(client.socket, encodeError(std::nullopt, code::rateLimited, "too many requests; closing"));
            return;
        }
        // The id is not looked for: a refused request costs the studio as little as possible.
        send(client, encodeError(std::nullopt, code::rateLimited,
                                 "at most " + json::formatDouble(options_.requestsPerSecond) +
                                     " requests per second"));
        return;
    }
    client.refusedInARow = 0;
    const auto decoded = text.isEmpty() ? std::variant<Request, DecodeError>(DecodeError{
                                              std::nullopt, code::badRequest, "messages are JSON text"})
                                        : decodeRequest(utf8(text));
    if (const auto* error = std::get_if<DecodeError>(&decoded)) {
        const std::string answer = encodeError(error->id, error->code, error->message);
        if (!client.authenticated || ++client.malformed >= kMaxMalformed) {
            drop(client.socket, answer);
            return;
        }
        send(client, answer);
        return;
    }
    const Request& request = std::get<Request>(decoded);
    if (!client.authenticated) {
        authenticate(client, request);
        return;
    }
    dispatch(client, request);
}

void RemoteServer::authenticate(Client& client, const Request& request) {
    const auto* auth = std::get_if<Authenticate>(&request.command);
    if (!auth) {
        drop(client.socket, encodeError(request.id, code::notAuthenticated, "authenticate first"));
        return;
    }
    if (!sameAnswer(auth->answer, challengeAnswer(options_.secretHex, client.nonce))) {
        drop(client.socket, encodeError(request.id, code::authFailed, "wrong answer to the challenge"));
        return;
    }
    client.deadline.stop();
    if (authenticatedCount() >= options_.maxClients) {
        drop(client.socket, encodeError(request.id, code::tooMany, tooManyClientsText(options_.maxClients)));
        return;
    }
    client.authenticated = true;
    send(client, encodeResult(request.id));
}

void RemoteServer::dispatch(Client& client, const Request& request) {
    const auto ok = [&](std::string_view result = "{}") { send(client, encodeResult(request.id, result)); };
    const auto fail = [&](std::string_view code, const std::string& message) {
        send(client, encodeError(request.id, code, message));
    };
    const auto state = [&] { return "{\"state\":" + encodeState(currentState()) + "}"; };
    const auto slideResult = [&] {
        return "{\"slidePage\":" + std::to_string(studio_.slidePage()) +
               ",\"slideCount\":" + std::to_string(studio_.slideCount()) + "}";
    };

    std::visit(
        [&](const auto& command) {
            using T = std::decay_t<decltype(command)>;
            if constexpr (std::is_same_v<T, Authenticate>) {
                ok();
            } else if constexpr (std::is_same_v<T, ReadState>) {
                ok(state());
            } else if constexpr (std::is_same_v<T, Subscribe>) {
                client.subscribed = command.on;
                client.meters = command.on && command.meters;
                updateMetersTimer();
                ok(state());
            } else if constexpr (std::is_same_v<T, ListShots>) {
                if (!shots_) return fail(code::unavailable, "this studio has no shots");
                ok("{\"shots\":" + shotsArray() + "}");
            } else if constexpr (std::is_same_v<T, RecallShot>) {
                if (!shots_) return fail(code::unavailable, "this studio has no shots");
                if (shots_->shotCount() == 0) return fail(code::unavailable, "no shot has been saved yet");
                if (command.index >= shots_->shotCount())
                    return fail(code::badParams, "there is no shot " + std::to_string(command.index));
                std::string why;
                if (!shots_->recallShot(command.index, &why))
                    return fail(code::failed, why.empty() ? "the shot could not be recalled" : why);
                // Recalled, but part of it did not apply (a wall picture that did not load).
                if (!why.empty()) return ok("{\"warning\":" + quoteText(why) + "}");
                ok();
            } else if constexpr (std::is_same_v<T, SelectSet>) {
                const auto set = BroadcastStudioSet::fromRawValue(command.set);
                if (!set) {
                    std::string known;
                    for (auto s : BroadcastStudioSet::allCases())
                        known += (known.empty() ? "" : ", ") + std::string(s.id());
                    return fail(code::badParams,
                                "no set is called \"" + command.set + "\" (sets: " + known + ")");
                }
                studio_.selectSet(std::string(set->id()));
                ok();
            } else if constexpr (std::is_same_v<T, SetAngle>) {
                const auto angle = BroadcastCameraAngle::fromRawValue(command.angle);
                if (!angle) return fail(code::badParams, "the angles are 0 to 3");
                studio_.setAngle(int(angle->id()));
                ok();
            } else if constexpr (std::is_same_v<T, SetGains>) {
                const auto inRange = [](const std::optional<double>& v, Range r) {
                    return !v || (*v >= r.from && *v <= r.to);
                };
                if (!inRange(command.key, kKeyGain)) return fail(code::badParams, rangeText("key", kKeyGain));
                if (!inRange(command.neon, kNeonGain))
                    return fail(code::badParams, rangeText("neon", kNeonGain));
                if (!inRange(command.led, kLedBrightness))
                    return fail(code::badParams, rangeText("led", kLedBrightness));
                const auto single = [](const std::optional<double>& v) {
                    return v ? std::optional<float>(float(*v)) : std::nullopt;
                };
                studio_.setGains(single(command.key), single(command.neon), single(command.led));
                ok();
            } else if constexpr (std::is_same_v<T, SetWallImage>) {
                // Only a regular file: reading a pipe or a device would stall the window.
                std::error_code ec;
                if (!std::filesystem::is_regular_file(command.path, ec))
                    return fail(code::failed, "'" + command.path + "' is not a file");
                if (!studio_.mountSlide(command.path)) return fail(code::failed, studio_.statusBanner());
                ok();
            } else if constexpr (std::is_same_v<T, StepSlide>) {
                if (studio_.wallKind() != "pdf")
                    return fail(code::unavailable, "the wall shows no slide deck");
                if (!studio_.stepSlide(command.forward)) {
                    return fail(code::failed, command.forward ? "the deck is at its last page"
                                                              : "the deck is at its first page");
                }
                ok(slideResult());
            } else if constexpr (std::is_same_v<T, SetSlidePage>) {
                if (studio_.wallKind() != "pdf")
                    return fail(code::unavailable, "the wall shows no slide deck");
                if (command.page > studio_.slideCount()) {
                    return fail(code::badParams,
                                "the deck has " + std::to_string(studio_.slideCount()) + " pages");
                }
                studio_.setSlidePage(command.page);  // the page it shows already: nothing to do
                ok(slideResult());
            } else if constexpr (std::is_same_v<T, StopScreenShare>) {
                if (!studio_.stopScreenShare()) return fail(code::unavailable, "no screen is being shared");
                ok();
            } else if constexpr (std::is_same_v<T, SetVisionCutout>) {
                studio_.setVisionCutout(command.on);
                ok();
            } else if constexpr (std::is_same_v<T, SetPresenterMode>) {
                studio_.setPresenterInSet(command.inSet);
                ok();
            } else if constexpr (std::is_same_v<T, Recording>) {
                // Answered with what the recorder did: once it has started, or saved the file.
                const bool asked =
                    studio_.requestRecording(command.start, [self = QPointer<RemoteServer>(this),
                                                             socket = QPointer<QWebSocket>(client.socket),
                                                             id = request.id](const RecordingReply& reply) {
                        if (!self || !socket) return;
                        if (Client* c = self->find(socket)) self->send(*c, recordingAnswer(id, reply));
                    });
                if (!asked)
                    return fail(code::unavailable,
                                "recording needs Vision Cutout on (its controller records)");
            } else if constexpr (std::is_same_v<T, ExportClip>) {
                if (studio_.isExporting()) return fail(code::unavailable, "an export is already running");
                std::filesystem::path folder = options_.exportFolder;
                if (folder.empty())
                    folder = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation).toStdString();
                const std::filesystem::path file = unusedFile(folder, studio_.proposedExportName());
                studio_.startExport(file);
                ok("{\"file\":" + quoteText(file.string()) + "}");
            } else if constexpr (std::is_same_v<T, Live>) {
                // The window's own address and key; they were checked when the user entered them,
                // and going live checks them again.
                if (command.goLive) {
                    studio_.goLive();
                    if (studio_.liveState() == "failed") return fail(code::failed, studio_.liveStatus());
                } else {
                    studio_.endStream();
                }
                ok("{\"liveState\":" +
                   quoteText(overallLiveState(studio_.liveState(), studio_.liveDestinations())) + "}");
            } else if constexpr (std::is_same_v<T, SetMute>) {
                if (!studio_.setAudioMute(command.source, command.on))
                    return fail(code::unavailable,
                                "this studio has no sound source \"" + command.source + "\"");
                ok();
            } else if constexpr (std::is_same_v<T, SetGain>) {
                if (!studio_.setAudioGain(command.source, command.db))
                    return fail(code::unavailable,
                                "this studio has no sound source \"" + command.source + "\"");
                ok();
            }
        },
        request.command);
}

void RemoteServer::updateMetersTimer() {
    const bool wanted = std::any_of(clients_.begin(), clients_.end(), [](const auto& c) {
        return c->authenticated && c->meters && !c->closing;
    });
    if (wanted && !metersTimer_.isActive()) metersTimer_.start();
    if (!wanted) metersTimer_.stop();
}

void RemoteServer::sendMeters() {
    updateMetersTimer();  // the last one who wanted them may have gone
    if (!metersTimer_.isActive()) return;
    const std::string text = encodeEvent("meters", encodeMeters(studio_.audioMeters()));
    for (auto& client : clients_)
        if (client->authenticated && client->meters && !client->closing) send(*client, text);
}

std::string RemoteServer::shotsArray() const {
    std::string out = "[";
    const int count = shots_ ? shots_->shotCount() : 0;
    for (int i = 0; i < count; ++i) {
        if (i > 0) out += ',';
        out += shots_->shotJson(i);
    }
    return out + "]";
}

void RemoteServer::shotsChanged() {
    if (!shots_) return;
    broadcast(encodeEvent("shots", "\"shots\":" + shotsArray()));
    scheduleStateEvent();
}

void RemoteServer::shotRecalled(int index) {
    if (!shots_ || index < 0 || index >= shots_->shotCount()) return;
    broadcast(encodeEvent("shotRecalled",
                          "\"index\":" + std::to_string(index) + ",\"shot\":" + shots_->shotJson(index)));
}

void RemoteServer::scheduleStateEvent() {
    if (!stateTimer_.isActive()) stateTimer_.start();
}

void RemoteServer::sendStateEvent() {
    const StudioState now = currentState();
    const std::vector<std::string> changed = changedFields(lastState_, now);
    lastState_ = now;
    if (changed.empty()) return;
    std::string names = "[";
    for (const std::string& name : changed) names += (names.size() > 1 ? "," : "") + quoteText(name);
    broadcast(encodeEvent("state", "\"changed\":" + names + "],\"state\":" + encodeState(now)));
}

StudioState RemoteServer::currentState() {
    StudioState s;
    s.set = studio_.setId();
    s.setTitle = studio_.setTitle();
    s.angle = studio_.angle();
    s.angleTitle = studio_.angleTitle();
    s.keyGain = shortest(studio_.keyGain());
    s.neonGain = shortest(studio_.neonGain());
    s.ledBrightness = shortest(studio_.ledBrightness());
    s.wallImage = studio_.wallImage();
    s.wallKind = studio_.wallKind();
    s.slidePage = studio_.slidePage();
    s.slideCount = studio_.slideCount();
    s.visionCutout = studio_.visionCutout();
    s.presenterInSet = studio_.presenterInSet();
    s.recorderAvailable = studio_.recorderAvailable();
    s.recording = studio_.isRecording();
    s.exporting = studio_.isExporting();
    s.exportProgress = studio_.exportProgress();
    s.live = studio_.isLive();
    s.liveDestinations = studio_.liveDestinations();
    s.canvases = studio_.destinationCanvases();
    s.liveState = overallLiveState(studio_.liveState(), s.liveDestinations);
    s.liveStatus = studio_.liveStatus();
    s.banner = studio_.statusBanner();
    s.shotCount = shots_ ? shots_->shotCount() : 0;
    s.audio = studio_.audioSources();
    return s;
}

}  // namespace vantry::remote
