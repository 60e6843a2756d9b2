#include "app/studio-app/GoLiveController.h"

#include <QVariantMap>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <tuple>

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

QString canvasName(ProgramCanvas canvas) {
    return QString::fromLatin1(programCanvasName(canvas));
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
    for (auto& feed : feeds_)
        if (feed) feed->stop();
    std::vector<std::shared_ptr<LiveOutput>*> outputs{&camera_};
    for (CanvasStream& stream : streams_) outputs.push_back(&stream.output);
    for (auto* output : outputs) {
        if (*output) (*output)->stop();
        output->reset();
    }
    for (auto& closing : closing_) closing.wait();
}

bool GoLiveController::isLive() const {
    return std::any_of(streams_.begin(), streams_.end(),
                       [](const CanvasStream& s) { return s.output != nullptr; });
}

bool GoLiveController::verticalLive() const {
    return streams_[slot(ProgramCanvas::vertical)].output != nullptr;
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
        if (destinationStates_[i].state == QLatin1String("failed") && !isLive())
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
    if (index < 0 || index >= feed::kGoLiveDestinations || isLive()) return;
    bool& current = settings_.destinations[std::size_t(index)].enabled;
    if (enabled == current) return;
    current = enabled;
    saveSettings();
    emit destinationsChanged();
}

void GoLiveController::setDestinationCanvas(int index, const QString& canvas) {
    if (index < 0 || index >= feed::kGoLiveDestinations || isLive()) return;
    std::optional<ProgramCanvas> chosen = parseProgramCanvas(canvas.toStdString());
    for (const ProgramCanvas c : {ProgramCanvas::landscape, ProgramCanvas::vertical})
        if (canvas == QString::fromLatin1(programCanvasLabel(c))) chosen = c;
    ProgramCanvas& current = settings_.destinations[std::size_t(index)].canvas;
    if (!chosen || *chosen == current) return;
    current = *chosen;
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
        d.insert(QStringLiteral("canvas"), canvasName(settings_.destinations[i].canvas));
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

QVariantList GoLiveController::canvasChoices() const {
    return {canvasName(ProgramCanvas::landscape), canvasName(ProgramCanvas::vertical)};
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
                                                   int generation, ProgramCanvas canvas) {
    QPointer<GoLiveController> self(this);
    std::shared_ptr<LiveOutput> output =
        services_.openOutput(settings, [self, generation, canvas](const platform::LiveStreamStatus& status) {
            platform::postToMain([self, generation, canvas, status] {
                if (self) self->applyStatus(generation, canvas, status);
            });
        });
    return output;
}

namespace {

// "Server 2" or "Servers 1, 3": the servers of one picture's stream, as the section numbers them.
QString serverNames(const std::vector<std::size_t>& servers) {
    QStringList numbers;
    for (const std::size_t i : servers) numbers << QString::number(i + 1);
    return (servers.size() == 1 ? QStringLiteral("Server ") : QStringLiteral("Servers ")) +
           numbers.join(QStringLiteral(", "));
}

// The preview's picture: the vertical frame a few times a second, small.
constexpr auto kPreviewInterval = std::chrono::milliseconds(250);
constexpr int kPreviewHeight = 320;

// The frame (B G R A) shrunk by a whole factor to about kPreviewHeight rows, each pixel the mean
// of its block. Done here rather than by QImage's smooth scaling, which hands large pictures to
// a thread pool: the feed thread keeps the work to itself.
QImage previewOf(const std::uint8_t* pixels, int width, int height, std::ptrdiff_t stride) {
    const int f = std::max(1, height / kPreviewHeight);
    const int w = width / f;
    const int h = height / f;
    QImage out(w, h, QImage::Format_ARGB32_Premultiplied);
    if (out.isNull()) return out;
    const unsigned area = unsigned(f * f);
    for (int y = 0; y < h; ++y) {
        std::uint8_t* line = out.scanLine(y);
        for (int x = 0; x < w; ++x) {
            unsigned sum[4] = {0, 0, 0, 0};
            for (int dy = 0; dy < f; ++dy) {
                const std::uint8_t* p =
                    pixels + std::ptrdiff_t(y * f + dy) * stride + std::ptrdiff_t(x * f) * 4;
                for (int dx = 0; dx < f; ++dx, p += 4)
                    for (int c = 0; c < 4; ++c) sum[c] += p[c];
            }
            for (int c = 0; c < 4; ++c) line[x * 4 + c] = std::uint8_t(sum[c] / area);
        }
    }
    return out;
}

}  // namespace

void GoLiveController::goLive() {
    if (isLive()) return;
    std::array<platform::LiveStreamSettings, kCanvases> s;
    std::array<std::vector<std::size_t>, kCanvases> chosen;
    std::size_t servers = 0;
    for (std::size_t i = 0; i < settings_.destinations.size(); ++i) {
        const feed::GoLiveDestination& d = settings_.destinations[i];
        if (!d.enabled || d.url.empty()) continue;
        const std::size_t c = slot(d.canvas);
        if (chosen[c].empty()) {
            s[c].url = d.url;
            s[c].streamKey = keys_[i].toStdString();
        } else {
            s[c].moreDestinations.push_back({d.url, keys_[i].toStdString()});
        }
        chosen[c].push_back(i);
        ++servers;
    }
    if (servers == 0) {
        setState(QStringLiteral("failed"), QStringLiteral("Enter the server URL"));
        return;
    }
    for (std::size_t i = 0; i < settings_.destinations.size(); ++i) {
        const std::size_t c = slot(settings_.destinations[i].canvas);
        if (std::find(chosen[c].begin(), chosen[c].end(), i) == chosen[c].end()) continue;
        if (const std::string fault = platform::srtPassphraseFault(settings_.destinations[i].url);
            !fault.empty()) {
            const QString which = servers > 1 ? QStringLiteral("Server %1: ").arg(i + 1) : QString();
            setState(QStringLiteral("failed"), which + QString::fromStdString(fault));
            return;
        }
    }
    const std::size_t used = std::size_t(!chosen[0].empty()) + std::size_t(!chosen[1].empty());
    const int generation = ++generation_;
    for (const ProgramCanvas canvas : {ProgramCanvas::landscape, ProgramCanvas::vertical}) {
        const std::size_t c = slot(canvas);
        if (chosen[c].empty()) continue;
        try {
            feed::ProgramFeed& feed = ensureFeed(canvas);
            // The landscape stream and the virtual camera take the pictures of one feed: a feed
            // already running keeps its size.
            s[c].width = feed.width();
            s[c].height = feed.height();
            s[c].videoBitRate = settings_.bitRate;
            // Every server takes the studio's programme sound, the mix the AUDIO section sets.
            s[c].sound = services_.sound;
            streams_[c].output = open(s[c], generation, canvas);
        } catch (const std::exception& e) {
            // Both pictures go live or neither does.
            ++generation_;
            for (const ProgramCanvas other : {ProgramCanvas::landscape, ProgramCanvas::vertical})
                closeStream(other);
            releaseFeedsIfIdle();
            const QString which = used > 1 ? serverNames(chosen[c]) + QStringLiteral(": ") : QString();
            setState(QStringLiteral("failed"),
                     which + QString::fromStdString(platform::redactStreamSecrets(e.what(), secrets())));
            return;
        }
    }
    severalStreams_ = used > 1;
    failures_.clear();
    for (const ProgramCanvas canvas : {ProgramCanvas::landscape, ProgramCanvas::vertical}) {
        CanvasStream& stream = streams_[slot(canvas)];
        if (!stream.output) continue;
        stream.servers = chosen[slot(canvas)];
        stream.state = QStringLiteral("connecting");
        stream.line = QStringLiteral("Connecting…");
        std::weak_ptr<LiveOutput> weak = stream.output;
        feed::ProgramFeed::Output output = [weak](const std::uint8_t* pixels, std::ptrdiff_t stride) {
            if (auto out = weak.lock()) out->offerBGRA(pixels, stride);
        };
        if (canvas == ProgramCanvas::vertical) {
            // The window's preview takes a small copy now and then, posted to the main thread.
            const int width = s[slot(canvas)].width;
            const int height = s[slot(canvas)].height;
            auto last = std::make_shared<std::chrono::steady_clock::time_point>();
            QPointer<GoLiveController> self(this);
            output = [send = std::move(output), width, height, last, self, generation](
                         const std::uint8_t* pixels, std::ptrdiff_t stride) {
                send(pixels, stride);
                const auto now = std::chrono::steady_clock::now();
                if (now - *last < kPreviewInterval) return;
                *last = now;
                QImage small = previewOf(pixels, width, height, stride);
                platform::postToMain([self, generation, small = std::move(small)] {
                    if (self) self->showVerticalPreview(generation, small);
                });
            };
        }
        feeds_[slot(canvas)]->setOutput(feed::ProgramFeed::Slot::stream, std::move(output));
    }
    for (std::size_t i = 0; i < destinationStates_.size(); ++i) {
        const std::vector<std::size_t>& mine = chosen[slot(settings_.destinations[i].canvas)];
        const bool inUse = std::find(mine.begin(), mine.end(), i) != mine.end();
        setDestinationState(i, inUse ? QStringLiteral("connecting") : QStringLiteral("idle"),
                            inUse ? QStringLiteral("Connecting…") : QString());
    }
    setState(QStringLiteral("connecting"), QStringLiteral("Connecting…"));
    if (verticalLive()) emit verticalPreviewChanged();
}

void GoLiveController::closeStream(ProgramCanvas canvas) {
    CanvasStream& stream = streams_[slot(canvas)];
    if (!stream.output) return;
    if (feed::ProgramFeed* feed = feeds_[slot(canvas)].get())
        feed->setOutput(feed::ProgramFeed::Slot::stream, {});
    closeLater(std::move(stream.output));
    stream = CanvasStream{};
    if (canvas == ProgramCanvas::vertical) {
        verticalPreview_ = QImage();
        emit verticalPreviewChanged();
    }
}

void GoLiveController::showVerticalPreview(int generation, const QImage& picture) {
    if (generation != generation_ || !verticalLive()) return;
    verticalPreview_ = picture;
    emit verticalPreviewChanged();
}

void GoLiveController::endStream() {
    if (!isLive()) return;
    ++generation_;  // reports of the ending streams are dropped
    for (const ProgramCanvas canvas : {ProgramCanvas::landscape, ProgramCanvas::vertical})
        closeStream(canvas);
    severalStreams_ = false;
    failures_.clear();
    releaseFeedsIfIdle();
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

void GoLiveController::applyStatus(int generation, ProgramCanvas canvas,
                                   const platform::LiveStreamStatus& status) {
    CanvasStream& stream = streams_[slot(canvas)];
    if (generation != generation_ || !stream.output) return;
    using platform::LiveStreamState;
    const std::vector<std::string> hidden = secrets();
    const auto redacted = [&](const std::string& text) {
        return QString::fromStdString(platform::redactStreamSecrets(text, hidden));
    };
    for (std::size_t k = 0; k < status.destinations.size() && k < stream.servers.size(); ++k) {
        const platform::LiveStreamDestinationStatus& d = status.destinations[k];
        const auto [state, line] = describe(d.state, status.elapsedSeconds, d.measuredBitRate,
                                            d.secondsWithoutDelivery, d.retryInSeconds, redacted(d.message));
        setDestinationState(stream.servers[k], state, line);
    }
    if (status.state != LiveStreamState::ended && status.state != LiveStreamState::failed) {
        std::tie(stream.state, stream.line) =
            describe(status.state, status.elapsedSeconds, status.measuredBitRate,
                     status.secondsWithoutDelivery, status.retryInSeconds, QString());
        stream.elapsed = status.elapsedSeconds;
        stream.rate = status.measuredBitRate;
        updateOverallState();
        return;
    }
    const bool failed = status.state == LiveStreamState::failed;
    const std::vector<std::size_t> servers = stream.servers;
    auto [state, line] = describe(status.state, 0, 0, 0, 0, failed ? redacted(status.message) : QString());
    closeStream(canvas);
    releaseFeedsIfIdle();
    if (failed && severalStreams_) {
        // Said on the section's line for the rest of the run, and on each of its servers' own.
        failures_ << serverNames(servers) + QStringLiteral(": ") + line;
        for (const std::size_t i : servers)
            if (destinationStates_[i].state != QLatin1String("failed")) setDestinationState(i, state, line);
    }
    if (isLive()) {  // the other picture goes on
        if (!failed)
            for (const std::size_t i : servers) setDestinationState(i, QStringLiteral("idle"), QString());
        updateOverallState();
        return;
    }
    ++generation_;
    if (!failures_.isEmpty()) {
        state = QStringLiteral("failed");
        line = failures_.join(QStringLiteral(" · "));
    }
    severalStreams_ = false;
    failures_.clear();
    setState(state, line);
}

void GoLiveController::updateOverallState() {
    std::vector<const CanvasStream*> running;
    for (const CanvasStream& s : streams_)
        if (s.output) running.push_back(&s);
    if (running.empty()) return;
    QString state;
    QString line;
    if (running.size() == 1) {
        state = running[0]->state;
        line = running[0]->line;
    } else if (std::all_of(running.begin(), running.end(),
                           [](const CanvasStream* s) { return s->state == QLatin1String("live"); })) {
        // Both pictures live: the run's time and what the servers take in all.
        double elapsed = 0, rate = 0;
        for (const CanvasStream* s : running) {
            elapsed = std::max(elapsed, s->elapsed);
            rate += s->rate;
        }
        state = QStringLiteral("live");
        line = QStringLiteral("LIVE ") + clockText(elapsed) + QStringLiteral(" · ") + mbit(rate);
    } else {
        // The stream furthest from live speaks for the run, naming its servers when the
        // other's line differs.
        const auto rank = [](const QString& s) {
            return s == QLatin1String("stalled")        ? 3
                   : s == QLatin1String("reconnecting") ? 2
                   : s == QLatin1String("connecting")   ? 1
                                                        : 0;
        };
        const CanvasStream* worst = *std::max_element(
            running.begin(), running.end(),
            [&](const CanvasStream* a, const CanvasStream* b) { return rank(a->state) < rank(b->state); });
        state = worst->state;
        const bool sameLines = std::all_of(running.begin(), running.end(),
                                           [&](const CanvasStream* s) { return s->line == worst->line; });
        line = sameLines ? worst->line : serverNames(worst->servers) + QStringLiteral(": ") + worst->line;
    }
    for (const QString& failure : failures_) line += QStringLiteral(" · ") + failure;
    setState(state, line);
}

void GoLiveController::setVirtualCameraOn(bool on) {
    if (on == virtualCameraOn()) return;
    if (!on) {
        if (feed::ProgramFeed* feed = feeds_[slot(ProgramCanvas::landscape)].get())
            feed->setOutput(feed::ProgramFeed::Slot::virtualCamera, {});
        closeLater(std::move(camera_));
        camera_.reset();
        releaseFeedsIfIdle();
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
    s.captureMicrophone = false;
    feed::ProgramFeed* feed = nullptr;
    try {
        // The landscape stream and the camera take the pictures of one feed: a feed already
        // running keeps its size.
        feed = &ensureFeed(ProgramCanvas::landscape);
        s.width = feed->width();
        s.height = feed->height();
        // A device reports nothing the window shows; its reports are ignored.
        camera_ = services_.openOutput(s, [](const platform::LiveStreamStatus&) {});
    } catch (const std::exception& e) {
        releaseFeedsIfIdle();
        setState(state_, QString::fromStdString(e.what()));
        emit virtualCameraChanged();
        return;
    }
    std::weak_ptr<LiveOutput> weak = camera_;
    feed->setOutput(feed::ProgramFeed::Slot::virtualCamera,
                    [weak](const std::uint8_t* pixels, std::ptrdiff_t stride) {
                        if (auto out = weak.lock()) out->offerBGRA(pixels, stride);
                    });
    emit virtualCameraChanged();
}

feed::ProgramFeed& GoLiveController::ensureFeed(ProgramCanvas canvas) {
    std::unique_ptr<feed::ProgramFeed>& feed = feeds_[slot(canvas)];
    if (feed) return *feed;
    const CanvasSize size = programCanvasSize(canvas, settings_.width, settings_.height);
    feed = std::make_unique<feed::ProgramFeed>(
        size.width, size.height, 30,
        [render = services_.render, canvas](int width, int height) -> SharedFrame {
            if (!render) return {};
            return render(width, height, canvas);
        },
        canvas);
    feed->setPresenter(currentPresenter());
    feed->start();
    return *feed;
}

void GoLiveController::releaseFeedsIfIdle() {
    for (const ProgramCanvas canvas : {ProgramCanvas::landscape, ProgramCanvas::vertical}) {
        std::unique_ptr<feed::ProgramFeed>& feed = feeds_[slot(canvas)];
        const bool used =
            streams_[slot(canvas)].output || (canvas == ProgramCanvas::landscape && camera_ != nullptr);
        if (!feed || used) continue;
        feed->stop();
        feed.reset();
    }
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
    for (auto& feed : feeds_)
        if (feed) feed->setPresenter(currentPresenter());
}

}  // namespace vantry::app
