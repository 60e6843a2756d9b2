// A remote-control client: connects, answers the challenge, sends requests and collects what the
// studio says. It waits by running the calling thread's event loop, so it suits a command-line
// tool and tests alike.
#pragma once

#include <QObject>
#include <QString>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

class QWebSocket;

namespace vantry::remote {

class RemoteClient : public QObject {
    Q_OBJECT
  public:
    explicit RemoteClient(QObject* parent = nullptr);
    ~RemoteClient() override;

    // Opens the socket and waits for the server's challenge; false with `error` set otherwise.
    bool open(const QString& host, quint16 port, int timeoutMs, std::string* error);
    // The nonce of the challenge open() received.
    const std::string& nonce() const { return nonce_; }
    // Answers the challenge with `answer` (challengeAnswer(secret, nonce()) for an honest client).
    bool authenticate(const std::string& answer, int timeoutMs, std::string* error);
    // open() and authenticate() with the secret.
    bool connectTo(const QString& host, quint16 port, const std::string& secretHex, int timeoutMs,
                   std::string* error);

    // Sends {"id": n, "request": name, "params": params} and waits for the answer with that id
    // (messages that arrive meanwhile are kept for nextMessage()). Absent with `error` set when the
    // connection closes or no answer comes in time.
    std::optional<std::string> call(std::string_view request, std::string_view paramsJson, int timeoutMs,
                                    std::string* error);

    // Sends any text as it is.
    void sendRaw(const QString& text);
    // The next message the server sent that call() did not take, waiting up to timeoutMs.
    std::optional<std::string> nextMessage(int timeoutMs);
    // Waits until the server closes the connection; true when it did within timeoutMs.
    bool waitClosed(int timeoutMs);
    bool isOpen() const;
    // The reason the server gave when it closed the connection (empty until then, or when none).
    std::string closeReason() const;

  private:
    bool waitFor(const std::function<bool()>& done, int timeoutMs);

    QWebSocket* socket_;
    std::deque<std::string> inbox_;
    std::string nonce_;
    bool closed_ = false;
    std::string closeReason_;
    long long nextId_ = 1;
};

}  // namespace vantry::remote
