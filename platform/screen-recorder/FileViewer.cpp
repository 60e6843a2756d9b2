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

void openFolder(const QString& folder) {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) return;
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

}  // namespace

void revealInFileViewer(const std::filesystem::path& file) {
    const QString path = QString::fromStdString(file.string());
    const QString folder = QString::fromStdString(file.parent_path().string());
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || QCoreApplication::instance() == nullptr) return openFolder(folder);

    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
    // Asynchronous: the window never waits for the file manager; no answer means the folder.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [folder](QDBusPendingCallWatcher* w) {
                         if (w->isError()) openFolder(folder);
                         w->deleteLater();
                     });
}

}  // namespace vantry::platform
