#include "app/studio-app/DesktopFilePanels.h"

#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QPalette>
#include <QStandardPaths>
#include <QUrl>
#include <QWindow>
#include <filesystem>
#include <utility>

#include "app/studio-app/PanelPaths.h"
#include "app/studio-app/QuickFilePanels.h"
#include "platform/files/IniFile.h"
#include "platform/files/SettingsFolder.h"

namespace {

// One file-type filter of the portal's file chooser: a(sa(us)).
struct PortalPattern {
    uint type = 0;  // 0: glob pattern
    QString pattern;
};
struct PortalFilter {
    QString name;
    QList<PortalPattern> patterns;
};

}  // namespace

Q_DECLARE_METATYPE(PortalPattern)
Q_DECLARE_METATYPE(PortalFilter)

namespace {

QDBusArgument& operator<<(QDBusArgument& arg, const PortalPattern& p) {
    arg.beginStructure();
    arg << p.type << p.pattern;
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, PortalPattern& p) {
    arg.beginStructure();
    arg >> p.type >> p.pattern;
    arg.endStructure();
    return arg;
}
QDBusArgument& operator<<(QDBusArgument& arg, const PortalFilter& f) {
    arg.beginStructure();
    arg << f.name << f.patterns;
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, PortalFilter& f) {
    arg.beginStructure();
    arg >> f.name >> f.patterns;
    arg.endStructure();
    return arg;
}

constexpr const char* kPortalService = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";

QString panelKey(bool save) {
    return save ? QStringLiteral("save") : QStringLiteral("open");
}

// The user's pictures (open) or videos (save) folder, or home where it does not exist.
QString defaultFolder(bool save) {
    const QString path = QStandardPaths::writableLocation(save ? QStandardPaths::MoviesLocation
                                                               : QStandardPaths::PicturesLocation);
    return QDir(path).exists() ? path : QDir::homePath();
}

// ~/.config/vantry-pro/studio.ini (under XDG_CONFIG_HOME when it is set), shared with the
// window's other settings.
std::filesystem::path settingsFile() {
    return vantry::platform::studioSettingsFile();
}

QString folderKey(const QString& panel) {
    return QStringLiteral("panels/") + panel + QStringLiteral("/lastFolder");
}

}  // namespace

namespace vantry::app {

DesktopFilePanels::DesktopFilePanels(FilePanels* fallback, BackendChooser chooser, QObject* parent)
    : QObject(parent),
      fallback_(fallback),
      chooser_(chooser ? std::move(chooser) : BackendChooser(detectBackend)) {}

DesktopFilePanels::~DesktopFilePanels() {
    if (dialog_) delete dialog_.data();  // answers "cancelled" through finished()
    for (auto& [path, pending] : portalRequests_) {
        if (pending.answer) std::exchange(pending.answer, nullptr)(std::nullopt);
    }
}

DesktopFilePanels::Backend DesktopFilePanels::detectBackend() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected() && bus.interface() &&
        bus.interface()->isServiceRegistered(QString::fromLatin1(kPortalService)).value()) {
        return Backend::Portal;
    }
    return qobject_cast<QApplication*>(QCoreApplication::instance()) ? Backend::Widgets : Backend::Fallback;
}

QString DesktopFilePanels::lastFolder(const QString& panel, const QString& otherwise) {
    const auto kept = platform::IniFile::load(settingsFile()).value(folderKey(panel).toStdString());
    const QString folder = kept ? QString::fromStdString(*kept) : QString();
    return !folder.isEmpty() && QDir(folder).exists() ? folder : otherwise;
}

void DesktopFilePanels::rememberFolder(const QString& panel, const QString& folder) {
    try {
        auto settings = platform::IniFile::load(settingsFile());
        settings.setValue(folderKey(panel).toStdString(), folder.toStdString());
        settings.save(settingsFile());
    } catch (const std::filesystem::filesystem_error&) {
        // Only a convenience: the next panel opens in the default folder.
    }
}

QPalette DesktopFilePanels::darkPalette() {
    const QColor window = QColor::fromRgbF(0.06f, 0.065f, 0.095f);
    const QColor base = QColor::fromRgbF(0.045f, 0.05f, 0.072f);
    const QColor button = QColor::fromRgbF(0.1f, 0.105f, 0.14f);
    const QColor pink(0xff, 0x37, 0x5f);
    QPalette p;
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, Qt::white);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::Text, Qt::white);
    p.setColor(QPalette::PlaceholderText, QColor(255, 255, 255, 110));
    p.setColor(QPalette::Button, button);
    p.setColor(QPalette::ButtonText, Qt::white);
    p.setColor(QPalette::ToolTipBase, button);
    p.setColor(QPalette::ToolTipText, Qt::white);
    p.setColor(QPalette::Highlight, pink);
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, pink);
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(255, 255, 255, 90));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(255, 255, 255, 90));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(255, 255, 255, 90));
    return p;
}

void DesktopFilePanels::runOpenPanel(const OpenPanelRequest& request, PanelAnswer answer) {
    const QString title = QString::fromStdString(request.title);
    switch (backend()) {
        case Backend::Portal:
            if (runPortal(false, title, {}, request.allowedTypes, answer)) return;
            [[fallthrough]];
        case Backend::Widgets:
            if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
                runWidgets(false, title, {}, request.allowedTypes, std::move(answer));
                return;
            }
            [[fallthrough]];
        case Backend::Fallback:
            if (fallback_) {
                fallback_->runOpenPanel(request, std::move(answer));
            } else {
                answer(std::nullopt);
            }
    }
}

void DesktopFilePanels::runSavePanel(const SavePanelRequest& request, PanelAnswer answer) {
    const QString title = QString::fromStdString(request.title);
    const QString name = QString::fromStdString(request.proposedName);
    switch (backend()) {
        case Backend::Portal:
            if (runPortal(true, title, name, request.allowedTypes, answer)) return;
            [[fallthrough]];
        case Backend::Widgets:
            if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
                runWidgets(true, title, name, request.allowedTypes, std::move(answer));
                return;
            }
            [[fallthrough]];
        case Backend::Fallback:
            if (fallback_) {
                fallback_->runSavePanel(request, std::move(answer));
            } else {
                answer(std::nullopt);
            }
    }
}

void DesktopFilePanels::finish(bool save, const std::vector<PanelFileType>& types, PanelAnswer answer,
                               const QString& file) {
    std::optional<std::filesystem::path> result;
    if (!file.isEmpty()) {
        std::filesystem::path path = resolveTypedPath(defaultFolder(save).toStdString(), file.toStdString(),
                                                      QDir::homePath().toStdString());
        if (save) path = withAllowedExtension(path, types);
        if (!path.empty()) {
            result = path;
            rememberFolder(panelKey(save), QString::fromStdString(path.parent_path().string()));
        }
    }
    if (answer) answer(std::move(result));
}

void DesktopFilePanels::runWidgets(bool save, const QString& title, const QString& proposedName,
                                   const std::vector<PanelFileType>& types, PanelAnswer answer) {
    if (dialog_) dialog_->reject();  // a panel still open counts as cancelled
    auto* dialog = new QFileDialog(nullptr, title, lastFolder(panelKey(save), defaultFolder(save)));
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog->setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog->setNameFilters(QuickFilePanels::nameFilters(types));
    if (save) {
        if (!types.empty() && !types.front().extensions.empty())
            dialog->setDefaultSuffix(QString::fromStdString(types.front().extensions.front()));
        dialog->selectFile(proposedName);
    }
    dialog->setPalette(darkPalette());
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QFileDialog::finished, this,
            [this, dialog, save, types, answer = std::move(answer)](int result) mutable {
                const QStringList files = dialog->selectedFiles();
                const QString file =
                    result == QDialog::Accepted && !files.isEmpty() ? files.first() : QString();
                finish(save, types, std::exchange(answer, nullptr), file);
            });
    dialog_ = dialog;
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

bool DesktopFilePanels::runPortal(bool save, const QString& title, const QString& proposedName,
                                  const std::vector<PanelFileType>& types, PanelAnswer answer) {
    static const bool registered = [] {
        qDBusRegisterMetaType<PortalPattern>();
        qDBusRegisterMetaType<QList<PortalPattern>>();
        qDBusRegisterMetaType<PortalFilter>();
        qDBusRegisterMetaType<QList<PortalFilter>>();
        return true;
    }();
    (void)registered;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;

    QList<PortalFilter> filters;
    for (const PanelFileType& type : types) {
        PortalFilter filter{QString::fromStdString(type.name), {}};
        for (const std::string& ext : type.extensions)
            filter.patterns.append({0, QStringLiteral("*.") + QString::fromStdString(ext)});
        filters.append(filter);
    }
    const QString token = QStringLiteral("vantry%1").arg(++tokenCounter_);
    QVariantMap options{{QStringLiteral("handle_token"), token},
                        {QStringLiteral("modal"), true},
                        {QStringLiteral("filters"), QVariant::fromValue(filters)}};
    QByteArray folder = QFile::encodeName(lastFolder(panelKey(save), defaultFolder(save)));
    folder.append('\0');
    options.insert(QStringLiteral("current_folder"), folder);
    if (save) options.insert(QStringLiteral("current_name"), proposedName);

    QString parent;
    if (parentWindow_ && QGuiApplication::platformName() == QLatin1String("xcb"))
        parent = QStringLiteral("x11:") + QString::number(parentWindow_->winId(), 16);

    // Listen on the request object before asking, so the answer cannot be missed.
    QString sender = bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    const QString expected =
        QStringLiteral("/org/freedesktop/portal/desktop/request/") + sender + '/' + token;
    const auto listen = [&](const QString& path) {
        bus.connect(QString::fromLatin1(kPortalService), path,
                    QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"), this,
                    SLOT(onPortalResponse(uint, QVariantMap)));
    };
    listen(expected);

    QDBusMessage call =
        QDBusMessage::createMethodCall(QString::fromLatin1(kPortalService), QString::fromLatin1(kPortalPath),
                                       QStringLiteral("org.freedesktop.portal.FileChooser"),
                                       save ? QStringLiteral("SaveFile") : QStringLiteral("OpenFile"));
    call << parent << title << options;
    const QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
    const QString path = qvariant_cast<QDBusObjectPath>(reply.arguments().first()).path();
    if (path != expected) listen(path);
    portalRequests_[path] = Pending{std::move(answer), save, types};
    return true;
}

void DesktopFilePanels::onPortalResponse(uint response, const QVariantMap& results) {
    const QString path = message().path();
    auto it = portalRequests_.find(path);
    if (it == portalRequests_.end()) return;
    Pending pending = std::move(it->second);
    portalRequests_.erase(it);
    QString file;
    if (response == 0) {
        const QStringList uris = results.value(QStringLiteral("uris")).toStringList();
        if (!uris.isEmpty()) file = QUrl(uris.first()).toLocalFile();
    }
    finish(pending.save, pending.types, std::move(pending.answer), file);
}

}  // namespace vantry::app
