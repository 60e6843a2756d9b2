// FilePanels shown by the window's QML file dialogs: a request becomes a signal
// the window answers with finishOpen / finishSave (an empty URL means cancelled).
#pragma once

#include <QMetaMethod>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include "app/studio-app/FilePanels.h"

namespace vantry::app {

class QuickFilePanels : public QObject, public FilePanels {
    Q_OBJECT
  public:
    explicit QuickFilePanels(QObject* parent = nullptr) : QObject(parent) {}
    ~QuickFilePanels() override;

    void runOpenPanel(const OpenPanelRequest& request, PanelAnswer answer) override;
    void runSavePanel(const SavePanelRequest& request, PanelAnswer answer) override;

    Q_INVOKABLE void finishOpen(const QUrl& file);
    Q_INVOKABLE void finishSave(const QUrl& file);

    // "Name (*.a *.b)" filters; several types are preceded by one filter offering them all.
    static QStringList nameFilters(const std::vector<PanelFileType>& types);
    // The file a save dialog returned, with the first allowed extension added when it has none of them.
    static std::filesystem::path withAllowedExtension(const std::filesystem::path& file,
                                                      const std::vector<PanelFileType>& types);

  signals:
    void openRequested(const QString& title, const QStringList& nameFilters);
    void saveRequested(const QString& title, const QString& proposedName, const QStringList& nameFilters);

  private:
    PanelAnswer pendingOpen_;
    PanelAnswer pendingSave_;
    std::vector<PanelFileType> saveTypes_;
};

}  // namespace vantry::app
