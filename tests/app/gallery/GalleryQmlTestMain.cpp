// Qt Quick Test runner for the game-facing views and the gallery pages. The map store's
// vault lives in a temporary data folder; the co-op session never leaves this machine.
#include <QQmlEngine>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QTemporaryDir>
#include <QtQuickTest>
#include <cstdlib>
#include <memory>

#include "app/gallery/GameUi.h"
#include "platform/dispatch/QtMainPoster.h"

namespace {

class Setup : public QObject {
    Q_OBJECT
  public:
    Setup() {
        // Keep the vault out of the real home folder: the store reads it on first use.
        qputenv("HOME", home_.path().toUtf8());
        qputenv("XDG_DATA_HOME", (home_.path() + QStringLiteral("/data")).toUtf8());
        const char* display = std::getenv("DISPLAY");
        if (!display || !*display) qputenv("QT_QPA_PLATFORM", "offscreen");
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    }

  public slots:
    void applicationAvailable() { vantry::platform::installQtMainPoster(); }
    void qmlEngineAvailable(QQmlEngine* engine) { vantry::gallery::registerGameQml(*engine); }

  private:
    QTemporaryDir home_;
};

}  // namespace

QUICK_TEST_MAIN_WITH_SETUP(game_views, Setup)

#include "GalleryQmlTestMain.moc"
