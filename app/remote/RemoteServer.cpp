#include "app/remote/RemoteServer.h"

#include <QMetaMethod>
#include <QMetaProperty>
#include <QStandardPaths>
#include <QVariantMap>
#include <QWebSocket>
#include <QWebSocketCorsAuthenticator>
#include <QWebSocketServer>
#include <algorithm>
#include <system_error>

#include "app/remote/RemoteLimits.h"
#include "app/remote/RemoteSecret.h"
#include "app/studio-app/StudioText.h"
#include "app/studio-app/VantryViewModel.h"
#include "creator/studio-overlay/CreatorRecorder.h"

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

// Refused requests in a row after which a flooding client is closed.
constexpr int kMaxRefusedInARow = 200;
// How long a closed client has to acknowledge before its connection is cut.
constexpr int kCloseGraceMs = 2000;

// A float as the double its shortest text stands for (1.35f reads 1.35, not 1.350000023841858).
double shortest(float value) {
    return json::toDouble(json::Number{json::formatFloat(value)}).value_or(value);
}

std::string utf8(const QString& s) {
    return s.toStdString();
}

// The servers the running stream goes to, each with its state and status line (the section's
// others are idle).
std::vector<LiveDestinationState> liveDestinations(const app::GoLiveController& live) {
    std::vector<LiveDestinationState> out;
    const QVariantList states = live.destinationStates();
    for (int i = 0; i < states.size(); ++i) {
        const QVariantMap d = states[i].toMap();
        const QString state = d.value(QStringLiteral("state")).toString();
        if (state == QLatin1String("idle")) continue;
        out.push_back({i + 1, utf8(state), utf8(d.value(QStringLiteral("statusLine")).toString())});
    }
    return out;
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
std::string recordingAnswer(const json::Value& id, const creator::RecordingOutcome& outcome) {
    using Kind = creator::RecordingOutcome::Kind;
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
        case Kind::notStarted:
        case Kind::notSaved:
        case Kind::failing:
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
    bool closing = false;
    int malformed = 0;
    int refusedInARow = 0;
    TokenBucket bucket;
    QTimer deadline;

    Client(QWebSocket* s, double perSecond, double burst) : socket(s), bucket(perSecond, burst) {}
};

RemoteServer::RemoteServer(app::VantryViewModel& vm, RemoteShots* shots, Options options, QObject* parent)
    : QObject(parent), vm_(vm), shots_(shots), options_(std::move(options)) {
    clock_.start();
    stateTimer_.setSingleShot(true);
    stateTimer_.setInterval(0);
    connect(&stateTimer_, &QTimer::timeout, this, &RemoteServer::sendStateEvent);

    using VM = app::VantryViewModel;
    for (auto signal : {&VM::selectedSetChanged, &VM::cameraAngleChanged, &VM::keyGainChanged,
                        &VM::neonGainChanged, &VM::ledBrightnessChanged, &VM::showVisionPresenterChanged,
                        &VM::presenterInSetChanged, &VM::slideNameChanged, &VM::isExportingChanged,
                        &VM::exportProgressChanged, &VM::statusBannerChanged, &VM::screenRecordingChanged}) {
        connect(&vm_, signal, this, &RemoteServer::scheduleStateEvent);
    }
    connect(&vm_, &VM::presenterChanged, this, &RemoteServer::watchPresenter);
    connect(&vm_.goLive(), &app::GoLiveController::stateChanged, this, &RemoteServer::scheduleStateEvent);
    connect(&vm_.goLive(), &app::GoLiveController::destinationStatesChanged, this,
            &RemoteServer::scheduleStateEvent);
    watchPresenter();
    lastState_ = currentState();
}

RemoteServer::~RemoteServer() {
    close();
}

bool RemoteServer::listen(QString* error) {
    if (server_) return true;
    QHostAddress address;
    if (!address.setAddress(options_.host)) {
        if (error) *error = QStringLiteral("'%1' is not an IP address").arg(options_.host);
        return false;
    }
    server_ = new QWebSocketServer(QStringLiteral("Vantry Pro"), QWebSocketServer::NonSecureMode, this);
    // Browsers always name the page that opens a socket; a page has no business here.
    connect(server_, &QWebSocketServer::originAuthenticationRequired, this,
            [](QWebSocketCorsAuthenticator* auth) { auth->setAllowed(auth->origin().isEmpty()); });
    connect(server_, &QWebSocketServer::newConnection, this, &RemoteServer::accept);
    if (!server_->listen(address, options_.port)) {
        if (error) *error = server_->errorString();
        delete server_;
        server_ = nullptr;
        return false;
    }
    lastState_ = currentState();
    return true;
}

void RemoteServer::close() {
    for (auto& client : clients_) {
        client->socket->disconnect(this);
        client->socket->close(QWebSocketProtocol::CloseCodeGoingAway, QStringLiteral("the studio stopped"));
        client->socket->deleteLater();
    }
    clients_.clear();
    if (server_) {
        server_->close();
        server_->deleteLater();
        server_ = nullptr;
    }
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
    return int(std::count_if(clients_.begin(), clients_.end(),
                             [](const auto& c) { return c->authenticated && !c->closing; }));
}

RemoteServer::Client* RemoteServer::find(QWebSocket* socket) {
    for (auto& client : clients_) {
        if (client->socket == socket) return client->closing ? nullptr : client.get();
    }
    return nullptr;
}

void RemoteServer::accept() {
    while (server_ && server_->hasPendingConnections()) {
        QWebSocket* socket = server_->nextPendingConnection();
        socket->setParent(this);
        socket->setMaxAllowedIncomingMessageSize(kMaxMessageBytes);
        socket->setMaxAllowedIncomingFrameSize(kMaxMessageBytes);
        if (authenticatedCount() >= options_.maxClients) {
            socket->sendTextMessage(QString::fromStdString(encodeError(
                std::nullopt, code::tooMany,
                "the studio serves " + std::to_string(options_.maxClients) + " clients at most")));
            socket->close(QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("too many clients"));
            socket->deleteLater();
            continue;
        }
        // Connections that never answer cannot keep a client out: past the cap, the one that has
        // waited longest makes way (it has had the most time to answer).
        std::vector<QWebSocket*> waiting;
        for (const auto& c : clients_)
            if (!c->authenticated && !c->closing) waiting.push_back(c->socket);
        for (std::size_t i = 0; i + std::size_t(std::max(0, options_.maxWaiting - 1)) < waiting.size(); ++i)
            drop(waiting[i], encodeError(std::nullopt, code::notAuthenticated,
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
        // Queued: a socket closed inside one of its own messages is forgotten after that message.
        connect(
            socket, &QWebSocket::disconnected, this,
            [this, socket] {
                std::erase_if(clients_, [socket](const auto& c) { return c->socket == socket; });
                socket->deleteLater();
            },
            Qt::QueuedConnection);
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
    // A peer that never completes the closing handshake does not keep its place.
    QTimer::singleShot(kCloseGraceMs, socket, [socket] { socket->abort(); });
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
        drop(client.socket,
             encodeError(request.id, code::tooMany,
                         "the studio serves " + std::to_string(options_.maxClients) + " clients at most"));
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

    std::visit(
        [&](const auto& command) {
            using T = std::decay_t<decltype(command)>;
            if constexpr (std::is_same_v<T, Authenticate>) {
                ok();
            } else if constexpr (std::is_same_v<T, ReadState>) {
                ok(state());
            } else if constexpr (std::is_same_v<T, Subscribe>) {
                client.subscribed = command.on;
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
                vm_.selectSet(*set);
                ok();
            } else if constexpr (std::is_same_v<T, SetAngle>) {
                const auto angle = BroadcastCameraAngle::fromRawValue(command.angle);
                if (!angle) return fail(code::badParams, "the angles are 0 to 3");
                vm_.setCameraAngle(*angle);
                vm_.sync();
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
                if (command.key) vm_.setKeyGain(float(*command.key));
                if (command.neon) vm_.setNeonGain(float(*command.neon));
                if (command.led) vm_.setLedBrightness(float(*command.led));
                vm_.sync();
                ok();
            } else if constexpr (std::is_same_v<T, SetWallImage>) {
                // Only a regular file: reading a pipe or a device would stall the window.
                std::error_code ec;
                if (!std::filesystem::is_regular_file(command.path, ec))
                    return fail(code::failed, "'" + command.path + "' is not a file");
                if (!vm_.mountSlide(command.path)) return fail(code::failed, utf8(vm_.statusBannerText()));
                ok();
            } else if constexpr (std::is_same_v<T, SetVisionCutout>) {
                vm_.setShowVisionPresenter(command.on);
                ok();
            } else if constexpr (std::is_same_v<T, SetPresenterMode>) {
                vm_.setPresenterInSet(command.inSet);
                ok();
            } else if constexpr (std::is_same_v<T, Recording>) {
                auto* recorder = dynamic_cast<creator::RecordingRequests*>(vm_.presenter());
                if (!recorder)
                    return fail(code::unavailable,
                                "recording needs Vision Cutout on (its controller records)");
                // Answered with what the recorder did: once it has started, or saved the file.
                recorder->requestRecording(
                    command.start, QString::fromUtf8(app::VantryViewModel::kRecordingTitle),
                    [self = QPointer<RemoteServer>(this), socket = QPointer<QWebSocket>(client.socket),
                     id = request.id](const creator::RecordingOutcome& outcome) {
                        if (!self || !socket) return;
                        if (Client* c = self->find(socket)) self->send(*c, recordingAnswer(id, outcome));
                    });
            } else if constexpr (std::is_same_v<T, ExportClip>) {
                if (vm_.isExporting()) return fail(code::unavailable, "an export is already running");
                std::filesystem::path folder = options_.exportFolder;
                if (folder.empty())
                    folder = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation).toStdString();
                const std::filesystem::path file =
                    unusedFile(folder, app::proposedExportName(vm_.selectedSet()));
                vm_.startExport(file);
                ok("{\"file\":" + quoteText(file.string()) + "}");
            } else if constexpr (std::is_same_v<T, Live>) {
                app::GoLiveController& live = vm_.goLive();
                // The window's own address and key; they were checked when the user entered them,
                // and going live checks them again.
                if (command.goLive) {
                    live.goLive();
                    if (live.state() == QStringLiteral("failed"))
                        return fail(code::failed, utf8(live.statusLine()));
                } else {
                    live.endStream();
                }
                ok("{\"liveState\":" +
                   quoteText(overallLiveState(utf8(live.state()), liveDestinations(live))) + "}");
            }
        },
        request.command);
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

void RemoteServer::watchPresenter() {
    for (auto& c : presenterConnections_) disconnect(c);
    presenterConnections_.clear();
    if (QObject* presenter = vm_.presenter()) {
        const QMetaObject* meta = presenter->metaObject();
        const QMetaMethod slot = metaObject()->method(metaObject()->indexOfSlot("scheduleStateEvent()"));
        for (const char* name : {"isRecording", "isSaving"}) {
            const int index = meta->indexOfProperty(name);
            if (index < 0 || !meta->property(index).hasNotifySignal()) continue;
            presenterConnections_.push_back(
                connect(presenter, meta->property(index).notifySignal(), this, slot));
        }
    }
    scheduleStateEvent();
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
    s.set = std::string(vm_.selectedSet().id());
    s.setTitle = std::string(vm_.selectedSet().title());
    s.angle = vm_.cameraAngleId();
    s.angleTitle = std::string(vm_.cameraAngle().title());
    s.keyGain = shortest(vm_.keyGain());
    s.neonGain = shortest(vm_.neonGain());
    s.ledBrightness = shortest(vm_.ledBrightness());
    s.wallImage = utf8(vm_.slideName());
    s.visionCutout = vm_.showVisionPresenter();
    s.presenterInSet = vm_.presenterInSet();
    // The overlay's controller shows the studio's recording; without an overlay (Vision Cutout
    // off) a recording may still be being saved.
    if (QObject* presenter = vm_.presenter()) {
        s.recorderAvailable = true;
        s.recording = presenter->property("isRecording").toBool();
    } else {
        s.recording = vm_.screenRecording().isRecording();
    }
    s.exporting = vm_.isExporting();
    s.exportProgress = vm_.exportProgress();
    app::GoLiveController& live = vm_.goLive();
    s.live = live.isLive();
    s.liveDestinations = liveDestinations(live);
    s.liveState = overallLiveState(utf8(live.state()), s.liveDestinations);
    s.liveStatus = utf8(live.statusLine());
    s.banner = utf8(vm_.statusBannerText());
    s.shotCount = shots_ ? shots_->shotCount() : 0;
    return s;
}

}  // namespace vantry::remote
