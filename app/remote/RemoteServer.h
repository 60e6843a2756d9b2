// The studio's remote control: a WebSocket server on the main thread that lets other programs read
// and drive what the window shows.
//
// Every client first answers a challenge (RemoteSecret.h); until then it can do nothing else, and
// it is closed when it does not answer in time. Clients, message sizes and requests per second are
// bounded (RemoteProtocol.h); malformed messages are answered with an error and repeated ones close
// the connection. Requests act through the studio (RemoteStudio.h) as the window's own calls do,
// so a file path or stream address from a client passes exactly the checks a user's would.
// Subscribed clients hear of every change, whoever made it.
#pragma once

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/remote/RemoteProtocol.h"
#include "app/remote/RemoteShots.h"
#include "app/remote/RemoteStudio.h"

class QWebSocket;
class QWebSocketServer;

namespace vantry::remote {

class RemoteServer : public QObject {
    Q_OBJECT
  public:
    struct Options {
        QString host = QString::fromUtf8(kDefaultHost.data(), qsizetype(kDefaultHost.size()));
        quint16 port = kDefaultPort;          // 0: any free port
        std::string secretHex;                // the shared secret (RemoteSecret.h)
        int maxClients = kMaxClients;         // authenticated clients
        int maxWaiting = kMaxWaitingClients;  // connections yet to authenticate
        double requestsPerSecond = kRequestsPerSecond;
        double requestBurst = kRequestBurst;
        int authDeadlineMs = kAuthDeadlineMs;
        // Where exportClip writes (with the window's proposed name); empty: the user's Videos folder.
        std::filesystem::path exportFolder;
    };

    // `shots` may be null: shot requests then answer "unavailable". Both must outlive the server.
    RemoteServer(RemoteStudio& studio, RemoteShots* shots, Options options, QObject* parent = nullptr);
    ~RemoteServer() override;

    // Starts listening; false with `error` set when the address cannot be used.
    bool listen(QString* error);
    // Closes every connection and stops listening.
    void close();
    bool isListening() const;
    quint16 port() const;
    int clientCount() const;  // every open connection, authenticated or not

  public slots:
    // The shots model tells the server: the list changed (added, renamed, moved, removed) ...
    void shotsChanged();
    // ... or shot `index` was recalled (by anyone).
    void shotRecalled(int index);

  private slots:
    void scheduleStateEvent();
    void sendStateEvent();
    void sendMeters();

  private:
    struct Client;

    void accept();
    void receive(Client& client, const QString& text);
    void authenticate(Client& client, const Request& request);
    void dispatch(Client& client, const Request& request);
    void drop(QWebSocket* socket, const std::string& lastWords);
    void send(Client& client, const std::string& text);
    void broadcast(const std::string& text);
    StudioState currentState();
    std::string shotsArray() const;  // [shot, ...] as JSON text
    Client* find(QWebSocket* socket);
    int authenticatedCount() const;
    // Runs the meters' timer while some client wants them.
    void updateMetersTimer();

    RemoteStudio& studio_;
    RemoteShots* shots_;
    Options options_;
    QWebSocketServer* server_ = nullptr;
    std::vector<std::unique_ptr<Client>> clients_;
    QElapsedTimer clock_;
    QTimer stateTimer_;   // coalesces the changes of one turn of the event loop into one event
    QTimer metersTimer_;  // kMetersPerSecond while a client has subscribed to the meters
    StudioState lastState_;
};

}  // namespace vantry::remote
