// The view model's LED wall sources: the built-in picture, picture files, PDF decks, video files
// and shared screens. A deck or a feed is the wall's live source; its pictures reach the
// renderer through an outlet that is shut before another source takes the wall, so that a late
// picture of the old source never covers the new one.
#include <QPointer>
#include <QVariantMap>
#include <algorithm>
#include <cctype>
#include <mutex>

#include "app/studio-app/StudioText.h"
#include "app/studio-app/VantryViewModel.h"
#include "platform/audio-mix/ProgrammeSound.h"
#include "platform/dispatch/MainThreadDispatcher.h"
#include "platform/files/IniFile.h"
#include "platform/files/SettingsFolder.h"
#include "platform/wall-feed/PdfDeck.h"

namespace vantry::app {
namespace {

using shots::WallKind;
namespace wall = platform::wall;

// Where the desktop portal's restore token for the wall's share is kept.
constexpr const char* kShareTokenKey = "wall/screenShareRestoreToken";

std::string lowerExtension(const std::filesystem::path& file) {
    std::string ext = file.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return ext;
}

bool isVideoFile(const std::filesystem::path& file) {
    const std::string ext = lowerExtension(file);
    return ext == ".mp4" || ext == ".mov" || ext == ".mkv" || ext == ".webm";
}

bool isPdfFile(const std::filesystem::path& file) {
    return lowerExtension(file) == ".pdf";
}

std::string savedShareToken() {
    return platform::IniFile::load(platform::studioSettingsFile()).value(kShareTokenKey).value_or("");
}

void saveShareToken(const std::string& token) {
    try {
        auto settings = platform::IniFile::load(platform::studioSettingsFile());
        settings.setValue(kShareTokenKey, token);
        settings.save(platform::studioSettingsFile());
    } catch (const std::exception& e) {
        // The share runs all the same; the next one asks again.
        std::fprintf(stderr, "vantry: cannot keep the screen share's token: %s\n", e.what());
    }
}

}  // namespace

WallFeeds WallFeeds::system() {
    WallFeeds feeds;
    feeds.openVideo = [](const std::filesystem::path& file, wall::FeedCallbacks callbacks,
                         std::string& error) {
        return wall::openVideoWallFeed(file, std::move(callbacks), error);
    };
    feeds.openScreen = wall::openScreenWallFeed;
    feeds.listWindows = [] { return wall::listShareableWindows({}); };
    feeds.usesPortal = wall::screenShareUsesPortal;
    return feeds;
}

WallFeeds WallFeeds::withSystemDefaults() const {
    WallFeeds out = *this;
    const WallFeeds own = system();
    if (!out.openVideo) out.openVideo = own.openVideo;
    if (!out.openScreen) out.openScreen = own.openScreen;
    if (!out.listWindows) out.listWindows = own.listWindows;
    if (!out.usesPortal) out.usesPortal = own.usesPortal;
    return out;
}

// The live source's way onto the wall: shut, nothing passes.
struct VantryViewModel::WallOutlet {
    WallOutlet(std::shared_ptr<StudioRenderer> renderer, std::string wallName)
        : engine(std::move(renderer)), name(std::move(wallName)) {}

    void show(const QImage& picture) {
        std::lock_guard lock(mutex);
        if (open) engine->showLEDWallPicture(picture, name);
    }
    void setOpen(bool isOpen) {
        std::lock_guard lock(mutex);
        open = isOpen;
    }
    void rename(std::string wallName) {
        std::lock_guard lock(mutex);
        name = std::move(wallName);
    }

    const std::shared_ptr<StudioRenderer> engine;
    std::mutex mutex;
    bool open = true;
    std::string name;
};

QString VantryViewModel::wallKindName() const {
    return QString::fromUtf8(shots::wallKindName(wallKind_));
}

bool VantryViewModel::screenSharing() const {
    return wallKind_ == WallKind::screen && feed_ != nullptr;
}

bool VantryViewModel::screenShareUsesPortal() const {
    return feeds_.usesPortal();
}

void VantryViewModel::setWallSource(WallKind kind, int page, int count) {
    // Called after the source changed: screenSharing() may differ even when these do not.
    wallKind_ = kind;
    slidePage_ = page;
    slideCount_ = count;
    emit wallSourceChanged();
}

void VantryViewModel::endLiveSource() {
    if (outlet_) outlet_->setOpen(false);
    deck_.reset();  // joins its worker
    // The mix's "Wall Video" falls silent with the feed it played from.
    if (auto& mix = audio_->sound(); feed_ && feed_->sound() && mix.wallVideoSound() == feed_->sound())
        mix.setWallVideoSound(nullptr);
    feed_.reset();  // joins its thread
    outlet_.reset();
    feedGeneration_ = 0;
}

void VantryViewModel::showBuiltInWall() {
    endLiveSource();
    engine_->showBuiltInWall();
    wallImage_.clear();
    setWallSource(WallKind::builtIn, 1, 1);
    setSlideName(QString::fromStdString(engine_->slideSourceName()));
}

bool VantryViewModel::mountSlide(const std::filesystem::path& file) {
    if (isPdfFile(file)) return mountDeck(file, 1);
    if (isVideoFile(file)) return mountVideo(file);
    return mountPicture(file);
}

bool VantryViewModel::mountSlide(const std::filesystem::path& file, WallKind kind, int page) {
    switch (kind) {
        case WallKind::picture:
            return mountPicture(file);
        case WallKind::pdf:
            return mountDeck(file, page);
        case WallKind::video:
            return mountVideo(file);
        case WallKind::builtIn:
        case WallKind::screen:
            break;
    }
    return false;
}

bool VantryViewModel::mountPicture(const std::filesystem::path& file) {
    const std::string name = file.filename().string();
    // The live source holds still while the picture loads, and goes once it shows.
    if (outlet_) outlet_->setOpen(false);
    if (!engine_->loadLEDWallImage(file)) {
        if (outlet_) outlet_->setOpen(true);
        // The wall keeps what it showed; the user hears why nothing changed.
        setStatusBanner(QString::fromStdString(app::slideLoadFailedBanner(name)));
        return false;
    }
    endLiveSource();
    wallImage_ = file;
    setWallSource(WallKind::picture, 1, 1);
    setSlideName(QString::fromStdString(name));
    setStatusBanner(QString::fromStdString(app::mountedSlideBanner(name)));
    return true;
}

bool VantryViewModel::mountDeck(const std::filesystem::path& file, int page) {
    const std::string name = file.filename().string();
    std::string error;
    auto deck = wall::PdfDeck::open(file, error);
    if (!deck) {
        setStatusBanner(QString::fromStdString(error));
        return false;
    }
    endLiveSource();
    outlet_ = std::make_shared<WallOutlet>(engine_, name);
    deck_ = std::move(deck);
    wallImage_ = file;
    setWallSource(WallKind::pdf, std::clamp(page, 1, deck_->pageCount()), deck_->pageCount());
    showDeckPage();
    setSlideName(QString::fromStdString(name));
    setStatusBanner(QString::fromStdString(app::mountedSlideBanner(name)));
    return true;
}

void VantryViewModel::showDeckPage() {
    if (!deck_) return;
    deck_->show(slidePage_ - 1, [outlet = outlet_](int, const QImage& picture) { outlet->show(picture); });
}

bool VantryViewModel::setSlidePage(int page) {
    if (!deck_ || page < 1 || page > slideCount_ || page == slidePage_) return false;
    slidePage_ = page;
    showDeckPage();
    emit wallSourceChanged();
    return true;
}

bool VantryViewModel::nextSlide() {
    return setSlidePage(slidePage_ + 1);
}

bool VantryViewModel::previousSlide() {
    return setSlidePage(slidePage_ - 1);
}

bool VantryViewModel::firstSlide() {
    return setSlidePage(1);
}

bool VantryViewModel::lastSlide() {
    return setSlidePage(slideCount_);
}

wall::FeedCallbacks VantryViewModel::feedCallbacks(const std::shared_ptr<WallOutlet>& outlet,
                                                   std::uint64_t generation) {
    wall::FeedCallbacks callbacks;
    callbacks.picture = [outlet](const QImage& picture) { outlet->show(picture); };
    QPointer<VantryViewModel> self(this);
    callbacks.ended = [self, generation](const std::string& message) {
        platform::postToMain([self, generation, message] {
            if (self) self->feedEnded(generation, message);
        });
    };
    return callbacks;
}

bool VantryViewModel::mountVideo(const std::filesystem::path& file) {
    const std::string name = file.filename().string();
    if (outlet_) outlet_->setOpen(false);
    auto outlet = std::make_shared<WallOutlet>(engine_, name);
    const std::uint64_t generation = nextFeedGeneration_++;
    std::string error;
    auto feed = feeds_.openVideo(file, feedCallbacks(outlet, generation), error);
    if (!feed) {
        if (outlet_) outlet_->setOpen(true);
        setStatusBanner(
            QString::fromStdString(app::slideLoadFailedBanner(name) + (error.empty() ? "" : ": " + error)));
        return false;
    }
    endLiveSource();
    outlet_ = std::move(outlet);
    feed_ = std::move(feed);
    feedGeneration_ = generation;
    audio_->sound().setWallVideoSound(feed_->sound());
    wallImage_ = file;
    setWallSource(WallKind::video, 1, 1);
    setSlideName(QString::fromStdString(name));
    setStatusBanner(QString::fromStdString(app::mountedSlideBanner(name)));
    return true;
}

bool VantryViewModel::startShare(const wall::ScreenShareTarget& target, const std::string& name) {
    // A second click while the portal's dialog is up starts nothing more.
    if (startingShare_) return false;
    startingShare_ = true;
    if (outlet_) outlet_->setOpen(false);
    auto outlet = std::make_shared<WallOutlet>(engine_, name);
    const std::uint64_t generation = nextFeedGeneration_++;
    std::string error;
    auto feed = feeds_.openScreen(target, feedCallbacks(outlet, generation), error);
    startingShare_ = false;
    if (!feed) {
        if (outlet_) outlet_->setOpen(true);
        setStatusBanner(QString::fromStdString(app::screenShareFailedBanner(error)));
        return false;
    }
    endLiveSource();
    const std::string shown = feed->name().empty() ? name : feed->name();
    outlet->rename(shown);
    outlet_ = std::move(outlet);
    feed_ = std::move(feed);
    feedGeneration_ = generation;
    if (target.kind == wall::ScreenShareTarget::Kind::portal) {
        const std::string token = feed_->restoreToken();
        if (!token.empty() && token != target.restoreToken) saveShareToken(token);
    }
    wallImage_.clear();
    setWallSource(WallKind::screen, 1, 1);
    setSlideName(QString::fromStdString(shown));
    setStatusBanner(QString::fromStdString(app::sharingBanner(shown)));
    return true;
}

QVariantList VantryViewModel::shareableWindows() const {
    QVariantList list;
    for (const wall::ShareableWindow& window : feeds_.listWindows()) {
        list.append(QVariantMap{{QStringLiteral("id"), QVariant::fromValue(qulonglong(window.id))},
                                {QStringLiteral("title"), QString::fromStdString(window.title)}});
    }
    return list;
}

bool VantryViewModel::shareScreen() {
    wall::ScreenShareTarget target;
    if (feeds_.usesPortal()) {
        target.kind = wall::ScreenShareTarget::Kind::portal;
        target.restoreToken = savedShareToken();
    }
    return startShare(target, std::string(app::kSharedScreenName));
}

bool VantryViewModel::shareWindow(qulonglong id, const QString& title) {
    wall::ScreenShareTarget target;
    target.kind = wall::ScreenShareTarget::Kind::window;
    target.windowId = static_cast<unsigned long>(id);
    return startShare(target, title.toStdString());
}

bool VantryViewModel::stopScreenShare() {
    if (!screenSharing()) return false;
    showBuiltInWall();
    setStatusBanner(
        QString::fromUtf8(app::kShareStoppedBanner.data(), qsizetype(app::kShareStoppedBanner.size())));
    return true;
}

void VantryViewModel::feedEnded(std::uint64_t generation, const std::string& message) {
    if (generation == 0 || generation != feedGeneration_ || !feed_) return;
    // The wall keeps the feed's last picture.
    endLiveSource();
    emit wallSourceChanged();
    setStatusBanner(QString::fromStdString(message));
}

std::string VantryViewModel::applyShotWall(const shots::Shot& shot) {
    const WallKind kind = shots::wallShows(shot);
    const std::filesystem::path file(shot.wallImage);
    switch (kind) {
        case WallKind::builtIn:
            // The shot was saved with the wall's own picture.
            if (wallKind_ != WallKind::builtIn) showBuiltInWall();
            return {};
        case WallKind::screen:
            if (screenSharing()) return {};
            if (shots_->recallingForRemote()) return "its screen share can only be started at the window";
            if (!feeds_.usesPortal() || savedShareToken().empty()) {
                return "its screen share needs the window: start it with Share Screen";
            }
            return shareScreen() ? std::string() : "its screen share did not start";
        case WallKind::picture:
        case WallKind::pdf:
        case WallKind::video:
            break;
    }
    const bool showing = file == wallImage_ && kind == wallKind_ && (kind != WallKind::video || feed_);
    if (showing) {
        if (kind == WallKind::pdf) setSlidePage(std::clamp(shot.slidePage, 1, slideCount_));
        return {};
    }
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error))
        return "its wall image " + file.string() + " is missing";
    bool shown = false;
    if (kind == WallKind::pdf) {
        shown = mountDeck(file, shot.slidePage);
    } else if (kind == WallKind::video) {
        shown = mountVideo(file);
    } else {
        shown = mountPicture(file);
    }
    if (!shown) return "its wall image " + file.filename().string() + " could not be loaded";
    return {};
}

}  // namespace vantry::app
