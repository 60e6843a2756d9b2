// The window's "Remote Control" switch: starts and stops the remote-control server, shows the
// secret once (when it was just made) with a copy button, and one status line.
#pragma once

#include <QObject>
#include <QString>
#include <filesystem>
#include <memory>
#include <optional>
#include <utility>

#include "app/remote/ObsWebSocketServer.h"
#include "app/remote/RemoteServer.h"

namespace vantry::remote {

class RemoteControl : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool on READ isOn WRITE setOn NOTIFY changed)
    Q_PROPERTY(QString address READ address CONSTANT)
    Q_PROPERTY(QString statusLine READ statusLine NOTIFY changed)
    // The secret while it is to be shown (just made); empty otherwise.
    Q_PROPERTY(QString shownSecret READ shownSecret NOTIFY changed)

  public:
    // `shots` may be null; both must outlive the control. The secret lives in `secretFile` (made on the first
    // switch-on).
    RemoteControl(RemoteStudio& studio, RemoteShots* shots, QString host, quint16 port,
                  std::filesystem::path secretFile, QObject* parent = nullptr);
    ~RemoteControl() override;

    bool isOn() const { return server_ != nullptr; }
    // Switching on reads (or makes) the secret and listens; a failure leaves it off and says why.
    void setOn(bool on);
    QString address() const;
    QString statusLine() const { return statusLine_; }
    QString shownSecret() const { return shownSecret_; }
    RemoteServer* server() const { return server_.get(); }

    // Where the obs-websocket endpoint (ObsWebSocketServer.h) listens while the control is on,
    // with the secret's 64 hex digits as its password; none until this is called. Takes effect
    // at the next switch-on. A failure to listen there leaves the native endpoint on and the
    // status line says why.
    void setControllerAddress(QString host, quint16 port);
    ObsWebSocketServer* controller() const { return controller_.get(); }

    // Passed on to the server while it runs (RemoteServer::shotsChanged / shotRecalled): connect the
    // shots model's signals here, as the server comes and goes with the switch.
    Q_INVOKABLE void shotsChanged();
    Q_INVOKABLE void shotRecalled(int index);

    // Puts the shown secret on the clipboard.
    Q_INVOKABLE void copySecret();
    // The user has taken note of the secret: it is not shown again.
    Q_INVOKABLE void hideSecret();

  signals:
    void changed();

  private:
    void startController(const std::string& password);

    RemoteStudio& studio_;
    RemoteShots* shots_;
    QString host_;
    quint16 port_;
    std::filesystem::path secretFile_;
    std::unique_ptr<RemoteServer> server_;
    std::optional<std::pair<QString, quint16>> controllerAddress_;
    std::unique_ptr<ObsWebSocketServer> controller_;
    QString statusLine_;
    QString shownSecret_;
};

}  // namespace vantry::remote
