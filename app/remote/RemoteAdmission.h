// How the remote endpoints (RemoteServer, ObsWebSocketServer) let WebSocket clients in and see
// them out: a server that turns browser pages away, connections whose messages are bounded
// (kMaxMessageBytes), a cap on the clients that have proved themselves (authenticated,
// identified), connections still to prove themselves that make way past a cap of their own, the
// longest waiting first, and closed connections cut when their peer does not finish closing.
//
// Each server keeps its clients as std::unique_ptr<Client> in connection order, where a Client
// has `QWebSocket* socket`, `bool closing` (closed by the studio, its place given up) and a flag
// that says it has proved itself, named here by a pointer to that member.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QWebSocket>
#include <algorithm>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QWebSocketServer;

namespace vantry::remote {

// Refused requests in a row after which a flooding client is closed.
inline constexpr int kMaxRefusedInARow = 200;
// How long a closed client has to acknowledge before its connection is cut.
inline constexpr int kCloseGraceMs = 2000;

// A WebSocket server ("Vantry Pro", owned by `owner`) listening on `host`:`port` that refuses every
// connection naming an Origin (browsers always name the page that opens a socket; a page has no
// business here), offers `subprotocols` and calls `onConnection` for new connections. Null with
// `error` set when the address cannot be used.
QWebSocketServer* listenForClients(QObject* owner, const QString& host, quint16 port,
                                   const QStringList& subprotocols, std::function<void()> onConnection,
                                   QString* error);

// The next pending connection, owned by `owner`, its messages and frames bounded; null when none
// is left (or there is no server).
QWebSocket* nextConnection(QWebSocketServer* server, QObject* owner);

// "the studio serves N clients at most": why a connection past the clients' cap is turned away.
std::string tooManyClientsText(int maxClients);

// Cuts a connection the studio has closed once kCloseGraceMs pass without the peer finishing the
// closing handshake: it does not keep its place.
void cutAfterCloseGrace(QWebSocket* socket);

// Closes the server and every connection ("the studio stopped"), disconnected from `owner` first,
// and forgets them.
template <class Client>
void closeClients(std::vector<std::unique_ptr<Client>>& clients, QWebSocketServer*& server, QObject* owner);
// Stops the server listening and lets it go (null: nothing to do).
void closeServer(QWebSocketServer*& server);

// The clients that have proved themselves and are not being closed.
template <class Client>
int admittedCount(const std::vector<std::unique_ptr<Client>>& clients, bool Client::*admitted) {
    return int(std::count_if(clients.begin(), clients.end(),
                             [admitted](const auto& c) { return (*c).*admitted && !c->closing; }));
}

// The client of `socket`; null when there is none or it is being closed.
template <class Client>
Client* findOpen(const std::vector<std::unique_ptr<Client>>& clients, const QWebSocket* socket) {
    for (const auto& client : clients) {
        if (client->socket == socket) return client->closing ? nullptr : client.get();
    }
    return nullptr;
}

// Connections that never prove themselves cannot keep a client out: with one more coming in,
// those past `maxWaiting` waiting make way, the one that has waited longest first (it has had the
// most time to answer). Their sockets, to be closed by the server with its own last words.
template <class Client>
std::vector<QWebSocket*> waitingToMakeWay(const std::vector<std::unique_ptr<Client>>& clients,
                                          bool Client::*admitted, int maxWaiting) {
    std::vector<QWebSocket*> waiting;
    for (const auto& c : clients)
        if (!((*c).*admitted) && !c->closing) waiting.push_back(c->socket);
    const std::size_t keep = std::size_t(std::max(0, maxWaiting - 1));
    waiting.resize(waiting.size() > keep ? waiting.size() - keep : 0);
    return waiting;
}

// Forgets the client of `socket` once it has disconnected, then calls `after` (may be empty).
// Queued: a socket closed inside one of its own messages is forgotten after that message.
template <class Client>
void forgetOnDisconnect(QWebSocket* socket, QObject* owner, std::vector<std::unique_ptr<Client>>& clients,
                        std::function<void()> after = {}) {
    QObject::connect(
        socket, &QWebSocket::disconnected, owner,
        [&clients, socket, after = std::move(after)] {
            std::erase_if(clients, [socket](const auto& c) { return c->socket == socket; });
            socket->deleteLater();
            if (after) after();
        },
        Qt::QueuedConnection);
}

template <class Client>
void closeClients(std::vector<std::unique_ptr<Client>>& clients, QWebSocketServer*& server, QObject* owner) {
    for (auto& client : clients) {
        client->socket->disconnect(owner);
        client->socket->close(QWebSocketProtocol::CloseCodeGoingAway, QStringLiteral("the studio stopped"));
        client->socket->deleteLater();
    }
    clients.clear();
    closeServer(server);
}

}  // namespace vantry::remote
