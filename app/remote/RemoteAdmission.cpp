#include "app/remote/RemoteAdmission.h"

#include <QHostAddress>
#include <QTimer>
#include <QWebSocketCorsAuthenticator>
#include <QWebSocketServer>

#include "app/remote/RemoteProtocol.h"

namespace vantry::remote {

QWebSocketServer* listenForClients(QObject* owner, const QString& host, quint16 port,
                                   const QStringList& subprotocols, std::function<void()> onConnection,
                                   QString* error) {
    QHostAddress address;
    if (!address.setAddress(host)) {
        if (error) *error = QStringLiteral("'%1' is not an IP address").arg(host);
        return nullptr;
    }
    auto* server = new QWebSocketServer(QStringLiteral("Vantry Pro"), QWebSocketServer::NonSecureMode, owner);
    if (!subprotocols.isEmpty()) server->setSupportedSubprotocols(subprotocols);
    QObject::connect(server, &QWebSocketServer::originAuthenticationRequired, owner,
                     [](QWebSocketCorsAuthenticator* auth) { auth->setAllowed(auth->origin().isEmpty()); });
    QObject::connect(server, &QWebSocketServer::newConnection, owner, std::move(onConnection));
    if (!server->listen(address, port)) {
        if (error) *error = server->errorString();
        delete server;
        return nullptr;
    }
    return server;
}

QWebSocket* nextConnection(QWebSocketServer* server, QObject* owner) {
    if (!server || !server->hasPendingConnections()) return nullptr;
    QWebSocket* socket = server->nextPendingConnection();
    socket->setParent(owner);
    socket->setMaxAllowedIncomingMessageSize(kMaxMessageBytes);
    socket->setMaxAllowedIncomingFrameSize(kMaxMessageBytes);
    return socket;
}

std::string tooManyClientsText(int maxClients) {
    return "the studio serves " + std::to_string(maxClients) + " clients at most";
}

void cutAfterCloseGrace(QWebSocket* socket) {
    QTimer::singleShot(kCloseGraceMs, socket, [socket] { socket->abort(); });
}

void closeServer(QWebSocketServer*& server) {
    if (!server) return;
    server->close();
    server->deleteLater();
    server = nullptr;
}

}  // namespace vantry::remote
