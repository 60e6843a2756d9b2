#include "app/gallery/GalleryHost.h"

#include "app/gallery/GameUi.h"

namespace vantry::app::gallery {

std::optional<GalleryView> galleryViewNamed(const QString& name) {
    if (name == QLatin1String("coop-sheet")) return GalleryView{GalleryPage::sheet, 0};
    if (name == QLatin1String("maps-sheet")) return GalleryView{GalleryPage::sheet, 1};
    if (name == QLatin1String("voice-bar")) return GalleryView{GalleryPage::voiceBar, 0};
    if (name == QLatin1String("kill-toast")) return GalleryView{GalleryPage::killToast, 0};
    return std::nullopt;
}

GalleryHost::GalleryHost() = default;

GalleryHost::~GalleryHost() {
    qml_.reset();
}

bool GalleryHost::open(GalleryView view) {
    qml_ = std::make_unique<QQmlApplicationEngine>();
    registerGameQml(*qml_);
    qml_->setInitialProperties({
        {QStringLiteral("initialPage"), static_cast<int>(view.page)},
        {QStringLiteral("initialSheetTab"), view.sheetTab},
    });
    qml_->load(QUrl(QStringLiteral("qrc:/qt/qml/Vantry/Game/GalleryWindow.qml")));
    if (qml_->rootObjects().isEmpty()) return false;
    window_ = qobject_cast<QQuickWindow*>(qml_->rootObjects().constFirst());
    return window_ != nullptr;
}

}  // namespace vantry::app::gallery
