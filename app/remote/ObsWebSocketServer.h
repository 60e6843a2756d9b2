// The studio's obs-websocket 5 endpoint (ObsWebSocketProtocol.h): a second WebSocket server, on
// the main thread beside RemoteServer, for button decks and automation tools that speak to
// broadcast programs that way.
//
// The studio appears as scenes (its saved shots by name, then the four camera angles by title),
// a stream and a record output, and the programme mix's sources as inputs ("Mic/Aux", "Desktop
// Audio", "Wall Video": their mute, gain and meters), or without a mix the recorder's microphone
// as "Mic/Aux". Requests act through the
// studio (RemoteStudio.h) as the window's own calls do; events reach every identified client that
// subscribed to their category, whoever made the change. The bounds are the native endpoint's:
// clients, connections waiting to identify, message size, request rate, time to identify, and
// no browser pages.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/remote/ObsWebSocketProtocol.h"
#include "app/remote/RemoteProtocol.h"
#include "app/remote/RemoteShots.h"
#include "app/remote/RemoteStudio.h"

class QWebSocket;
class QWebSocketServer;

namespace vantry::remote {

// The microphone's input name.
inline constexpr std::string_view kMicInputName = "Mic/Aux";

class ObsWebSocketServer : public QObject {
    Q_OBJECT
  public:
    struct Options {
        QString host = QString::fromUtf8(kDefaultHost.data(), qsizetype(kDefaultHost.size()));
        quint16 port = obs::kDefaultPort;  // 0: any free port
        std::string password;              // the remote secret's 64 hex digits
        int maxClients = kMaxClients;
        int maxWaiting = kMaxWaitingClients;
        double requestsPerSecond = kRequestsPerSecond;
        double requestBurst = kRequestBurst;
        int identifyDeadlineMs = kAuthDeadlineMs;
        double screenshotsPerSecond = 10;
        int metersIntervalMs = 50;  // InputVolumeMeters, to the clients that ask for it
    };

    // `shots` may be null (no shot scenes). Both must outlive the server.
    ObsWebSocketServer(RemoteStudio& studio, RemoteShots* shots, Options options, QObject* parent = nullptr);
    ~ObsWebSocketServer() override;

    bool listen(QString* error);
    void close();
    bool isListening() const;
    quint16 port() const;
    int clientCount() const;  // every open connection, identified or not

    // The scenes in order, and the program scene: the last recalled shot while the studio still
    // shows it, else the current angle.
    std::vector<std::string> sceneNames() const;
    std::string programScene() const;

  public slots:
    void shotsChanged();
    void shotRecalled(int index);

  private:
    struct Client;
    // What a recalled shot put on screen; the program scene is the shot while this holds.
    struct Look {
        std::string set;
        int angle = 0;
        float key = 0, neon = 0, led = 0;
        bool operator==(const Look&) const = default;
    };
    struct Recalled {
        std::string name;
        Look look;
    };
    using Done = std::function<void(obs::Result)>;

    void accept();
    void receive(Client& client, std::string_view bytes, bool binary);
    void identify(Client& client, const obs::Identify& message);
    void runBatch(Client& client, std::shared_ptr<obs::Batch> batch, std::size_t next,
                  std::shared_ptr<json::Array> results);
    // Runs one request; `done` gets its result, at once or later (on the main thread).
    void handle(Client& client, const obs::Call& call, Done done);
    std::optional<obs::Result> handleNow(Client& client, const obs::Call& call, Done& done);
    void send(Client& client, int op, json::Object data);
    void event(std::uint32_t intent, std::string_view type, json::Object data);
    void drop(QWebSocket* socket, std::uint16_t code, const std::string& reason);
    Client* find(QWebSocket* socket);
    int identifiedCount() const;

    Look currentLook() const;
    std::optional<std::string> shotName(int index) const;
    json::Value sceneArray() const;
    json::Object streamStatus() const;
    json::Object recordStatus() const;
    obs::Result setProgramScene(const std::string& name);
    obs::Result stream(bool start);
    void record(bool start, bool toggled, Done done);
    void scheduleUpdate();
    void update();  // compares what clients were told with the studio and sends the events
    void sendMeters();
    void updateMeterTimer();

    RemoteStudio& studio_;
    RemoteShots* shots_;
    Options options_;
    QWebSocketServer* server_ = nullptr;
    std::vector<std::unique_ptr<Client>> clients_;
    QElapsedTimer clock_;
    double cpuAtStart_ = 0;  // the process's CPU seconds when the server started
    QTimer updateTimer_;
    QTimer meterTimer_;

    std::optional<Recalled> recalled_;
    std::optional<int> pendingRecall_;  // a recall whose look is taken at the next update
    double micVolume_ = 1.0;            // the volume clients set, as a multiplier

    // What the last update saw.
    std::string toldProgram_;
    std::vector<std::string> toldScenes_;
    std::string streamPhase_ = "stopped";  // stopped, starting, started, reconnecting
    QElapsedTimer streamClock_;
    bool toldRecording_ = false;
    QElapsedTimer recordClock_;
    std::string savedRecording_;  // the file of the last recording stopped through this server
    bool toldMicMuted_ = true;
    std::vector<AudioSourceState> toldAudio_;
};

}  // namespace vantry::remote
