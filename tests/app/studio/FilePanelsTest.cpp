// The desktop file panels: where a typed name points, and the widget dialogs
// (application-modal, dark, remembering the folder) under a display.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>
#include <functional>

#include "app/studio-app/PanelPaths.h"
#include "app/studio-app/StudioWindowHost.h"
#include "platform/dispatch/QtMainPoster.h"
#include "tests/app/studio/FakeStudioRenderer.h"
#include "tests/support/EventPump.h"

namespace vantry::app {
namespace {

using P = std::filesystem::path;

TEST(PanelPaths, TypedNamesResolveAgainstTheFolderOnlyWhenRelative) {
    const P home = "/home/ada";
    const P videos = "/home/ada/Videos";
    struct Case {
        P folder;
        const char* typed;
        P expected;
    };
    const Case cases[] = {
        {videos, "/srv/show/take1.mp4", "/srv/show/take1.mp4"},  // absolute: as typed, not under the folder
        {"/srv/show", "take2.mp4", "/srv/show/take2.mp4"},       // relative: with a separator
        {"/srv/show/", "take2.mp4", "/srv/show/take2.mp4"},
        {videos, "sub/take3.mp4", "/home/ada/Videos/sub/take3.mp4"},
        {videos, "../take4.mp4", "/home/ada/take4.mp4"},
        {videos, "~/clips/take5.mp4", "/home/ada/clips/take5.mp4"},
        {videos, "~", "/home/ada"},
        {videos, "  take6.mp4 ", "/home/ada/Videos/take6.mp4"},
        {videos, "~other.mp4", "/home/ada/Videos/~other.mp4"},  // only "~" and "~/" mean home
        {videos, "", ""},
        {videos, "   ", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(resolveTypedPath(c.folder, c.typed, home), c.expected) << c.typed;
}

TEST(PanelPaths, SaveNamesGetTheMovieExtensionWhenTheyLackIt) {
    const std::vector<PanelFileType> mp4{{"MPEG-4 movie", {"mp4"}}};
    EXPECT_EQ(withAllowedExtension(P("/v/take"), mp4), P("/v/take.mp4"));
    EXPECT_EQ(withAllowedExtension(P("/v/take.MP4"), mp4), P("/v/take.MP4"));
    EXPECT_EQ(withAllowedExtension(P("/v/take.final"), mp4), P("/v/take.final.mp4"));
    EXPECT_EQ(withAllowedExtension(P(""), mp4), P(""));
    EXPECT_EQ(withAllowedExtension(P("/v/take"), {}), P("/v/take"));
}

// Runs the event loop until done() holds (bounded); true when it did.
bool waitUntil(const std::function<bool()>& done, int ms = 5000) {
    return vantry::testing::pumpUntil(done, ms);
}

// Items made by a Repeater have no QObject parent: search the visual tree.
QQuickItem* findItem(QQuickItem* root, const QString& name) {
    if (!root) return nullptr;
    if (root->objectName() == name) return root;
    for (QQuickItem* child : root->childItems()) {
        if (QQuickItem* found = findItem(child, name)) return found;
    }
    return nullptr;
}

bool hasDisplay() {
    const char* x = std::getenv("DISPLAY");
    return x && *x;
}

class WidgetPanels : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!hasDisplay()) GTEST_SKIP() << "needs a display (CI runs the tests under xvfb-run)";
        ASSERT_TRUE(config_.isValid());
        qputenv("XDG_CONFIG_HOME", config_.path().toLocal8Bit());
        static QApplication* app = [] {
            prepareOpenGLQuick();
            static int argc = 1;
            static char name[] = "studio_file_panels_tests";
            static char* argv[] = {name, nullptr};
            auto* a = new QApplication(argc, argv);
            platform::installQtMainPoster();
            return a;
        }();
        (void)app;
        renderer_ = std::make_shared<testing::FakeStudioRenderer>();
        renderer_->exportBytes = 1048576;
        host_ =
            std::make_unique<StudioWindowHost>(renderer_, [] { return DesktopFilePanels::Backend::Widgets; });
        ASSERT_TRUE(host_->open(QUrl::fromLocalFile(QStringLiteral("/nonexistent/still.png"))));
        window_ = host_->window();
        window_->resize(1180, 740);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_));
    }
    void TearDown() override {
        host_.reset();
        QCoreApplication::processEvents();
    }

    // The widget dialog once it shows (null when none shows).
    QFileDialog* waitForDialog(QFileDialog* notThis = nullptr) {
        const auto shown = [&] {
            QFileDialog* d = host_->desktopPanels().openDialog();
            return d && d != notThis && d->isVisible();
        };
        return waitUntil(shown) ? host_->desktopPanels().openDialog() : nullptr;
    }

    QTemporaryDir config_;
    std::shared_ptr<testing::FakeStudioRenderer> renderer_;
    std::unique_ptr<StudioWindowHost> host_;
    QQuickWindow* window_ = nullptr;
};

TEST_F(WidgetPanels, SavePanelIsModalDarkAndWritesWhereTheUserTyped) {
    VantryViewModel& vm = host_->viewModel();
    vm.exportBroadcastMP4Panel();
    QFileDialog* dialog = waitForDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowModality(), Qt::ApplicationModal);
    EXPECT_EQ(dialog->windowTitle(), "Export 1080p Studio Broadcast MP4");
    EXPECT_EQ(dialog->nameFilters(), QStringList{"MPEG-4 movie (*.mp4)"});
    EXPECT_TRUE(dialog->selectedFiles().value(0).endsWith("/Vantry_manhattan-loft_1080p.mp4"));
    EXPECT_LT(dialog->palette().color(QPalette::Window).lightness(), 60) << "the dialog is dark";
    EXPECT_GT(dialog->palette().color(QPalette::WindowText).lightness(), 200);

    // A click on the studio window does not reach the set card under it, nor close the panel.
    auto* card = findItem(window_->contentItem(), QStringLiteral("setCard_timber-podcast"));
    ASSERT_NE(card, nullptr);
    const QPoint centre = card->mapToScene(QPointF(card->width() / 2, card->height() / 2)).toPoint();
    QTest::mouseClick(window_, Qt::LeftButton, {}, centre);
    QCoreApplication::processEvents();
    EXPECT_EQ(vm.selectedSet(), BroadcastStudioSet::manhattanLoft);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(vm.isExporting());

    // An absolute path typed as the name is used as it is; a missing ".mp4" is added.
    QTemporaryDir out;
    const QString typed = out.path() + QStringLiteral("/take1");
    auto* nameEdit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(nameEdit, nullptr);
    nameEdit->clear();
    QTest::keyClicks(nameEdit, typed);
    QMetaObject::invokeMethod(dialog, "accept");
    ASSERT_TRUE(waitUntil([&] { return !vm.isExporting() && vm.hasStatusBanner(); }));
    {
        std::lock_guard<std::mutex> lock(renderer_->mutex);
        ASSERT_EQ(renderer_->exports.size(), 1u);
        EXPECT_EQ(renderer_->exports[0].destination, P((typed + QStringLiteral(".mp4")).toStdString()));
    }

    // The next save panel opens in that folder, with the proposed name again.
    vm.exportBroadcastMP4Panel();
    QTRY_VERIFY_WITH_TIMEOUT(
        host_->desktopPanels().openDialog() && host_->desktopPanels().openDialog() != dialog, 5000);
    QFileDialog* again = waitForDialog();
    EXPECT_EQ(QDir(again->directory()).absolutePath(), QDir(out.path()).absolutePath());
    EXPECT_TRUE(again->selectedFiles().value(0).endsWith("/Vantry_manhattan-loft_1080p.mp4"));
    QMetaObject::invokeMethod(again, "reject");
    QCoreApplication::processEvents();
    EXPECT_FALSE(vm.isExporting());  // cancelled: nothing starts
    EXPECT_EQ(renderer_->exports.size(), 1u);
}

}  // namespace
}  // namespace vantry::app
