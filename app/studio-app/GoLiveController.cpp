#include "app/studio-app/GoLiveController.h"

#include <QVariantMap>
#include <algorithm>
#include <chrono>
#include <cmath>

#include "platform/dispatch/MainThreadDispatcher.h"
#include "platform/stream/LiveStream.h"

namespace vantry::app {
namespace {

class StreamOutput : public LiveOutput {
  public:
    StreamOutput(const platform::LiveStreamSettings& settings, platform::LiveStream::StatusCallback onStatus)
        : stream_(settings, std::move(onStatus)) {}
    void offerBGRA(const std::uint8_t* pixels, std::ptrdiff_t stride) override {
        stream_.offerBGRA(pixels, stride);
    }
    void stop() override { stream_.stop(); }

  private:
    platform::LiveStream stream_;
};

QString clockText(double seconds) {
    const long long s = std::max(0LL, static_cast<long long>(seconds));
    if (s >= 3600) {
        return QString::asprintf("%lld:%02lld:%02lld", s / 3600, (s / 60) % 60, s % 60);
    }
    return QString::asprintf("%02lld:%02lld", s / 60, s % 60);
}

QString mbit(double bitsPerSecond) {
    return QString::number(bitsPerSecond / 1e6, 'f', 1) + QStringLiteral(" Mbit/s");
}

}  // namespace

GoLiveController::GoLiveController(Services services, QObject* parent)
    : QObject(parent), services_(std::move(services)) {
    if (services_.folder.empty()) services_.folder = feed::goLiveFolder();
    if (!services_.openOutput) {
        services_.openOutput = [](const platform::LiveStreamSettings& s,
                                  platform::LiveStream::StatusCallback cb) {
            return std::make_unique<StreamOutput>(s, std::move(cb));
        };
    }
    if (!services_.virtualCameras) services_.virtualCameras = [] { return platform::virtualCameraDevices(); };
    settings_ = feed::loadGoLiveSettings(services_.folder);
    for (int i = 0; i < feed::kGoLiveDestinations; ++i) {
        const feed::StreamKeyFile key = feed::readStreamKey(services_.folder, i);
        keys_[std::size_t(i)] = QString::fromStdString(key.key);
        // A refused key file shows on its server's status line until a key is typed.
        if (!key.problem.empty())
            destinationStates_[std::size_t(i)].line = QString::fromStdString(key.problem);
    }
}

GoLiveController::~GoLiveController() {
    if (feed_) feed_->stop();
    for (auto* output : {&stream_, &camera_}) {
        if (*output) (*output)->stop();
        output->reset();
    }
    for (auto& closing : closing_) closing.wait();
}

void GoLiveController::setDestinationUrl(int index, const QString& url) {
    if (index < 0 || index >= feed::kGoLiveDestinations) return;
    const std::string value = url.trimmed().toStdString();
    clearFailure();
    std::string& current = settings_.destinations[std::size_t(index)].url;
    if (value == current) return;
    current = value;
    // An address that cannot be right is used for this run (Go Live names what is wrong with
    // it) but never written over the last good one. A second server's may be cleared.
    bool valid = !value.empty() || index > 0;
    try {
        if (!value.empty()) platform::liveStreamTarget(value, {});
    } catch (const platform::LiveStreamAddressError&) {
        valid = false;
    } catch (const std::exception&) {
        // A device that cannot be opened now may be there at the next start.
    }
    if (valid) saveSettings();
    if (index == 0) emit settingsChanged();
    emit destinationsChanged();
}

void GoLiveController::clearFailure() {
    if (state_ == QLatin1String("failed")) setState(QStringLiteral("idle"), QString());
    for (std::size_t i = 0; i < destinationStates_.size(); ++i)
        if (destinationStates_[i].state == QLatin1String("failed") && !stream_)
            setDestinationState(i, QStringLiteral("idle"), QString());
}

void GoLiveController::setDestinationKey(int index, const QString& key) {
    if (index < 0 || index >= feed::kGoLiveDestinations) return;
    const QString value = key.trimmed();
    QString& current = keys_[std::size_t(index)];
    if (value == current) return;
    current = value;
    try {
        feed::saveStreamKey(services_.folder, current.toStdString(), index);
        // A typed key replaces a refused key file: what was said about that file is past.
        const DestinationState& d = destinationStates_[std::size_t(index)];
        if (d.state == QLatin1String("idle") && !d.line.isEmpty())
            setDestinationState(std::size_t(index), d.state, QString());
    } catch (const std::exception&) {
        setState(state_, QStringLiteral("The stream key could not be saved"));
    }
    if (index == 0) emit streamKeyChanged();
    emit destinationsChanged();
}

void GoLiveController::setDestinationEnabled(int index, bool enabled) {
    if (index < 0 || index >= feed::kGoLiveDestinations || stream_) return;
    bool& current = settings_.destinations[std::size_t(index)].enabled;
    if (enabled == current) return;
    current = enabled;
    saveSettings();
    emit destinationsChanged();
}

QVariantList GoLiveController::destinations() const {
    QVariantList list;
    for (std::size_t i = 0; i < settings_.destinations.size(); ++i) {
        QVariantMap d;
        d.insert(QStringLiteral("url"), QString::fromStdString(settings_.destinations[i].url));
        // As the field shows it while it is not being edited: secrets as the key's dots.
        d.insert(QStringLiteral("shownUrl"),
                 QString::fromStdString(platform::maskStreamAddress(settings_.destinations[i].url,
                                                                    keys_[i].toStdString(), "\u25cf", true)));
        d.insert(QStringLiteral("streamKey"), keys_[i]);
        d.insert(QStringLiteral("enabled"), settings_.destinations[i].enabled);
        list.append(d);
    }
    return list;
}

QVariantList GoLiveController::destinationStates() const {
    QVariantList list;
    for (const DestinationState& state : destinationStates_) {
        QVariantMap d;
        d.insert(QStringLiteral("state"), state.state);
        d.insert(QStringLiteral("statusLine"), state.line);
        list.append(d);
    }
    return list;
}

std::vector<std::string> GoLiveController::secrets() const {
    std::vector<std::string> all;
    for (std::size_t i = 0; i < settings_.destinations.size(); ++i) {
        const auto some = platform::liveStreamSecrets(settings_.destinations[i].url, keys_[i].toStdString());
        all.insert(all.end(), some.begin(), some.end());
    }
    return all;
}

void GoLiveController::setDestinationState(std::size_t index, const QString& state, const QString& line) {
    DestinationState& d = destinationStates_[index];
    if (d.state == state && d.line == line) return;
    d.state = state;
    d.line = line;
    emit destinationStatesChanged();
}

QString GoLiveController::size() const {
    return QStringLiteral("%1x%2").arg(settings_.width).arg(settings_.height);
}

void GoLiveController::setSize(const QString& size) {
    const auto parsed = feed::parseGoLiveSize(size.toStdString());
    if (!parsed) return;
    const auto [width, height] = *parsed;
    if (height == settings_.height) return;
    // A bit rate left at the old size's default follows the size.
    if (settings_.bitRate == feed::defaultBitRate(settings_.height))
        settings_.bitRate = feed::defaultBitRate(height);
    settings_.width = width;
    settings_.height = height;
    saveSettings();
    emit settingsChanged();
}

void GoLiveController::setBitRate(double bitRate) {
    const auto value = static_cast<std::int64_t>(std::llround(bitRate));
    if (value == settings_.bitRate || !platform::isStreamVideoBitRate(value)) return;
    settings_.bitRate = value;
    saveSettings();
    emit settingsChanged();
}

QVariantList GoLiveController::sizeChoices() const {
    return {QStringLiteral("1280x720"), QStringLiteral("1920x1080")};
}

QVariantList GoLiveController::bitRateChoices() const {
    QVariantList list;
    for (std::int64_t rate : feed::goLiveBitRates()) list.append(double(rate));
    return list;
}

bool GoLiveController::virtualCameraAvailable() const {
    return !services_.virtualCameras().empty();
}

QString GoLiveController::virtualCameraHint() const {
    return QString::fromUtf8(platform::kVirtualCameraHint);
}

void GoLiveController::saveSettings() {
    try {
        feed::saveGoLiveSettings(services_.folder, settings_);
    } catch (const std::exception&) {
        // Settings that cannot be kept still apply to this run.
    }
}

void GoLiveController::setState(const QString& state, const QString& line) {
    if (state == state_ && line == statusLine_) return;
    state_ = state;
    statusLine_ = line;
    emit stateChanged();
}

std::shared_ptr<LiveOutput> GoLiveController::open(const platform::LiveStreamSettings& settings,
                                                   int generation) {
    QPointer<GoLiveController> self(this);
    std::shared_ptr<LiveOutput> output =
        services_.openOutput(settings, [self, generation](const platform::LiveStreamStatus& status) {
            platform::postToMain([self, generation, status] {
                if (self) self->applyStatus(generation, status);
            });
        });
    return output;
}

void GoLiveController::goLive() {
    if (stream_) return;
    platform::LiveStreamSettings s;
    std::vector<std::size_t> chosen;
    for (std::size_t i = 0; i < settings_.destinations.size(); ++i) {
        const feed::GoLiveDestination& d = settings_.destinations[i];
        if (!d.enabled || d.url.empty()) continue;
        if (chosen.empty()) {
            s.url = d.url;
            s.streamKey = keys_[i].toStdString();
        } else {
            s.moreDestinations.push_back({d.url, keys_[i].toStdString()});
        }
        chosen.push_back(i);
    }
    // Both outputs take the pictures of one feed: a feed already running keeps its size.
    s.width = feed_ ? feed_->width() : settings_.width;
    s.height = feed_ ? feed_->height() : settings_.height;
    s.videoBitRate = settings_.bitRate;
    // Every server takes the studio's programme sound, the mix the AUDIO section sets.
    s.sound = services_.sound;
    if (s.url.empty()) {
        setState(QStringLiteral("failed"), QStringLiteral("Enter the server URL"));
        return;
    }
    for (const std::size_t i : chosen) {
        if (const std::string fault = platform::srtPassphraseFault(settings_.destinations[i].url);
            !fault.empty()) {
            const QString which = chosen.size() > 1 ? QStringLiteral("Server %1: ").arg(i + 1) : QString();
            setState(QStringLiteral("failed"), which + QString::fromStdString(fault));
            return;
        }
    }
    const int generation = ++generation_;
    try {
        ensureFeed();
        stream_ = open(s, generation);
    } catch (const std::exception& e) {
        releaseFeedIfIdle();
        setState(QStringLiteral("failed"),
                 QString::fromStdString(platform::redactStreamSecrets(e.what(), secrets())));
        return;
    }
    streaming_ = chosen;
    for (std::size_t i = 0; i < destinationStates_.size(); ++i) {
        const bool used = std::find(chosen.begin(), chosen.end(), i) != chosen.end();
        setDestinationState(i, used ? QStringLiteral("connecting") : QStringLiteral("idle"),
                            used ? QStringLiteral("Connecting…") : QString());
    }
    std::weak_ptr<LiveOutput> weak = stream_;
    feed_->setOutput(feed::ProgramFeed::Slot::stream,
                     [weak](const std::uint8_t* pixels, std::ptrdiff_t stride) {
                         if (auto out = weak.lock()) out->offerBGRA(pixels, stride);
                     });
    setState(QStringLiteral("connecting"), QStringLiteral("Connecting…"));
}

void GoLiveController::endStream() {
    if (!stream_) return;
    ++generation_;  // reports of the ending stream are dropped
    if (feed_) feed_->setOutput(feed::ProgramFeed::Slot::stream, {});
    closeLater(std::move(stream_));
    stream_.reset();
    streaming_.clear();
    releaseFeedIfIdle();
    for (std::size_t i = 0; i < destinationStates_.size(); ++i)
        setDestinationState(i, QStringLiteral("idle"), {});
    setState(QStringLiteral("idle"), QString());
}

void GoLiveController::closeLater(std::shared_ptr<LiveOutput> output) {
    // Closing sends what is encoded and waits for the network: never on the main thread.
    std::erase_if(closing_, [](const std::future<void>& f) {
        return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    });
    closing_.push_back(std::async(std::launch::async, [output = std::move(output)] { output->stop(); }));
}

namespace {

// The state's name and status line of the stream or of one of its servers.
std::pair<QString, QString> describe(platform::LiveStreamState state, double elapsed, double rate,
                                     double withoutDelivery, double retryIn, const QString& message) {
    using platform::LiveStreamState;
    switch (state) {
        case LiveStreamState::connecting:
            // The server refused or did not answer: it is tried again, as a lost one is.
            if (retryIn > 0) {
                QString line = QStringLiteral("Connecting · retry in %1 s…").arg(std::ceil(retryIn));
                if (!message.isEmpty()) line += QStringLiteral(" · ") + message;
                return {QStringLiteral("connecting"), line};
            }
            return {QStringLiteral("connecting"), QStringLiteral("Connecting…")};
        case LiveStreamState::live:
            return {QStringLiteral("live"),
                    QStringLiteral("LIVE ") + clockText(elapsed) + QStringLiteral(" · ") + mbit(rate)};
        case LiveStreamState::stalled:
            return {QStringLiteral("stalled"),
                    QStringLiteral("STALLED ") + clockText(elapsed) +
                        QStringLiteral(" · the server has taken nothing for %1 s").arg(int(withoutDelivery))};
        case LiveStreamState::reconnecting:
            return {QStringLiteral("reconnecting"),
                    QStringLiteral("Reconnecting in %1 s…").arg(std::ceil(retryIn))};
        case LiveStreamState::ended:
            return {QStringLiteral("idle"), message};
        case LiveStreamState::failed:
            return {QStringLiteral("failed"),
                    message.isEmpty() ? QStringLiteral("The stream failed") : message};
    }
    return {};
}

}  // namespace

void GoLiveController::applyStatus(int generation, const platform::LiveStreamStatus& status) {
    if (generation != generation_ || !stream_) return;
    using platform::LiveStreamState;
    const std::vector<std::string> hidden = secrets();
    const auto redacted = [&](const std::string& text) {
        return QString::fromStdString(platform::redactStreamSecrets(text, hidden));
    };
    for (std::size_t k = 0; k < status.destinations.size() && k < streaming_.size(); ++k) {
        const platform::LiveStreamDestinationStatus& d = status.destinations[k];
        const auto [state, line] = describe(d.state, status.elapsedSeconds, d.measuredBitRate,
                                            d.secondsWithoutDelivery, d.retryInSeconds, redacted(d.message));
        setDestinationState(streaming_[k], state, line);
    }
    if (status.state != LiveStreamState::ended && status.state != LiveStreamState::failed) {
        const auto [state, line] = describe(status.state, status.elapsedSeconds, status.measuredBitRate,
                                            status.secondsWithoutDelivery, status.retryInSeconds, QString());
        setState(state, line);
        return;
    }
    const bool failed = status.state == LiveStreamState::failed;
    ++generation_;
    if (feed_) feed_->setOutput(feed::ProgramFeed::Slot::stream, {});
    closeLater(std::move(stream_));
    stream_.reset();
    streaming_.clear();
    releaseFeedIfIdle();
    const auto [state, line] =
        describe(status.state, 0, 0, 0, 0, failed ? redacted(status.message) : QString());
    setState(state, line);
}

void GoLiveController::setVirtualCameraOn(bool on) {
    if (on == virtualCameraOn()) return;
    if (!on) {
        if (feed_) feed_->setOutput(feed::ProgramFeed::Slot::virtualCamera, {});
        closeLater(std::move(camera_));
        camera_.reset();
        releaseFeedIfIdle();
        emit virtualCameraChanged();
        return;
    }
    const auto devices = services_.virtualCameras();
    if (devices.empty()) {
        emit virtualCameraChanged();  // the switch snaps back; the hint shows
        return;
    }
    platform::LiveStreamSettings s;
    s.url = devices.front();
    // Both outputs take the pictures of one feed: a feed already running keeps its size.
    s.width = feed_ ? feed_->width() : settings_.width;
    s.height = feed_ ? feed_->height() : settings_.height;
    s.captureMicrophone = false;
    try {
        ensureFeed();
        // A device reports nothing the window shows; its reports are ignored.
        camera_ = services_.openOutput(s, [](const platform::LiveStreamStatus&) {});
    } catch (const std::exception& e) {
        releaseFeedIfIdle();
        setState(state_, QString::fromStdString(e.what()));
        emit virtualCameraChanged();
        return;
    }
    std::weak_ptr<LiveOutput> weak = camera_;
    feed_->setOutput(feed::ProgramFeed::Slot::virtualCamera,
                     [weak](const std::uint8_t* pixels, std::ptrdiff_t stride) {
                         if (auto out = weak.lock()) out->offerBGRA(pixels, stride);
                     });
    emit virtualCameraChanged();
}

void GoLiveController::ensureFeed() {
    if (feed_) return;
    feed_ = std::make_unique<feed::ProgramFeed>(settings_.width, settings_.height, 30, services_.render);
    pushPresenter();
    feed_->start();
}

void GoLiveController::releaseFeedIfIdle() {
    if (!feed_ || stream_ || camera_) return;
    feed_->stop();
    feed_.reset();
}

void GoLiveController::setPresenter(QObject* presenter) {
    auto* source = qobject_cast<creator::PresenterSource*>(presenter);
    if (source == presenter_) return;
    for (auto& c : presenterConnections_) disconnect(c);
    presenterConnections_.clear();
    presenter_ = source;
    if (source) {
        presenterConnections_.push_back(connect(source, &creator::PresenterSource::presenterSnapshotChanged,
                                                this, &GoLiveController::pushPresenter));
        // By the time `destroyed` arrives the pointer is already null, so setPresenter(nullptr)
        // would see no change: the feed is told here that the presenter is gone.
        presenterConnections_.push_back(connect(source, &QObject::destroyed, this, [this] {
            for (auto& c : presenterConnections_) disconnect(c);
            presenterConnections_.clear();
            pushPresenter();
            emit presenterChanged();
        }));
    }
    pushPresenter();
    emit presenterChanged();
}

void GoLiveController::setViewportSize(const QSizeF& size) {
    if (size == viewportSize_) return;
    viewportSize_ = size;
    pushPresenter();
    emit presenterChanged();
}

void GoLiveController::setPresenterInSet(bool inSet) {
    if (inSet == presenterInSet_) return;
    presenterInSet_ = inSet;
    pushPresenter();
}

feed::ProgramPresenter GoLiveController::currentPresenter() const {
    feed::ProgramPresenter p;
    if (!presenter_) return p;
    const creator::PresenterSnapshot& s = presenter_->presenterSnapshot();
    if (!s.cameraEnabled) return p;
    p.visible = true;
    p.inSet = presenterInSet_;
    p.look.viewportWidth = viewportSize_.width();
    p.look.viewportHeight = viewportSize_.height();
    p.look.offsetX = s.offset.width();
    p.look.offsetY = s.offset.height();
    p.look.scale = s.scale;
    switch (s.frameShape.value()) {
        case creator::OruFacecamShapeV1045::circle:
            p.look.shape = feed::PresenterShape::circle;
            break;
        case creator::OruFacecamShapeV1045::rounded:
            p.look.shape = feed::PresenterShape::rounded;
            break;
        case creator::OruFacecamShapeV1045::freeCutout:
            p.look.shape = feed::PresenterShape::cutout;
            break;
    }
    p.look.freeCutout = s.isFreeCutout();
    p.look.borderWidth = s.borderWidth;
    p.borderColor = s.borderColor;
    p.picture = s.picture;
    return p;
}

void GoLiveController::pushPresenter() {
    if (feed_) feed_->setPresenter(currentPresenter());
}

}  // namespace vantry::app
