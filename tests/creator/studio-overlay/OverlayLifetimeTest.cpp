// The feed-to-overlay path end to end (file camera, feed queue, controller, picture item) while
// overlays come and go with frames still arriving. Run under ThreadSanitizer in CI.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QThread>
#include <cstdlib>
#include <memory>

#include "creator/studio-overlay/OruCreatorStudioControllerV1045.h"
#include "creator/studio-overlay/qml/CreatorStudioUi.h"
#include "platform/camera/CameraBackend.h"
#include "platform/dispatch/QtMainPoster.h"
#include "tests/support/EventPump.h"

namespace {

using vantry::testing::pumpUntil;

TEST(OverlayLifetime, FramesArrivingWhileOverlaysAreDestroyed) {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "studio_overlay_lifetime_tests";
    static char* argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);
    vantry::platform::installQtMainPoster();

    QTemporaryDir dir;
    const QString picture = dir.filePath(QStringLiteral("presenter.png"));
    QImage still(96, 64, QImage::Format_ARGB32);
    still.fill(QColor(200, 120, 40));
    ASSERT_TRUE(still.save(picture));
    vantry::platform::setDefaultCameraFile(picture.toStdString());

    QQmlEngine engine;
    vantry::creator::qml::registerCreatorStudioQml(engine);
    QQuickWindow window;
    window.resize(640, 480);
    window.show();

    for (int round = 0; round < 5; ++round) {
        QQmlComponent component(&engine);
        component.setData(
            "import QtQuick\nimport Vantry.CreatorStudio\n"
            "CreatorStudioOverlay { width: 640; height: 480 }",
            QUrl());
        std::unique_ptr<QObject> overlay(component.create());
        ASSERT_TRUE(overlay) << component.errorString().toStdString();
        qobject_cast<QQuickItem*>(overlay.get())->setParentItem(window.contentItem());
        auto* studio = qobject_cast<vantry::creator::OruCreatorStudioControllerV1045*>(
            overlay->property("studio").value<QObject*>());
        ASSERT_NE(studio, nullptr);
        studio->setProperty("backgroundMode", QStringLiteral("Full Cam"));  // no network needed
        QMetaObject::invokeMethod(studio, "toggleCamera");
        int frames = 0;
        QObject::connect(studio, &vantry::creator::OruCreatorStudioControllerV1045::latestCameraFrameChanged,
                         [&frames] { ++frames; });
        ASSERT_TRUE(pumpUntil([&] { return frames >= 3; }, 60000));
        const QImage frame = studio->property("latestCameraFrame").value<QImage>();
        EXPECT_EQ(frame.size(), QSize(96, 64));
        // Gone while the camera keeps delivering; later frames and completions find nobody.
        overlay.reset();
        pumpUntil([] { return false; }, 30 + round * 20);
    }
    vantry::platform::setDefaultCameraFile({});
}

}  // namespace
