// Qt Quick Test runner for the game-facing views and the gallery pages. The map store's
// vault lives in a temporary data folder; the co-op manager runs in loopback mode over a
// fake audio device, so nothing leaves 127.0.0.1.
#include <unistd.h>
#include <QAccessible>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QTemporaryDir>
#include <QtQuickTest>
#include <cstdlib>
#include <memory>

#include "app/gallery/GameUi.h"
#include "creator/coop-voice/OruLiveMultipeerCoopManagerV1170.h"
#include "platform/dispatch/QtMainPoster.h"
#include "tests/creator/coop-voice/FakeAudio.h"
#include "tests/support/AccessibleTree.h"

namespace {

// The views as a screen reader reads them (the context property `a11y`).
class AccessibilityProbe : public QObject {
    Q_OBJECT
  public:
    // Whether the views speak to a screen reader (an AT-SPI bus is up and accessibility is on).
    Q_INVOKABLE bool active() const { return QAccessible::isActive(); }
    // The accessibility tree of the window `item` is shown in.
    Q_INVOKABLE QVariantList tree(QQuickItem* item) const {
        return item && item->window() ? vantry::testing::accessibleTreeForQml(item->window())
                                      : QVariantList();
    }
    Q_INVOKABLE void recordAnnouncements() {
        names_.reset();
        names_ = std::make_unique<vantry::testing::AccessibleNameChanges>();
    }
    Q_INVOKABLE QStringList announcedNames(QObject* object) const {
        return names_ ? names_->namesOf(object) : QStringList();
    }

  private:
    std::unique_ptr<vantry::testing::AccessibleNameChanges> names_;
};

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
    void applicationAvailable() {
        vantry::platform::installQtMainPoster();
        vantry::creator::CoopManagerOptions options;
        options.displayName = "gallery-test";
        options.loopback = true;
        // A port range of its own, so parallel test processes do not meet.
        options.loopbackBasePort = static_cast<std::uint16_t>(40000 + (::getpid() % 300) * 32);
        options.audio = std::make_shared<vantry::fakes::FakeAudioBackend>();
        coop_ = std::make_unique<vantry::creator::OruLiveMultipeerCoopManagerV1170>(options);
        vantry::app::gallery::GameUi::useCoopManager(coop_.get());
        // A second player on the same loopback range (the context property `peerCoop`).
        options.displayName = "RAVEN-PEER";
        options.audio = std::make_shared<vantry::fakes::FakeAudioBackend>();
        peer_ = std::make_unique<vantry::creator::OruLiveMultipeerCoopManagerV1170>(options);
    }
    void qmlEngineAvailable(QQmlEngine* engine) {
        vantry::app::gallery::registerGameQml(*engine);
        engine->rootContext()->setContextProperty(QStringLiteral("peerCoop"), peer_.get());
        engine->rootContext()->setContextProperty(QStringLiteral("a11y"), &probe_);
    }
    void cleanupTestCase() {
        vantry::app::gallery::GameUi::useCoopManager(nullptr);
        peer_.reset();
        coop_.reset();
    }

  private:
    QTemporaryDir home_;
    AccessibilityProbe probe_;
    std::unique_ptr<vantry::creator::OruLiveMultipeerCoopManagerV1170> coop_;
    std::unique_ptr<vantry::creator::OruLiveMultipeerCoopManagerV1170> peer_;
};

}  // namespace

QUICK_TEST_MAIN_WITH_SETUP(game_views, Setup)

#include "GalleryQmlTestMain.moc"
