#include "platform/screen-recorder/FileViewer.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QStringList>
#include <QUrl>

namespace vantry::platform {
namespace {

// Empty when the folder's opener took it, else why not.
std::string openFolder(const QString& folder) {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr)
        return "no desktop session to open the folder in";
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder))) return "no program opens folders";
    return {};
}

}  // namespace

void revealInFileViewer(const std::filesystem::path& file, std::function<void(const std::string&)> done) {
    const QString path = QString::fromStdString(file.string());
    const QString folder = QString::fromStdString(file.parent_path().string());
    const auto report = [done = std::move(done)](const std::string& failure) {
        if (done) done(failure);
    };
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || QCoreApplication::instance() == nullptr) return report(openFolder(folder));

    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
    // Asynchronous: the window never waits for the file manager; no answer means the folder.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [folder, report](QDBusPendingCallWatcher* w) {
                         report(w->isError() ? openFolder(folder) : std::string());
                         w->deleteLater();
                     });
}

}  // namespace vantry::platform
