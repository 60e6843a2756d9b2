#include "platform/audio-output/QtAudioGraph.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QCoreApplication>
#include <QMediaDevices>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace vantry::platform {

namespace {

class QtAudioPlayerNode final : public AudioPlayerNode {
  public:
    ~QtAudioPlayerNode() override { stop(); }

    void setOutput(const QAudioDevice& device) { device_ = device; }

    void stop() override {
        if (sink_) sink_->stop();
        if (source_) source_->close();
        scheduled_.reset();
    }
    void scheduleLooping(std::shared_ptr<const PcmBuffer> buffer) override { scheduled_ = std::move(buffer); }
    void setVolume(float volume) override {
        volume_ = volume;
        if (sink_) sink_->setVolume(volume_);
    }
    void play() override {
        if (!scheduled_ || device_.isNull()) return;  // nothing to play, or nowhere to play it
        QAudioFormat wanted;
        wanted.setSampleRate(static_cast<int>(std::lround(scheduled_->format.sampleRate)));
        wanted.setChannelCount(scheduled_->format.channelCount);
        wanted.setSampleFormat(QAudioFormat::Float);
        const QAudioFormat format = device_.isFormatSupported(wanted) ? wanted : device_.preferredFormat();
        QByteArray bytes = convertPcmForDevice(*scheduled_, format);
        if (bytes.isEmpty()) return;
        if (!sink_ || sink_->format() != format) sink_ = std::make_unique<QAudioSink>(device_, format);
        auto source = std::make_unique<LoopingByteSource>(std::move(bytes));
        source->open(QIODevice::ReadOnly);
        sink_->setVolume(volume_);
        sink_->start(source.get());  // a sink that cannot open reports through its state, which nobody reads
        source_ = std::move(source);
    }

  private:
    QAudioDevice device_;
    std::shared_ptr<const PcmBuffer> scheduled_;
    std::unique_ptr<QAudioSink> sink_;
    std::unique_ptr<LoopingByteSource> source_;
    float volume_ = 1.0f;
};

class QtAudioEngine final : public AudioEngine {
  public:
    QtAudioEngine() {
        // Device discovery needs an application object; without one there is no output.
        if (QCoreApplication::instance()) device_ = QMediaDevices::defaultAudioOutput();
    }
    void attach(const std::shared_ptr<AudioPlayerNode>& node) override { attached_.push_back(node); }
    void connectToMainMixer(const std::shared_ptr<AudioPlayerNode>& node, const PcmFormat&) override {
        if (auto* qtNode = dynamic_cast<QtAudioPlayerNode*>(node.get())) qtNode->setOutput(device_);
    }
    void start() override {
        if (device_.isNull()) throw AudioError("No audio output device is available.");
    }

  private:
    QAudioDevice device_;
    std::vector<std::shared_ptr<AudioPlayerNode>> attached_;
};

void writeSample(char* out, QAudioFormat::SampleFormat format, float v) {
    v = std::clamp(v, -1.0f, 1.0f);
    switch (format) {
        case QAudioFormat::Float:
            std::memcpy(out, &v, sizeof v);
            break;
        case QAudioFormat::Int16: {
            const auto s = static_cast<qint16>(std::lround(v * 32767.0f));
            std::memcpy(out, &s, sizeof s);
            break;
        }
        case QAudioFormat::Int32: {
            const auto s = static_cast<qint32>(std::llround(static_cast<double>(v) * 2147483647.0));
            std::memcpy(out, &s, sizeof s);
            break;
        }
        case QAudioFormat::UInt8:
            *reinterpret_cast<quint8*>(out) = static_cast<quint8>(std::lround(128.0f + v * 127.0f));
            break;
        default:
            break;
    }
}

}  // namespace

LoopingByteSource::LoopingByteSource(QByteArray bytes, QObject* parent)
    : QIODevice(parent), bytes_(std::move(bytes)) {}

qint64 LoopingByteSource::bytesAvailable() const {
    return bytes_.isEmpty() ? QIODevice::bytesAvailable() : bytes_.size() + QIODevice::bytesAvailable();
}

qint64 LoopingByteSource::readData(char* data, qint64 maxSize) {
    if (bytes_.isEmpty()) return 0;
    qint64 written = 0;
    while (written < maxSize) {
        const qint64 chunk = std::min(maxSize - written, static_cast<qint64>(bytes_.size()) - pos_);
        std::memcpy(data + written, bytes_.constData() + pos_, static_cast<std::size_t>(chunk));
        written += chunk;
        pos_ = (pos_ + chunk) % bytes_.size();
    }
    return written;
}

QByteArray convertPcmForDevice(const PcmBuffer& buffer, const QAudioFormat& deviceFormat) {
    const int outChannels = deviceFormat.channelCount();
    const int outRate = deviceFormat.sampleRate();
    const int bytesPerSample = deviceFormat.bytesPerSample();
    const auto sampleFormat = deviceFormat.sampleFormat();
    const int inChannels = static_cast<int>(buffer.channels.size());
    const std::uint32_t inFrames = buffer.frameLength;
    if (outChannels < 1 || outRate < 1 || bytesPerSample < 1 || sampleFormat == QAudioFormat::Unknown ||
        inChannels < 1 || inFrames == 0 || !(buffer.format.sampleRate > 0))
        return {};

    const double ratio = buffer.format.sampleRate / outRate;  // input frames per output frame
    const auto outFrames =
        static_cast<qint64>(std::llround(static_cast<double>(inFrames) * outRate / buffer.format.sampleRate));
    if (outFrames < 1 || outFrames * outChannels * bytesPerSample > (qint64(1) << 31)) return {};

    QByteArray out(static_cast<qsizetype>(outFrames * outChannels * bytesPerSample), Qt::Uninitialized);
    char* p = out.data();
    auto sampleAt = [&](int channel, double pos) {
        // Linear interpolation; the loop wraps, so the last frame blends into the first.
        const auto i0 = static_cast<std::uint32_t>(pos);
        const double frac = pos - i0;
        const auto& ch = buffer.channels[static_cast<std::size_t>(channel)];
        const float a = ch[i0 % inFrames];
        const float b = ch[(i0 + 1) % inFrames];
        return static_cast<float>(a + (b - a) * frac);
    };
    for (qint64 f = 0; f < outFrames; ++f) {
        const double pos = std::min(static_cast<double>(f) * ratio, static_cast<double>(inFrames) - 1e-9);
        for (int c = 0; c < outChannels; ++c) {
            float v;
            if (outChannels == 1 && inChannels > 1) {
                v = 0;
                for (int k = 0; k < inChannels; ++k) v += sampleAt(k, pos);
                v /= static_cast<float>(inChannels);
            } else {
                v = sampleAt(std::min(c, inChannels - 1), pos);
            }
            writeSample(p, sampleFormat, v);
            p += bytesPerSample;
        }
    }
    return out;
}

std::optional<PcmFormat> QtAudioBackend::standardFormat(double sampleRate, int channelCount) {
    return makeStandardPcmFormat(sampleRate, channelCount);
}

std::shared_ptr<PcmBuffer> QtAudioBackend::makeBuffer(const PcmFormat& format, std::uint64_t frameCapacity) {
    return makePcmBuffer(format, frameCapacity);
}

std::shared_ptr<AudioEngine> QtAudioBackend::makeEngine() {
    return std::make_shared<QtAudioEngine>();
}

std::shared_ptr<AudioPlayerNode> QtAudioBackend::makePlayerNode() {
    return std::make_shared<QtAudioPlayerNode>();
}

}  // namespace vantry::platform
