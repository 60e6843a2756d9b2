// Qt Quick Test runner for the studio window's QML, with a view model over a fake
// renderer and scripted panels (the context property `rig`).
#include <QAccessible>
#include <QDir>
#include <QImage>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QTemporaryDir>
#include <QUrl>
#include <QtQuickTest>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/shots/ShotStore.h"
#include "app/studio-app/StudioWindowHost.h"
#include "platform/dispatch/QtMainPoster.h"
#include "tests/app/studio/FakeStudioRenderer.h"
#include "tests/support/AccessibleTree.h"
#include "tests/support/FakeWallFeeds.h"
#include "tests/support/MadeUpPdf.h"

namespace {

class TestRig : public QObject {
    Q_OBJECT
    Q_PROPERTY(QUrl stillImage READ stillImage CONSTANT)
  public:
    TestRig() {
        QImage still(320, 180, QImage::Format_RGB32);
        still.fill(QColor(30, 90, 160));
        stillPath_ = dir_.filePath(QStringLiteral("still.png"));
        still.save(stillPath_);
    }
    ~TestRig() override { reset(); }

    QUrl stillImage() const { return QUrl::fromLocalFile(stillPath_); }

    // A fresh view model over a fresh fake renderer.
    Q_INVOKABLE QObject* newViewModel() {
        reset();
        renderer_ = std::make_shared<vantry::testing::FakeStudioRenderer>();
        renderer_->exportBytes = 1572864;
        feeds_ = std::make_unique<vantry::testing::FakeWallFeeds>();
        feeds_->windows = {{0x2c00007, "Quarterly Review - Slides"}, {0x2e00003, "Terminal"}};
        feeds_->screenName = "Quarterly Review - Slides";
        vm_ = std::make_unique<vantry::app::VantryViewModel>(renderer_, &panels_, feeds_->feeds());
        QQmlEngine::setObjectOwnership(vm_.get(), QQmlEngine::CppOwnership);
        return vm_.get();
    }

    Q_INVOKABLE int loadedSetCount() const { return int(renderer_->loadedSets.size()); }
    Q_INVOKABLE QString lastLoadedSet() const {
        return renderer_->loadedSets.empty() ? QString()
                                             : QString::fromUtf8(renderer_->loadedSets.back().id());
    }
    Q_INVOKABLE int rendererAngle() const { return renderer_->angle.id(); }
    Q_INVOKABLE double rendererKeyGain() const { return renderer_->keyLightGain; }
    Q_INVOKABLE double rendererNeonGain() const { return renderer_->neonAccentGain; }
    Q_INVOKABLE int exportCount() {
        std::lock_guard<std::mutex> lock(renderer_->mutex);
        return int(renderer_->exports.size());
    }
    Q_INVOKABLE void holdExports() {
        std::lock_guard<std::mutex> lock(renderer_->mutex);
        renderer_->holdExports = true;
    }
    Q_INVOKABLE void releaseExports() { renderer_->releaseExports(); }
    Q_INVOKABLE void reportEveryExportFrame() {
        std::lock_guard<std::mutex> lock(renderer_->mutex);
        renderer_->reportEveryFrame = true;
    }
    Q_INVOKABLE void refuseImages() { renderer_->acceptImages = false; }
    Q_INVOKABLE void failExports() {
        std::lock_guard<std::mutex> lock(renderer_->mutex);
        renderer_->exportThrows = true;
    }
    Q_INVOKABLE void answerNextPanel(const QString& path) { panels_.answers.push_back(path.toStdString()); }
    Q_INVOKABLE void reportFPS(double fps) { renderer_->onFPSUpdate(fps); }
    // The window id the last share was asked for (0: the entire screen or none); whether it runs.
    Q_INVOKABLE double sharedWindowId() const {
        return feeds_->shareTargets.empty() ? 0 : double(feeds_->shareTargets.back().windowId);
    }
    Q_INVOKABLE bool shareRunning() const { return feeds_->running(); }
    // A deck of `pages` pages, each one of deckColour(i)'s blocks; its path.
    Q_INVOKABLE QString makeDeck(int pages) {
        std::vector<vantry::testing::MadeUpPage> made;
        for (int i = 0; i < pages; ++i) made.push_back({deckColour(i)});
        const QString path = dir_.filePath(QStringLiteral("deck%1.pdf").arg(pages));
        vantry::testing::writeMadeUpPdf(path.toStdString(), made);
        return path;
    }
    // Whether the wall's last live picture is page `page` (from 1) of a made-up deck.
    Q_INVOKABLE bool wallShowsPage(int page) {
        const auto last = renderer_->lastWallPicture();
        return !last.picture.isNull() &&
               vantry::testing::nearColour(last.picture.pixel(640, 360), deckColour(page - 1));
    }
    // Leaves a damaged shots file for the next view model to find.
    Q_INVOKABLE void damageShotsFile() {
        const std::filesystem::path file = vantry::app::shots::defaultShotsFile();
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << "{ not a shots file";
    }

    // The accessibility tree of the window `item` is shown in, as a screen reader reads it.
    Q_INVOKABLE QVariantList accessibleTree(QQuickItem* item) const {
        return item && item->window() ? vantry::testing::accessibleTreeForQml(item->window())
                                      : QVariantList();
    }
    // Whether the window speaks to a screen reader (an AT-SPI bus is up and accessibility is on).
    Q_INVOKABLE bool accessibilityActive() const { return QAccessible::isActive(); }
    // Starts recording the names the window announces (a fresh record each call).
    Q_INVOKABLE void recordAnnouncements() {
        names_.reset();
        names_ = std::make_unique<vantry::testing::AccessibleNameChanges>();
    }
    // The names `object` has announced since recordAnnouncements(), in order.
    Q_INVOKABLE QStringList announcedNames(QObject* object) const {
        return names_ ? names_->namesOf(object) : QStringList();
    }

  private:
    static QColor deckColour(int i) { return QColor::fromHsv((i * 67) % 360, 220, 220); }
    void reset() {
        if (renderer_) renderer_->releaseExports();
        vm_.reset();
        panels_.answers.clear();
    }

    QTemporaryDir dir_;
    QString stillPath_;
    std::shared_ptr<vantry::testing::FakeStudioRenderer> renderer_;
    vantry::testing::ScriptedPanels panels_;
    std::unique_ptr<vantry::testing::FakeWallFeeds> feeds_;
    std::unique_ptr<vantry::app::VantryViewModel> vm_;
    std::unique_ptr<vantry::testing::AccessibleNameChanges> names_;
};

class Setup : public QObject {
    Q_OBJECT
  public:
    Setup() {
        // The GO LIVE settings and key go into a folder of the test's own.
        qputenv("XDG_CONFIG_HOME", config_.path().toUtf8());
        // The window's tests use a still in place of the live viewport; without a
        // display they can run on the offscreen platform.
        const char* display = std::getenv("DISPLAY");
        if (display && *display) {
            vantry::app::prepareOpenGLQuick();
        } else {
            qputenv("QT_QPA_PLATFORM", "offscreen");
            QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        }
    }

  public slots:
    void applicationAvailable() {
        vantry::platform::installQtMainPoster();
        rig_ = std::make_unique<TestRig>();
    }
    void qmlEngineAvailable(QQmlEngine* engine) {
        vantry::app::registerStudioQml(*engine);
        engine->rootContext()->setContextProperty(QStringLiteral("rig"), rig_.get());
    }
    void cleanupTestCase() { rig_.reset(); }

  private:
    QTemporaryDir config_;
    std::unique_ptr<TestRig> rig_;
};

}  // namespace

QUICK_TEST_MAIN_WITH_SETUP(studio_window, Setup)

#include "QmlTestMain.moc"
