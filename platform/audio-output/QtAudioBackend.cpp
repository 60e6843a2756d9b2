#include "platform/audio-output/QtAudioBackend.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QAudioSource>
#include <QCoreApplication>
#include <QMediaDevices>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace vantry::platform {

namespace {

QAudioFormat deviceFormatFor(const QAudioDevice& device, const PcmFormat& pcm) {
    QAudioFormat wanted;
    wanted.setSampleRate(static_cast<int>(std::lround(pcm.sampleRate)));
    wanted.setChannelCount(pcm.channelCount);
    wanted.setSampleFormat(QAudioFormat::Float);
    return device.isFormatSupported(wanted) ? wanted : device.preferredFormat();
}

class QtAudioPlayerNode final : public AudioPlayerNode {
  public:
    ~QtAudioPlayerNode() override { stop(); }

    void setOutput(const QAudioDevice& device, const PcmFormat& format) {
        device_ = device;
        connected_ = format;
        if (!device_.isNull()) queueFormat_ = deviceFormatFor(device_, format);
    }

    void stop() override {
        if (sink_) sink_->stop();
        if (source_) source_->close();
        if (queue_) queue_->clear();
        scheduled_.reset();
    }
    void scheduleLooping(std::shared_ptr<const PcmBuffer> buffer) override { scheduled_ = std::move(buffer); }
    void scheduleBuffer(std::shared_ptr<const PcmBuffer> buffer) override {
        if (!buffer || buffer->frameLength == 0 || buffer->format != connected_ || device_.isNull()) return;
        QByteArray bytes = convertPcmForDevice(*buffer, queueFormat_);
        if (bytes.isEmpty()) return;
        queueSource().enqueue(std::move(bytes));
    }
    void setVolume(float volume) override {
        volume_ = volume;
        if (sink_) sink_->setVolume(volume_);
    }
    void play() override {
        if (device_.isNull()) return;  // nowhere to play
        if (!scheduled_) {
            // Queue mode: the sink pulls queued buffers, silence in between.
            if (!sink_ || sink_->format() != queueFormat_)
                sink_ = std::make_unique<QAudioSink>(device_, queueFormat_);
            // About 40 ms of device buffering keeps voice close to real time.
            sink_->setBufferSize(queueFormat_.bytesForDuration(40000));
            sink_->setVolume(volume_);
            auto& queue = queueSource();
            if (!queue.isOpen()) queue.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
            sink_->start(&queue);
            return;
        }
        const QAudioFormat format = deviceFormatFor(device_, scheduled_->format);
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
    QueuedByteSource& queueSource() {
        if (!queue_) {
            // At most one second of audio waits; beyond that the oldest goes.
            const int frameBytes = std::max(1, queueFormat_.bytesPerFrame());
            queue_ = std::make_unique<QueuedByteSource>(queueFormat_.bytesForDuration(1000000), frameBytes);
        }
        return *queue_;
    }

    QAudioDevice device_;
    PcmFormat connected_;
    QAudioFormat queueFormat_;
    std::shared_ptr<const PcmBuffer> scheduled_;
    std::unique_ptr<QAudioSink> sink_;
    std::unique_ptr<LoopingByteSource> source_;
    std::unique_ptr<QueuedByteSource> queue_;
    float volume_ = 1.0f;
};

// The default input, read on its own thread so that captured blocks reach the tap off the main thread.
class QtInputCapture {
  public:
    ~QtInputCapture() { stop(); }

    void start(const QAudioDevice& device, const QAudioFormat& format, std::uint32_t blockFrames,
               InputTapBlock block) {
        stop();
        thread_ = std::make_unique<QThread>();
        thread_->setObjectName(QStringLiteral("audio-capture"));
        thread_->start(QThread::TimeCriticalPriority);
        context_ = std::make_unique<QObject>();
        context_->moveToThread(thread_.get());
        QMetaObject::invokeMethod(
            context_.get(),
            [this, device, format, blockFrames, block = std::move(block)]() mutable {
                writer_ = std::make_unique<TapWriter>(format, blockFrames, std::move(block));
                writer_->open(QIODevice::WriteOnly);
                source_ = std::make_unique<QAudioSource>(device, format);
                source_->setBufferSize(format.bytesForFrames(static_cast<qint32>(blockFrames)));
                source_->start(writer_.get());  // a device that cannot open simply delivers nothing
            },
            Qt::BlockingQueuedConnection);
    }

    void stop() {
        if (!thread_) return;
        QMetaObject::invokeMethod(
            context_.get(),
            [this] {
                if (source_) source_->stop();
                source_.reset();
                writer_.reset();
            },
            Qt::BlockingQueuedConnection);
        thread_->quit();
        thread_->wait();
        context_.reset();
        thread_.reset();
    }

  private:
    std::unique_ptr<QThread> thread_;
    std::unique_ptr<QObject> context_;
    std::unique_ptr<TapWriter> writer_;     // lives on the capture thread
    std::unique_ptr<QAudioSource> source_;  // lives on the capture thread
};

class QtAudioEngine final : public AudioEngine {
  public:
    QtAudioEngine() {
        // Device discovery needs an application object; without one there is no output or input.
        if (QCoreApplication::instance()) {
            device_ = QMediaDevices::defaultAudioOutput();
            input_ = QMediaDevices::defaultAudioInput();
        }
    }
    ~QtAudioEngine() override { capture_.stop(); }

    void attach(const std::shared_ptr<AudioPlayerNode>& node) override { attached_.push_back(node); }
    void connectToMainMixer(const std::shared_ptr<AudioPlayerNode>& node, const PcmFormat& format) override {
        if (auto* qtNode = dynamic_cast<QtAudioPlayerNode*>(node.get())) qtNode->setOutput(device_, format);
    }
    void start() override {
        if (device_.isNull()) throw AudioError("No audio output device is available.");
        if (tap_ && !input_.isNull()) capture_.start(input_, inputDeviceFormat(), tapFrames_, tap_);
    }
    void stop() override { capture_.stop(); }

    std::optional<PcmFormat> inputFormat() override {
        if (input_.isNull()) return std::nullopt;
        const QAudioFormat f = inputDeviceFormat();
        return makeStandardPcmFormat(f.sampleRate(), f.channelCount());
    }
    void installInputTap(std::uint32_t bufferSize, const PcmFormat&, InputTapBlock block) override {
        tap_ = std::move(block);
        tapFrames_ = std::max<std::uint32_t>(bufferSize, 1);
    }
    void removeInputTap() override {
        capture_.stop();
        tap_ = nullptr;
    }

  private:
    // Float at the device's preferred rate and channel count where the device takes it; otherwise its
    // preferred format, converted to float on the way in.
    QAudioFormat inputDeviceFormat() const {
        QAudioFormat f = input_.preferredFormat();
        QAudioFormat wanted = f;
        wanted.setSampleFormat(QAudioFormat::Float);
        return input_.isFormatSupported(wanted) ? wanted : f;
    }

    QAudioDevice device_;
    QAudioDevice input_;
    std::vector<std::shared_ptr<AudioPlayerNode>> attached_;
    InputTapBlock tap_;
    std::uint32_t tapFrames_ = 1024;
    QtInputCapture capture_;
};

float readSample(const char* in, QAudioFormat::SampleFormat format) {
    switch (format) {
        case QAudioFormat::Float: {
            float v;
            std::memcpy(&v, in, sizeof v);
            return v;
        }
        case QAudioFormat::Int16: {
            qint16 v;
            std::memcpy(&v, in, sizeof v);
            return static_cast<float>(v) / 32768.0f;
        }
        case QAudioFormat::Int32: {
            qint32 v;
            std::memcpy(&v, in, sizeof v);
            return static_cast<float>(static_cast<double>(v) / 2147483648.0);
        }
        case QAudioFormat::UInt8:
            return (static_cast<float>(*reinterpret_cast<const quint8*>(in)) - 128.0f) / 128.0f;
        default:
            return 0.0f;
    }
}

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

QueuedByteSource::QueuedByteSource(qint64 maxBytes, int bytesPerFrame, QObject* parent)
    : QIODevice(parent),
      maxBytes_(std::max<qint64>(maxBytes, bytesPerFrame)),
      bytesPerFrame_(bytesPerFrame) {}

qint64 QueuedByteSource::bytesAvailable() const {
    // Silence fills the gaps, so there is always something to read.
    return std::max<qint64>(queuedBytes(), 4096) + QIODevice::bytesAvailable();
}

qint64 QueuedByteSource::queuedBytes() const {
    std::lock_guard<std::mutex> guard(lock_);
    return queued_;
}

void QueuedByteSource::enqueue(QByteArray bytes) {
    if (bytes.isEmpty()) return;
    std::lock_guard<std::mutex> guard(lock_);
    queued_ += bytes.size();
    blocks_.push_back(std::move(bytes));
    while (queued_ > maxBytes_ && !blocks_.empty()) {
        queued_ -= blocks_.front().size() - headOffset_;
        headOffset_ = 0;
        blocks_.pop_front();
    }
}

void QueuedByteSource::clear() {
    std::lock_guard<std::mutex> guard(lock_);
    blocks_.clear();
    headOffset_ = 0;
    queued_ = 0;
}

qint64 QueuedByteSource::readData(char* data, qint64 maxSize) {
    // Whole frames only, so channels never swap after a partial read.
    maxSize -= maxSize % bytesPerFrame_;
    qint64 written = 0;
    {
        std::lock_guard<std::mutex> guard(lock_);
        while (written < maxSize && !blocks_.empty()) {
            const QByteArray& head = blocks_.front();
            const qint64 chunk = std::min(maxSize - written, head.size() - headOffset_);
            std::memcpy(data + written, head.constData() + headOffset_, static_cast<std::size_t>(chunk));
            written += chunk;
            headOffset_ += chunk;
            queued_ -= chunk;
            if (headOffset_ == head.size()) {
                blocks_.pop_front();
                headOffset_ = 0;
            }
        }
    }
    if (written < maxSize) std::memset(data + written, 0, static_cast<std::size_t>(maxSize - written));
    return maxSize;
}

TapWriter::TapWriter(const QAudioFormat& format, std::uint32_t blockFrames, InputTapBlock block,
                     QObject* parent)
    : QIODevice(parent),
      channels_(std::max(1, format.channelCount())),
      bytesPerSample_(std::max(1, format.bytesPerSample())),
      sampleFormat_(static_cast<int>(format.sampleFormat())),
      sampleRate_(format.sampleRate()),
      blockFrames_(std::max<std::uint32_t>(blockFrames, 1)),
      storage_(static_cast<std::size_t>(channels_), std::vector<float>(blockFrames_)),
      partial_(static_cast<std::size_t>(channels_ * bytesPerSample_)),
      block_(std::move(block)) {
    for (const auto& ch : storage_) pointers_.push_back(ch.data());
}

qint64 TapWriter::writeData(const char* data, qint64 size) {
    const int frameBytes = channels_ * bytesPerSample_;
    const auto format = static_cast<QAudioFormat::SampleFormat>(sampleFormat_);
    auto takeFrame = [&](const char* frame) {
        for (int c = 0; c < channels_; ++c)
            storage_[static_cast<std::size_t>(c)][filled_] = readSample(frame + c * bytesPerSample_, format);
        if (++filled_ == blockFrames_) {
            if (block_) block_(CapturedAudio{pointers_.data(), channels_, filled_, sampleRate_});
            filled_ = 0;
        }
    };
    qint64 pos = 0;
    if (partialBytes_ > 0) {  // finish the frame a previous write left open
        const qint64 need = std::min<qint64>(frameBytes - partialBytes_, size);
        std::memcpy(partial_.data() + partialBytes_, data, static_cast<std::size_t>(need));
        partialBytes_ += static_cast<int>(need);
        pos = need;
        if (partialBytes_ < frameBytes) return size;
        takeFrame(partial_.data());
        partialBytes_ = 0;
    }
    for (; pos + frameBytes <= size; pos += frameBytes) takeFrame(data + pos);
    if (pos < size) {
        partialBytes_ = static_cast<int>(size - pos);
        std::memcpy(partial_.data(), data + pos, static_cast<std::size_t>(partialBytes_));
    }
    return size;
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
