// The gallery window: one page per game-facing view.
#pragma once

#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QString>
#include <memory>
#include <optional>

namespace vantry::app::gallery {

enum class GalleryPage { sheet = 0, voiceBar = 1, killToast = 2 };

// What a screenshot view name ("coop-sheet", "maps-sheet", "voice-bar", "kill-toast")
// opens: the page and the sheet's tab. Absent for an unknown name.
struct GalleryView {
    GalleryPage page = GalleryPage::sheet;
    int sheetTab = 0;
};
std::optional<GalleryView> galleryViewNamed(const QString& name);

class GalleryHost {
  public:
    GalleryHost();
    ~GalleryHost();

    // Loads the window showing view; false when the QML failed to load.
    bool open(GalleryView view = {});
    QQuickWindow* window() const { return window_; }

  private:
    std::unique_ptr<QQmlApplicationEngine> qml_;
    QQuickWindow* window_ = nullptr;
};

}  // namespace vantry::app::gallery
