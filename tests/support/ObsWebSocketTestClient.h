// An obs-websocket 5 client for tests, over QWebSocket: opens with a subprotocol (and, to play a
// browser page, an Origin header), identifies with a password, sends any bytes, and collects what
// the server sends and how it closed.
#pragma once

#include <QCryptographicHash>
#include <QNetworkRequest>
#include <QWebSocket>
#include <QWebSocketHandshakeOptions>
#include <optional>
#include <string>
#include <vector>

#include "app/remote/ObsWebSocketProtocol.h"
#include "common/Json.h"
#include "common/MessagePack.h"
#include "tests/support/EventPump.h"

namespace vantry::testing {

class ObsWebSocketTestClient {
  public:
    static constexpr int kWaitMs = 15000;  // a hang guard, never a measure

    explicit ObsWebSocketTestClient(remote::obs::Encoding encoding = remote::obs::Encoding::json)
        : encoding_(encoding) {
        QObject::connect(&socket_, &QWebSocket::textMessageReceived,
                         [this](const QString& text) { take(json::parse(text.toStdString()), false); });
        QObject::connect(&socket_, &QWebSocket::binaryMessageReceived, [this](const QByteArray& bytes) {
            take(msgpack::decode(std::string_view(bytes.constData(), std::size_t(bytes.size()))), true);
        });
        QObject::connect(&socket_, &QWebSocket::disconnected, [this] {
            closed_ = true;
            closeCode_ = int(socket_.closeCode());
            closeReason_ = socket_.closeReason().toStdString();
        });
    }

    // True once the Hello has arrived.
    bool open(quint16 port, const QString& origin = {}) {
        QNetworkRequest request(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(port)));
        if (!origin.isEmpty()) request.setRawHeader("Origin", origin.toUtf8());
        QWebSocketHandshakeOptions options;
        options.setSubprotocols({encoding_ == remote::obs::Encoding::json
                                     ? QStringLiteral("obswebsocket.json")
                                     : QStringLiteral("obswebsocket.msgpack")});
        socket_.open(request, options);
        const auto hello = next(remote::obs::op::hello);
        if (!hello) return false;
        const json::Value* auth = json::member(*hello, "authentication");
        if (auth && auth->object()) {
            salt_ = *json::stringMember(*auth->object(), "salt");
            challenge_ = *json::stringMember(*auth->object(), "challenge");
        }
        return true;
    }
    std::string subprotocol() const { return socket_.subprotocol().toStdString(); }

    std::string authentication(const std::string& password) const {
        const auto hash = [](const std::string& s) {
            return QCryptographicHash::hash(QByteArray::fromStdString(s), QCryptographicHash::Sha256)
                .toBase64()
                .toStdString();
        };
        return hash(hash(password + salt_) + challenge_);
    }

    // Sends an Identify and waits for Identified; false when the server closed instead.
    bool identify(const std::string& password, std::optional<std::uint32_t> subscriptions = std::nullopt) {
        std::string d = R"({"rpcVersion":1,"authentication":)" + json::quote(authentication(password));
        if (subscriptions) d += ",\"eventSubscriptions\":" + std::to_string(*subscriptions);
        sendJson(R"({"op":1,"d":)" + d + "}}");
        return next(remote::obs::op::identified).has_value();
    }

    // `text` is a JSON message, sent in the client's own encoding.
    void sendJson(const std::string& text) {
        if (encoding_ == remote::obs::Encoding::json) {
            socket_.sendTextMessage(QString::fromStdString(text));
        } else {
            const auto value = json::parse(text);
            sendBinary(value ? msgpack::encode(*value) : text);
        }
    }
    void sendText(const std::string& text) { socket_.sendTextMessage(QString::fromStdString(text)); }
    void sendBinary(const std::string& bytes) { socket_.sendBinaryMessage(QByteArray::fromStdString(bytes)); }

    // A request; its response's d (absent when the connection closed first).
    std::optional<json::Object> call(const std::string& type, const std::string& data = "{}") {
        const std::string id = "r" + std::to_string(++lastId_);
        sendJson(R"({"op":6,"d":{"requestType":)" + json::quote(type) + R"(,"requestId":")" + id +
                 R"(","requestData":)" + data + "}}");
        return nextWith(remote::obs::op::requestResponse, "requestId", id);
    }

    // The next message of `op` not taken yet (optionally with d[key] == value), waiting for it.
    std::optional<json::Object> nextWith(int op, const std::string& key = {}, const std::string& value = {}) {
        std::optional<json::Object> found;
        pumpUntil(
            [&] {
                for (std::size_t i = 0; i < messages_.size(); ++i) {
                    if (messages_[i].first != op) continue;
                    const std::string* v =
                        key.empty() ? nullptr : json::stringMember(messages_[i].second, key);
                    if (!key.empty() && (!v || *v != value)) continue;
                    found = messages_[i].second;
                    messages_.erase(messages_.begin() + std::ptrdiff_t(i));
                    return true;
                }
                return closed_;
            },
            kWaitMs);
        return found;
    }
    std::optional<json::Object> next(int op) { return nextWith(op); }
    // The next event of `type`: its eventData.
    std::optional<json::Object> event(const std::string& type) {
        const auto d = nextWith(remote::obs::op::event, "eventType", type);
        if (!d) return std::nullopt;
        const json::Value* data = json::member(*d, "eventData");
        return data && data->object() ? *data->object() : json::Object{};
    }
    // Events of `type` received so far (and not taken).
    int pendingEvents(const std::string& type) const {
        int n = 0;
        for (const auto& [op, d] : messages_) {
            const std::string* t = json::stringMember(d, "eventType");
            n += op == remote::obs::op::event && t && *t == type;
        }
        return n;
    }
    int pending(int op) const {
        int n = 0;
        for (const auto& m : messages_) n += m.first == op;
        return n;
    }

    bool waitClosed() {
        return pumpUntil([&] { return closed_; }, kWaitMs);
    }
    bool closed() const { return closed_; }
    int closeCode() const { return closeCode_; }
    const std::string& closeReason() const { return closeReason_; }
    // Messages that came in the wrong frame kind or could not be read.
    int unreadable() const { return unreadable_; }
    QWebSocket& socket() { return socket_; }

  private:
    void take(const std::optional<json::Value>& v, bool binary) {
        const bool rightFrame = binary == (encoding_ == remote::obs::Encoding::msgpack);
        const json::Object* o = v ? v->object() : nullptr;
        const json::Value* op = o ? json::member(*o, "op") : nullptr;
        const json::Value* d = o ? json::member(*o, "d") : nullptr;
        const auto code = op && op->number() ? json::toInt64(*op->number()) : std::nullopt;
        if (!rightFrame || !code || !d || !d->object()) {
            ++unreadable_;
            return;
        }
        messages_.emplace_back(int(*code), *d->object());
    }

    remote::obs::Encoding encoding_;
    QWebSocket socket_;
    std::vector<std::pair<int, json::Object>> messages_;
    bool closed_ = false;
    int closeCode_ = 0;
    std::string closeReason_;
    int unreadable_ = 0;
    int lastId_ = 0;
    std::string salt_;
    std::string challenge_;
};

}  // namespace vantry::testing
