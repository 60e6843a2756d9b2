// Qt Quick Test runner for the creator-studio overlay, with a helper object `rig` that makes
// camera pictures for fake controllers.
#include <QColor>
#include <QImage>
#include <QQmlContext>
#include <QQmlEngine>
#include <QtQuickTest>
#include <cstdlib>

#include "creator/studio-overlay/qml/CreatorStudioUi.h"

namespace {

class OverlayRig : public QObject {
    Q_OBJECT
  public:
    // A picture of w x h points: left half `left`, right half `right`.
    Q_INVOKABLE QImage splitImage(int w, int h, const QColor& left, const QColor& right) const {
        QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
        image.fill(right);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w / 2; ++x) image.setPixelColor(x, y, left);
        return image;
    }
};

class Setup : public QObject {
    Q_OBJECT
  public:
    Setup() {
        const char* display = std::getenv("DISPLAY");
        if (!display || !*display) qputenv("QT_QPA_PLATFORM", "offscreen");
    }

  public slots:
    void qmlEngineAvailable(QQmlEngine* engine) {
        vantry::creator::qml::registerCreatorStudioQml(*engine);
        engine->rootContext()->setContextProperty(QStringLiteral("rig"), &rig_);
    }

  private:
    OverlayRig rig_;
};

}  // namespace

QUICK_TEST_MAIN_WITH_SETUP(creator_studio_overlay, Setup)

#include "OverlayQmlTestMain.moc"
