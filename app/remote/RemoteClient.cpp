#include "app/remote/RemoteClient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QWebSocket>

#include "app/remote/RemoteProtocol.h"
#include "app/remote/RemoteSecret.h"

namespace vantry::remote {
namespace {

std::optional<json::Object> objectOf(const std::string& text) {
    auto doc = json::parse(text);
    if (!doc || !doc->object()) return std::nullopt;
    return *doc->object();
}

// The answer's error message, or empty for a good answer.
std::string failureOf(const std::string& answer) {
    const auto object = objectOf(answer);
    if (!object) return "the studio answered something that is not JSON";
    const bool* ok = json::boolMember(*object, "ok");
    if (ok && *ok) return {};
    const json::Value* error = json::member(*object, "error");
    const std::string* message =
        error && error->object() ? json::stringMember(*error->object(), "message") : nullptr;
    return message ? *message : "the studio refused";
}

}  // namespace

RemoteClient::RemoteClient(QObject* parent) : QObject(parent), socket_(new QWebSocket(QString(), {}, this)) {
    socket_->setMaxAllowedIncomingMessageSize(16 * 1024 * 1024);
    connect(socket_, &QWebSocket::textMessageReceived, this,
            [this](const QString& text) { inbox_.push_back(text.toStdString()); });
    connect(socket_, &QWebSocket::disconnected, this, [this] {
        closed_ = true;
        closeReason_ = socket_->closeReason().toStdString();
    });
}

RemoteClient::~RemoteClient() = default;

bool RemoteClient::waitFor(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

bool RemoteClient::isOpen() const {
    return !closed_ && socket_->state() == QAbstractSocket::ConnectedState;
}

bool RemoteClient::open(const QString& host, quint16 port, int timeoutMs, std::string* error) {
    const QString url = QStringLiteral("ws://%1:%2/")
                            .arg(host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(host) : host)
                            .arg(port);
    socket_->open(QUrl(url));
    if (!waitFor([this] { return !inbox_.empty() || closed_; }, timeoutMs) || inbox_.empty()) {
        if (error)
            *error =
                "no studio answered at " + host.toStdString() + ":" + std::to_string(port) +
                (socket_->errorString().isEmpty() ? "" : " (" + socket_->errorString().toStdString() + ")");
        return false;
    }
    const std::string first = inbox_.front();
    inbox_.pop_front();
    const auto object = objectOf(first);
    const std::string* event = object ? json::stringMember(*object, "event") : nullptr;
    const std::string* nonce = object ? json::stringMember(*object, "nonce") : nullptr;
    if (!event || *event != "challenge" || !nonce) {
        if (error) *error = "the studio did not send a challenge: " + failureOf(first);
        return false;
    }
    nonce_ = *nonce;
    return true;
}

bool RemoteClient::authenticate(const std::string& answer, int timeoutMs, std::string* error) {
    const auto reply = call("authenticate", "{\"answer\":" + json::quote(answer) + "}", timeoutMs, error);
    if (!reply) return false;
    const std::string failure = failureOf(*reply);
    if (!failure.empty() && error) *error = failure;
    return failure.empty();
}

bool RemoteClient::connectTo(const QString& host, quint16 port, const std::string& secretHex, int timeoutMs,
                             std::string* error) {
    return open(host, port, timeoutMs, error) &&
           authenticate(challengeAnswer(secretHex, nonce_), timeoutMs, error);
}

std::optional<std::string> RemoteClient::call(std::string_view request, std::string_view paramsJson,
                                              int timeoutMs, std::string* error) {
    const long long id = nextId_++;
    std::string text = "{\"id\":" + std::to_string(id) + ",\"request\":" + json::quote(request);
    if (!paramsJson.empty()) text += ",\"params\":" + std::string(paramsJson);
    text += "}";
    sendRaw(QString::fromStdString(text));
    std::optional<std::string> answer;
    const auto taken = [&] {
        for (auto it = inbox_.begin(); it != inbox_.end(); ++it) {
            const auto object = objectOf(*it);
            const json::Value* got = object ? json::member(*object, "id") : nullptr;
            const auto number = got && got->number() ? json::toInt64(*got->number()) : std::nullopt;
            // A refusal without an id (rate limit, closing words) answers the request in flight.
            const bool anonymous = got && std::holds_alternative<json::Null>(got->data);
            if ((number && *number == id) || anonymous) {
                answer = *it;
                inbox_.erase(it);
                return true;
            }
        }
        return closed_;
    };
    if (!waitFor(taken, timeoutMs) || !answer) {
        if (error)
            *error = closed_ ? "the studio closed the connection" : "the studio did not answer in time";
        return std::nullopt;
    }
    return answer;
}

void RemoteClient::sendRaw(const QString& text) {
    socket_->sendTextMessage(text);
    socket_->flush();
}

std::optional<std::string> RemoteClient::nextMessage(int timeoutMs) {
    if (!waitFor([this] { return !inbox_.empty() || closed_; }, timeoutMs) || inbox_.empty())
        return std::nullopt;
    std::string text = inbox_.front();
    inbox_.pop_front();
    return text;
}

bool RemoteClient::waitClosed(int timeoutMs) {
    return waitFor([this] { return closed_; }, timeoutMs);
}

std::string RemoteClient::closeReason() const {
    return closeReason_;
}

}  // namespace vantry::remote
