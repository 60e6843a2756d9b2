#include "platform/screen-recorder/PortalScreenCast.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QEventLoop>
#include <QTimer>
#include <atomic>

#include "platform/files/IniFile.h"
#include "platform/files/SettingsFolder.h"

namespace vantry::platform {
namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kScreenCast = QStringLiteral("org.freedesktop.portal.ScreenCast");
const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");
const QString kSession = QStringLiteral("org.freedesktop.portal.Session");
constexpr int kCallTimeoutMs = 30'000;

constexpr std::uint32_t kSourceMonitor = 1;
constexpr std::uint32_t kSourceWindow = 2;
constexpr std::uint32_t kCursorEmbedded = 2;
constexpr std::uint32_t kPersistUntilRevoked = 2;

std::string text(const QString& s) {
    return s.toStdString();
}

// A request's answer: the portal's Response signal on the request's own object.
class ResponseCatcher : public QObject {
    Q_OBJECT
  public:
    bool answered = false;
    std::uint32_t code = 2;
    QVariantMap results;

  signals:
    void done();

  public slots:
    void onResponse(uint responseCode, const QVariantMap& responseResults) {
        answered = true;
        code = responseCode;
        results = responseResults;
        emit done();
    }
};

// Reads a property of the screen cast interface; false when it cannot be read.
bool readProperty(QDBusConnection& bus, const char* name, QVariant& value, int timeoutMs, QString* error) {
    QDBusMessage get = QDBusMessage::createMethodCall(
        kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get.setArguments({kScreenCast, QString::fromLatin1(name)});
    const QDBusMessage reply = bus.call(get, QDBus::Block, timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        if (error) *error = reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
        return false;
    }
    value = reply.arguments().constFirst().value<QDBusVariant>().variant();
    return true;
}

QString objectPathText(const QVariant& v) {
    if (v.canConvert<QDBusObjectPath>()) return v.value<QDBusObjectPath>().path();
    return v.toString();
}

}  // namespace

struct PortalScreenCast::Impl {
    QDBusConnection bus = QDBusConnection::sessionBus();
    QString session;  // the session's object path, empty when none is open
    unsigned serial = 0;

    QString requestPath(const QString& token) const {
        QString sender = bus.baseService().mid(1);  // ":1.42" -> "1_42"
        sender.replace(QLatin1Char('.'), QLatin1Char('_'));
        return QStringLiteral("/org/freedesktop/portal/desktop/request/") + sender + QLatin1Char('/') + token;
    }

    QString newToken() {
        static std::atomic<unsigned> processSerial{0};
        return QStringLiteral("vantry_%1_%2").arg(::getpid()).arg(++processSerial);
    }

    // Calls `method` with `options` (a handle token is added) and waits for its Response.
    // False with `error` set when the call or the wait fails.
    bool request(const QString& method, QVariantList args, QVariantMap options, int timeoutMs,
                 ResponseCatcher& catcher, std::string& error) {
        const QString token = newToken();
        options.insert(QStringLiteral("handle_token"), token);
        args.append(options);
        // Listened to before the call: the answer may come before the call's reply.
        QString path = requestPath(token);
        bus.connect(kService, path, kRequest, QStringLiteral("Response"), &catcher,
                    SLOT(onResponse(uint, QVariantMap)));
        QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kScreenCast, method);
        call.setArguments(args);
        const QDBusMessage reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage) {
            bus.disconnect(kService, path, kRequest, QStringLiteral("Response"), &catcher,
                           SLOT(onResponse(uint, QVariantMap)));
            error = text(method) + " failed: " +
                    text(reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage());
            return false;
        }
        // An older portal may answer on another request object than the one asked for.
        const QString handle =
            reply.arguments().isEmpty() ? path : objectPathText(reply.arguments().constFirst());
        if (!handle.isEmpty() && handle != path) {
            bus.disconnect(kService, path, kRequest, QStringLiteral("Response"), &catcher,
                           SLOT(onResponse(uint, QVariantMap)));
            path = handle;
            bus.connect(kService, path, kRequest, QStringLiteral("Response"), &catcher,
                        SLOT(onResponse(uint, QVariantMap)));
        }
        if (!catcher.answered) {
            QEventLoop loop;
            QObject::connect(&catcher, &ResponseCatcher::done, &loop, &QEventLoop::quit);
            QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
            loop.exec();
        }
        bus.disconnect(kService, path, kRequest, QStringLiteral("Response"), &catcher,
                       SLOT(onResponse(uint, QVariantMap)));
        if (!catcher.answered) {
            error = "the desktop portal did not answer " + text(method);
            return false;
        }
        return true;
    }
};

PortalScreenCast::PortalScreenCast() : impl_(std::make_unique<Impl>()) {}

PortalScreenCast::~PortalScreenCast() {
    close();
}

unsigned PortalScreenCast::version(std::string* why, int timeoutMs) {
    if (!QCoreApplication::instance()) {
        if (why) *why = "the desktop portal is reached through a Qt application, and there is none";
        return 0;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        if (why) *why = "no session bus: " + text(bus.lastError().message());
        return 0;
    }
    QVariant value;
    QString error;
    if (!readProperty(bus, "version", value, timeoutMs, &error)) {
        if (why) *why = "the desktop portal has no screen cast: " + text(error);
        return 0;
    }
    return value.toUInt();
}

PortalStart PortalScreenCast::start(const std::string& restoreToken, int dialogTimeoutMs) {
    PortalStart outcome;
    const auto failed = [&outcome](std::string why) {
        outcome.status = PortalStart::Status::failed;
        outcome.error = std::move(why);
        return outcome;
    };
    std::string why;
    const unsigned portalVersion = version(&why);
    if (portalVersion == 0) return failed(why);
    close();
    Impl& d = *impl_;

    // The session.
    {
        ResponseCatcher catcher;
        QVariantMap options;
        options.insert(QStringLiteral("session_handle_token"), d.newToken());
        if (!d.request(QStringLiteral("CreateSession"), {}, options, kCallTimeoutMs, catcher, why))
            return failed(why);
        if (catcher.code != 0)
            return failed("the desktop portal refused a screen cast session (answer " +
                          std::to_string(catcher.code) + ")");
        d.session = objectPathText(catcher.results.value(QStringLiteral("session_handle")));
        if (d.session.isEmpty()) return failed("the desktop portal opened a session without a handle");
    }

    // The source: one screen or window, with the cursor drawn in where the portal can.
    {
        QVariant value;
        std::uint32_t types = kSourceMonitor | kSourceWindow;
        if (readProperty(d.bus, "AvailableSourceTypes", value, kCallTimeoutMs, nullptr) &&
            value.toUInt() != 0)
            types &= value.toUInt();
        if (types == 0) types = kSourceMonitor;
        QVariantMap options;
        options.insert(QStringLiteral("types"), QVariant::fromValue<uint>(types));
        options.insert(QStringLiteral("multiple"), false);
        if (!readProperty(d.bus, "AvailableCursorModes", value, kCallTimeoutMs, nullptr) ||
            (value.toUInt() & kCursorEmbedded))
            options.insert(QStringLiteral("cursor_mode"), QVariant::fromValue<uint>(kCursorEmbedded));
        if (portalVersion >= 4) {
            options.insert(QStringLiteral("persist_mode"), QVariant::fromValue<uint>(kPersistUntilRevoked));
            if (!restoreToken.empty())
                options.insert(QStringLiteral("restore_token"), QString::fromStdString(restoreToken));
        }
        ResponseCatcher catcher;
        if (!d.request(QStringLiteral("SelectSources"), {QVariant::fromValue(QDBusObjectPath(d.session))},
                       options, kCallTimeoutMs, catcher, why))
            return failed(why);
        if (catcher.code == 1) {
            outcome.status = PortalStart::Status::cancelled;
            return outcome;
        }
        if (catcher.code != 0)
            return failed("the desktop portal refused the source selection (answer " +
                          std::to_string(catcher.code) + ")");
    }

    // The desktop's dialog; the answer names the streams.
    {
        ResponseCatcher catcher;
        if (!d.request(QStringLiteral("Start"), {QVariant::fromValue(QDBusObjectPath(d.session)), QString()},
                       {}, dialogTimeoutMs, catcher, why))
            return failed(why);
        if (catcher.code == 1) {
            outcome.status = PortalStart::Status::cancelled;
            return outcome;
        }
        if (catcher.code != 0)
            return failed("the desktop portal could not start the screen cast (answer " +
                          std::to_string(catcher.code) + ")");
        const QVariant streams = catcher.results.value(QStringLiteral("streams"));
        if (streams.canConvert<QDBusArgument>()) {
            const QDBusArgument list = streams.value<QDBusArgument>();
            list.beginArray();
            while (!list.atEnd()) {
                PortalStream stream;
                uint node = 0;
                QVariantMap properties;
                list.beginStructure();
                list >> node >> properties;
                list.endStructure();
                stream.nodeId = node;
                const QVariant size = properties.value(QStringLiteral("size"));
                if (size.canConvert<QDBusArgument>()) {
                    const QDBusArgument pair = size.value<QDBusArgument>();
                    int w = 0, h = 0;
                    pair.beginStructure();
                    pair >> w >> h;
                    pair.endStructure();
                    stream.width = w;
                    stream.height = h;
                }
                outcome.streams.push_back(stream);
            }
            list.endArray();
        }
        if (outcome.streams.empty())
            return failed("the desktop portal started a screen cast without a stream");
        outcome.restoreToken = text(catcher.results.value(QStringLiteral("restore_token")).toString());
    }

    // The PipeWire remote the streams are read from.
    QDBusMessage open =
        QDBusMessage::createMethodCall(kService, kPath, kScreenCast, QStringLiteral("OpenPipeWireRemote"));
    open.setArguments({QVariant::fromValue(QDBusObjectPath(d.session)), QVariantMap{}});
    const QDBusMessage reply = d.bus.call(open, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return failed("OpenPipeWireRemote failed: " + text(reply.errorMessage()));
    const auto descriptor = reply.arguments().constFirst().value<QDBusUnixFileDescriptor>();
    if (!descriptor.isValid()) return failed("the desktop portal handed over no PipeWire remote");
    outcome.pipeWireFd = ::dup(descriptor.fileDescriptor());
    if (outcome.pipeWireFd < 0) return failed("cannot keep the PipeWire remote's descriptor");
    outcome.status = PortalStart::Status::started;
    return outcome;
}

void PortalScreenCast::close() {
    if (impl_->session.isEmpty()) return;
    const QDBusMessage call =
        QDBusMessage::createMethodCall(kService, impl_->session, kSession, QStringLiteral("Close"));
    impl_->bus.call(call, QDBus::Block, 5000);
    impl_->session.clear();
}

std::filesystem::path screenCastSettingsFile() {
    return settingsFolder() / "screencast.conf";
}

std::string loadScreenCastRestoreToken(const std::filesystem::path& file) {
    return IniFile::load(file).value("portal/restore_token").value_or("");
}

void saveScreenCastRestoreToken(const std::filesystem::path& file, const std::string& token) {
    IniFile settings = IniFile::load(file);
    settings.setValue("portal/restore_token", token);
    std::filesystem::create_directories(file.parent_path());
    settings.save(file);
}

}  // namespace vantry::platform

#include "PortalScreenCast.moc"
