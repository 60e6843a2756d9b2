// The studio's open and save panels as the desktop shows them: the XDG desktop
// portal's file chooser (over D-Bus) when a portal runs, otherwise Qt's widget
// file dialog, application-modal and dark. Without a widget application (a bare
// QGuiApplication) the fallback panels answer instead. The last folder of each
// panel is remembered in the user's settings (XDG config home).
#pragma once

#include <QDBusContext>
#include <QFileDialog>
#include <QObject>
#include <QPalette>
#include <QPointer>
#include <QString>
#include <QVariantMap>
#include <QWindow>
#include <functional>
#include <map>
#include <vector>

#include "app/studio-app/FilePanels.h"

namespace vantry::app {

class DesktopFilePanels : public QObject, public FilePanels, protected QDBusContext {
    Q_OBJECT
  public:
    enum class Backend { Portal, Widgets, Fallback };
    // Answers which panels show now; asked before each panel.
    using BackendChooser = std::function<Backend()>;

    // fallback may be null (then the panel answers "cancelled" when neither a portal nor
    // widgets are there); it must outlive this object. Without a chooser, detectBackend()
    // chooses.
    explicit DesktopFilePanels(FilePanels* fallback, BackendChooser chooser = {}, QObject* parent = nullptr);
    ~DesktopFilePanels() override;

    // The window the panels belong to (the portal's parent window; widget dialogs
    // block every window anyway).
    void setParentWindow(QWindow* window) { parentWindow_ = window; }

    void runOpenPanel(const OpenPanelRequest& request, PanelAnswer answer) override;
    void runSavePanel(const SavePanelRequest& request, PanelAnswer answer) override;

    // Which panels show now: the chooser's answer.
    Backend backend() const { return chooser_(); }
    // The portal when one is registered on the session bus, widgets in a QApplication, the
    // fallback otherwise.
    static Backend detectBackend();

    // The folder a panel opens in: the one remembered for it, or `otherwise` when
    // none is (or it no longer exists).
    static QString lastFolder(const QString& panel, const QString& otherwise);
    static void rememberFolder(const QString& panel, const QString& folder);

    // The palette of the widget dialogs: the studio's dark colours with the pink accent.
    static QPalette darkPalette();

    // The widget dialog showing now (null when none); for tests.
    QFileDialog* openDialog() const { return dialog_; }

  private slots:
    void onPortalResponse(uint response, const QVariantMap& results);

  private:
    struct Pending {
        PanelAnswer answer;
        bool save = false;
        std::vector<PanelFileType> types;
    };
    void runWidgets(bool save, const QString& title, const QString& proposedName,
                    const std::vector<PanelFileType>& types, PanelAnswer answer);
    bool runPortal(bool save, const QString& title, const QString& proposedName,
                   const std::vector<PanelFileType>& types, PanelAnswer answer);
    void finish(bool save, const std::vector<PanelFileType>& types, PanelAnswer answer, const QString& file);

    FilePanels* fallback_;
    QPointer<QWindow> parentWindow_;
    QPointer<QFileDialog> dialog_;
    BackendChooser chooser_;
    std::map<QString, Pending> portalRequests_;  // by request object path
    int tokenCounter_ = 0;
};

}  // namespace vantry::app
