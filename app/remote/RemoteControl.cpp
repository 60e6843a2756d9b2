#include "app/remote/RemoteControl.h"

#include <QClipboard>
#include <QGuiApplication>

#include "app/remote/RemoteSecret.h"

namespace vantry::remote {

RemoteControl::RemoteControl(RemoteStudio& studio, RemoteShots* shots, QString host, quint16 port,
                             std::filesystem::path secretFile, QObject* parent)
    : QObject(parent),
      studio_(studio),
      shots_(shots),
      host_(std::move(host)),
      port_(port),
      secretFile_(std::move(secretFile)) {}

RemoteControl::~RemoteControl() = default;

QString RemoteControl::address() const {
    const QString host = host_.contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(host_) : host_;
    return QStringLiteral("%1:%2").arg(host).arg(port_);
}

void RemoteControl::setOn(bool on) {
    if (on == isOn()) return;
    if (!on) {
        controller_.reset();
        server_.reset();
        statusLine_.clear();
        shownSecret_.clear();
        emit changed();
        return;
    }
    try {
        const Secret secret = loadOrCreateSecret(secretFile_);
        RemoteServer::Options options;
        options.host = host_;
        options.port = port_;
        options.secretHex = secret.hex;
        auto server = std::make_unique<RemoteServer>(studio_, shots_, std::move(options));
        QString error;
        if (!server->listen(&error)) {
            statusLine_ = QStringLiteral("Cannot listen on %1: %2").arg(address(), error);
        } else {
            server_ = std::move(server);
            statusLine_ = QStringLiteral("Listening on %1").arg(address());
            startController(secret.hex);
            if (secret.created) shownSecret_ = QString::fromStdString(secret.hex);
        }
    } catch (const SecretError& e) {
        statusLine_ = QString::fromUtf8(e.what());
    }
    emit changed();
}

void RemoteControl::setControllerAddress(QString host, quint16 port) {
    controllerAddress_ = std::make_pair(std::move(host), port);
}

void RemoteControl::startController(const std::string& password) {
    if (!controllerAddress_) return;
    const auto& [host, port] = *controllerAddress_;
    const QString where = QStringLiteral("%1:%2")
                              .arg(host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(host) : host)
                              .arg(port);
    ObsWebSocketServer::Options options;
    options.host = host;
    options.port = port;
    options.password = password;
    auto controller = std::make_unique<ObsWebSocketServer>(studio_, shots_, std::move(options));
    QString error;
    if (!controller->listen(&error)) {
        statusLine_ += QStringLiteral(" · obs-websocket cannot listen on %1: %2").arg(where, error);
        return;
    }
    controller_ = std::move(controller);
    statusLine_ += QStringLiteral(" · obs-websocket on %1").arg(where);
}

void RemoteControl::shotsChanged() {
    if (server_) server_->shotsChanged();
    if (controller_) controller_->shotsChanged();
}

void RemoteControl::shotRecalled(int index) {
    if (server_) server_->shotRecalled(index);
    if (controller_) controller_->shotRecalled(index);
}

void RemoteControl::copySecret() {
    if (shownSecret_.isEmpty()) return;
    if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        gui->clipboard()->setText(shownSecret_);
}

void RemoteControl::hideSecret() {
    if (shownSecret_.isEmpty()) return;
    shownSecret_.clear();
    emit changed();
}

}  // namespace vantry::remote
